#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace melvanto {

enum class TOperation { opInsert, opRemove };

// The base of all components: a name, a user tag, and notification when a linked
// component is destroyed. Used on the user-interface thread only.
class TComponent {
 public:
  TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  virtual ~TComponent();

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t tag) { tag_ = tag; }

  // Links the two components both ways: each is told when the other is destroyed.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

 protected:
  virtual void Notification(TComponent* /*component*/, TOperation /*operation*/) {}
  // Tells the linked components now that this one goes away. A component whose linked
  // components still use it (an input under a running output) calls this first in its
  // destructor, while it is still whole; the base destructor only catches the rest.
  void NotifyDestruction();

 private:
  std::string name_;
  std::intptr_t tag_ = 0;
  std::vector<TComponent*> linked_;
};

}  // namespace melvanto
