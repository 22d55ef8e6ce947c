// The pacer's schedule on a clock the test moves, and its cancel on the real one.

#include "real_time_pacer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace melvanto::testing {
namespace {

using namespace std::chrono_literals;

// Time stands still unless the test or a sleep moves it; a sleep ends at its deadline at once.
class TFakeClock : public TPaceClock {
 public:
  TTime Now() override { return now; }
  bool SleepUntil(TTime Deadline) override {
    sleeps.push_back(Deadline - start);
    if (Deadline > now) now = Deadline;
    return !woken;
  }
  void Wake() override { woken = true; }

  const TTime start = TTime() + 1000s;
  TTime now = start;
  bool woken = false;
  // Each sleep's deadline, from the start.
  std::vector<TTime::duration> sleeps;
};

TEST(RealTimePacer, BlocksGoOutAtTheRateFromTheFirst_WithoutDriftFromLateWakes) {
  TFakeClock clock;
  TRealTimePacer pacer(clock, 1000);
  EXPECT_TRUE(pacer.Admit(500));
  EXPECT_TRUE(clock.sleeps.empty()) << "the first block goes at once";
  EXPECT_TRUE(pacer.Admit(500));
  EXPECT_TRUE(pacer.Admit(250));
  // Decoding took a while (within the lag allowed): the block due at 1.25 s goes at 1.3 s
  // without a wait, and the next one is still due where the rate puts it.
  clock.now += 300ms;
  EXPECT_TRUE(pacer.Admit(250));
  EXPECT_TRUE(pacer.Admit(1000));
  EXPECT_EQ(clock.sleeps, (std::vector<TFakeClock::TTime::duration>{500ms, 1000ms, 1500ms}));
  EXPECT_EQ(pacer.Sent(), 2500u);
}

TEST(RealTimePacer, BehindByMoreThanTheLagItGoesOnFromNowInsteadOfRushing) {
  TFakeClock clock;
  TRealTimePacer pacer(clock, 1000, 500ms);
  EXPECT_TRUE(pacer.Admit(1000));
  // Late, but within the lag: this block goes at once, and the schedule stands.
  clock.now += 1400ms;
  EXPECT_TRUE(pacer.Admit(1000));
  EXPECT_TRUE(clock.sleeps.empty());
  // Two seconds of stall: no burst to catch up, the next block waits its own length.
  clock.now = clock.start + 4000ms;
  EXPECT_TRUE(pacer.Admit(1000));
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_TRUE(pacer.Admit(1000));
  EXPECT_EQ(clock.sleeps, (std::vector<TFakeClock::TTime::duration>{5000ms}));
}

TEST(RealTimePacer, OddRatesAndLongStreamsKeepTheirTime) {
  TFakeClock clock;
  // 44.1 kHz stereo 16-bit does not divide a second's nanoseconds evenly; a looped stream may
  // run for days.
  TRealTimePacer pacer(clock, 176400);
  const std::uint64_t blocks = 20000, block = 1 << 20;  // 33 hours and more
  for (std::uint64_t i = 0; i < blocks; ++i) ASSERT_TRUE(pacer.Admit(block));
  ASSERT_EQ(clock.sleeps.size(), blocks - 1);
  // The last block was due at block * (blocks - 1) / 176400 s, to the nanosecond.
  const auto due = static_cast<unsigned __int128>(block * (blocks - 1)) * 1'000'000'000u / 176400u;
  EXPECT_EQ(clock.sleeps.back(), std::chrono::nanoseconds(static_cast<std::int64_t>(due)));
}

TEST(RealTimePacer, RateZeroNeverWaits) {
  TFakeClock clock;
  TRealTimePacer pacer(clock, 0);
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(pacer.Admit(4096));
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST(RealTimePacer, CancelEndsAWaitOnTheRealClockAndEveryLaterAdmit) {
  TSteadyPaceClock clock;
  // One byte an hour: the second block would wait an hour.
  TRealTimePacer pacer(clock, 1);
  ASSERT_TRUE(pacer.Admit(1));
  std::thread canceller([&] { pacer.Cancel(); });
  EXPECT_FALSE(pacer.Admit(1));
  canceller.join();
  EXPECT_FALSE(pacer.Admit(1));
  EXPECT_EQ(pacer.Sent(), 1u);

  // Cancelled before anything was sent: not even the first block goes.
  TSteadyPaceClock other;
  TRealTimePacer early(other, 1000);
  early.Cancel();
  EXPECT_FALSE(early.Admit(100));
}

}  // namespace
}  // namespace melvanto::testing
