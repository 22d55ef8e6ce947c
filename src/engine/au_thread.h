#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace melvanto {

class TAuOutput;

// The worker of one output: sleeps between runs and performs Prepare, the block loop and
// FinishRun for each Run. Its wake-up is kept until taken, so a Run that comes while the
// worker is still on its way to sleep is never lost.
class TAuThread {
 public:
  explicit TAuThread(TAuOutput* parent);
  TAuThread(const TAuThread&) = delete;
  TAuThread& operator=(const TAuThread&) = delete;
  // Ends the thread and waits for it; the output has stopped its run before.
  ~TAuThread();

  // Whether OnDone is to be called for the run now ending.
  std::atomic<bool> NotifyDone{true};
  // Set after the done event of a run has been posted.
  std::atomic<bool> DonePosted{false};
  // Ends the block loop.
  std::atomic<bool> StopRequest{false};
  // Milliseconds slept before each block when above 5.
  std::atomic<std::uint32_t> Delay{0};
  TAuOutput* const Parent;

  bool Sleeping() const { return Sleeping_.load(); }
  // Asleep with no wake-up pending: nothing of a run is left to do.
  bool Idle();
  // Starts the next run (clears StopRequest first).
  void Wake();
  // How many times the worker has gone to sleep so far.
  std::uint64_t SleepCount();
  // Waits until the worker has gone to sleep more than count times, or has ended.
  void WaitForSleepAfter(std::uint64_t count);

 private:
  void Execute();
  // Returns false when the thread is to end.
  bool WaitForWake();
  void PerformRun();

  std::mutex mutex_;
  std::condition_variable wakeCv_;   // the wake event
  std::condition_variable sleepCv_;  // tells waiters the worker went to sleep or ended
  bool wakePending_ = false;
  bool terminated_ = false;
  bool exited_ = false;
  std::uint64_t sleeps_ = 0;
  std::atomic<bool> Sleeping_{false};
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace melvanto
