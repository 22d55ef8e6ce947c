#include "step_loop.h"

#include <utility>

#include "main_thread.h"

namespace melvanto {

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
    // Sleeps until an event is handed over (it may post a call or end the loop) or whoever
    // changes what done() reads wakes the main thread's waiters.
    PumpMainThreadUntil([&] { return !Posted_.empty() || done(); });
  }
}

}  // namespace melvanto
