#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace melvanto {

// An event that stays signalled until one waiter takes it; a Set with nobody waiting is kept.
class AutoResetEvent {
 public:
  void Set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_one();
  }

  void Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return signalled_; });
    signalled_ = false;
  }

  // Returns whether the event was taken within the timeout.
  bool WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return signalled_; })) return false;
    signalled_ = false;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace melvanto
