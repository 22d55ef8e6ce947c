#include "real_time_pacer.h"

namespace melvanto {

bool TSteadyPaceClock::SleepUntil(TTime Deadline) {
  std::unique_lock lock(Lock);
  Woken.wait_until(lock, Deadline, [&] { return Awake; });
  return !Awake;
}

void TSteadyPaceClock::Wake() {
  {
    std::lock_guard lock(Lock);
    Awake = true;
  }
  Woken.notify_all();
}

TRealTimePacer::TRealTimePacer(TPaceClock& clock, std::uint32_t BytesPerSecond, std::chrono::milliseconds MaxLag)
    : Clock(clock), BytesPerSecond_(BytesPerSecond), MaxLag_(MaxLag) {}

TPaceClock::TTime TRealTimePacer::DueTime(std::uint64_t Position) const {
  // Nanoseconds from the base, worked out without overflow for any length of stream.
  const std::uint64_t bytes = Position - Base;
  const std::uint64_t whole = bytes / BytesPerSecond_, rest = bytes % BytesPerSecond_;
  return Origin + std::chrono::seconds(whole) + std::chrono::nanoseconds(rest * 1'000'000'000ull / BytesPerSecond_);
}

bool TRealTimePacer::Admit(std::uint32_t Bytes) {
  if (Cancelled) return false;
  const TPaceClock::TTime now = Clock.Now();
  if (!Started || BytesPerSecond_ == 0) {
    Started = true;
    Origin = now;
    Base = Sent_;
  } else if (const TPaceClock::TTime due = DueTime(Sent_); now > due + MaxLag_) {
    Origin = now;
    Base = Sent_;
  } else if (now < due && !Clock.SleepUntil(due)) {
    return false;
  }
  Sent_ += Bytes;
  return true;
}

}  // namespace melvanto
