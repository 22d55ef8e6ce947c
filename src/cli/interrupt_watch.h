#pragma once

#include <atomic>
#include <thread>

#include "unique_fd.h"

namespace melvanto::cli {

// While alive, Ctrl-C (SIGINT), SIGTERM and SIGHUP do not end the process: they set
// Interrupted() and wake the main thread's waits, so the batch can be stopped in order. A
// second one ends the process as usual. One instance at a time.
class TInterruptWatch {
 public:
  TInterruptWatch();
  ~TInterruptWatch();
  TInterruptWatch(const TInterruptWatch&) = delete;
  TInterruptWatch& operator=(const TInterruptWatch&) = delete;

  bool Interrupted() const { return Interrupted_.load(); }
  // Becomes readable once interrupted, for a wait on the terminal to poll along with stdin.
  int NotifyFd() const { return NotifyRead_.Get(); }

 private:
  void Watch();

  // The handler may only write to a pipe; a thread turns that into a wake-up.
  UniqueFd ReadEnd_, WriteEnd_;
  UniqueFd NotifyRead_, NotifyWrite_;
  std::atomic<bool> Interrupted_{false};
  std::thread Thread_;
};

}  // namespace melvanto::cli
