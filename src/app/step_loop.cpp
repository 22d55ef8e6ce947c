#include "step_loop.h"

#include <utility>

#include "main_thread.h"

namespace melvanto {

namespace {
// How long an idle loop sleeps in the hand-over queue before it looks at done() again;
// a hand-over ends the wait at once, so this only bounds a done() that changes elsewhere.
constexpr std::chrono::milliseconds kIdleWait{50};
}  // namespace

void TStepLoop::Post(std::function<void()> call) {
  Posted_.push_back(std::move(call));
}

void TStepLoop::RunUntil(const std::function<bool()>& done) {
  while (!done()) {
    if (!Posted_.empty()) {
      // Taken off first: the call may post more, or run this loop's queue empty itself.
      std::function<void()> call = std::move(Posted_.front());
      Posted_.pop_front();
      call();
      // Events handed over meanwhile run between posted calls, as a window system does.
      CheckSynchronize();
      continue;
    }
    CheckSynchronize(kIdleWait);
  }
}

}  // namespace melvanto
