#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace melvanto {

// The time a pacer reads and sleeps on; tests put a clock of their own in.
class TPaceClock {
 public:
  using TTime = std::chrono::steady_clock::time_point;
  virtual ~TPaceClock() = default;
  virtual TTime Now() = 0;
  // Returns at Deadline, or earlier once Wake was called (then and ever after: false).
  virtual bool SleepUntil(TTime Deadline) = 0;
  virtual void Wake() = 0;
};

// The steady clock, with a sleep that Wake cuts short from another thread.
class TSteadyPaceClock final : public TPaceClock {
 public:
  TTime Now() override { return std::chrono::steady_clock::now(); }
  bool SleepUntil(TTime Deadline) override;
  void Wake() override;

 private:
  std::mutex Lock;
  std::condition_variable Woken;
  bool Awake = false;
};

// Holds a stream of bytes back to a rate: the block that starts at byte N of the stream goes
// out no earlier than N / BytesPerSecond after the first. A stream that fell behind (a busy
// machine, a slow decoder) by more than MaxLag goes on at the rate from where it is, instead
// of rushing to catch up: listeners would get more than real time all at once.
class TRealTimePacer {
 public:
  TRealTimePacer(TPaceClock& clock, std::uint32_t BytesPerSecond,
                 std::chrono::milliseconds MaxLag = std::chrono::milliseconds(500));

  // Waits until the next Bytes are due and counts them as sent. A rate of 0 sends at once.
  // False once cancelled (at once, without waiting).
  bool Admit(std::uint32_t Bytes);
  // From any thread: a waiting Admit returns, and every later one too.
  void Cancel() {
    Cancelled = true;
    Clock.Wake();
  }

  // Bytes admitted so far.
  std::uint64_t Sent() const { return Sent_; }

 private:
  TPaceClock::TTime DueTime(std::uint64_t Position) const;

  TPaceClock& Clock;
  const std::uint32_t BytesPerSecond_;
  const std::chrono::milliseconds MaxLag_;
  bool Started = false;
  std::atomic<bool> Cancelled{false};
  // The time the stream's byte Base is due; Base moves when the schedule starts again.
  TPaceClock::TTime Origin{};
  std::uint64_t Base = 0;
  std::uint64_t Sent_ = 0;
};

}  // namespace melvanto
