#include "component.h"

#include <algorithm>

namespace melvanto {

namespace {
void Unlink(std::vector<TComponent*>& list, TComponent* c) {
  list.erase(std::remove(list.begin(), list.end(), c), list.end());
}
}  // namespace

TComponent::~TComponent() { NotifyDestruction(); }

void TComponent::NotifyDestruction() {
  // Walk the live list: a notified component may unlink, or destroy, another linked one.
  while (!linked_.empty()) {
    TComponent* other = linked_.front();
    linked_.erase(linked_.begin());
    Unlink(other->linked_, this);
    other->Notification(this, TOperation::opRemove);
  }
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(linked_.begin(), linked_.end(), other) == linked_.end()) linked_.push_back(other);
  if (std::find(other->linked_.begin(), other->linked_.end(), this) == other->linked_.end())
    other->linked_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (other == nullptr) return;
  Unlink(linked_, other);
  Unlink(other->linked_, this);
}

}  // namespace melvanto
