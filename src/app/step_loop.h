#pragma once

#include <chrono>
#include <deque>
#include <functional>

namespace melvanto {

// A user-interface thread's loop for programs without a window system (the command line,
// tests): runs posted calls in order, and the engine's hand-over of events to this thread.
class TStepLoop {
 public:
  // Queues a call to run later on this loop (like a posted window message).
  void Post(std::function<void()> call);
  // Runs posted calls and handed-over events until done() holds. Whatever changes done()
  // from another thread calls WakeMainThreadWaiters afterwards.
  void RunUntil(const std::function<bool()>& done);

 private:
  std::deque<std::function<void()>> Posted_;
};

}  // namespace melvanto
