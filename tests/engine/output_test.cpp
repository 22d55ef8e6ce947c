// Runs of an output on its worker thread, and the events that reach the user-interface thread.

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "fakes.h"

namespace melvanto::testing {
namespace {

constexpr PcmFormat kMono8{8, 1, 8000};

// Records the events of one output, as seen on the user-interface thread.
struct EventLog {
  std::vector<std::string> entries;
  int done = 0;

  void Attach(TAuOutput& out) {
    out.SetOnProgress([this, &out](TComponent* sender) {
      EXPECT_EQ(sender, &out);
      EXPECT_TRUE(IsMainThread());
      entries.push_back("progress " + std::to_string(out.Progress()));
    });
    out.SetOnThreadException([this, &out](TComponent*) {
      EXPECT_TRUE(IsMainThread());
      entries.push_back("exception " + out.ExceptionMessage());
    });
    out.SetOnDone([this, &out](TComponent* sender) {
      EXPECT_EQ(sender, &out);
      EXPECT_TRUE(IsMainThread());
      EXPECT_FALSE(out.Busy());
      entries.push_back("done");
      ++done;
    });
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& e : entries) n += e.rfind(prefix, 0) == 0;
    return n;
  }
};

// An input, an output pulling from it, and the output's event log.
struct Rig {
  template <class... Args>
  explicit Rig(Args&&... inputArgs) : in(std::forward<Args>(inputArgs)...) {
    log.Attach(out);
    out.SetInput(&in);
  }
  EventLog log;  // first in, last out: the output's handlers write to it
  TMemoryIn in;
  TRecordOut out;
};

// Blocks until the event thread has delivered everything posted so far: a later output's
// done event comes after them in the one queue.
void Flush() {
  TMemoryIn in({}, kMono8);
  TRecordOut out;
  bool done = false;
  out.SetOnDone([&](TComponent*) { done = true; });
  out.SetInput(&in);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return done; }));
}

TEST(OutputTest, RunPullsEverythingAndReportsProgressThenDone) {
  const auto pcm = Ramp(100000);
  Rig rig(pcm, kMono8, 1000);
  auto& log = rig.log;
  auto& in = rig.in;
  auto& out = rig.out;
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  EXPECT_EQ(out.data, pcm);
  EXPECT_EQ(out.prepares.load(), 1);
  EXPECT_EQ(out.dones.load(), 1);
  EXPECT_FALSE(in.Busy());  // Done flushed it
  EXPECT_EQ(log.entries.back(), "done");
  // Progress is posted only when the percentage changes: a handful per run, never 100 blocks'.
  EXPECT_GE(log.Count("progress"), 2);
  EXPECT_LE(log.Count("progress"), 101);
  EXPECT_EQ(out.Progress(), 100);  // the finished run keeps its count until the next Init
  Flush();
  EXPECT_EQ(log.done, 1);
}

TEST(OutputTest, RunRefusesWhenBusyOrWithoutInput) {
  TRecordOut out;
  try {
    out.Run();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Input is not assigned");
  }
  EXPECT_FALSE(out.Busy());
  Gate gate;
  out.gate = &gate;
  TMemoryIn in(Ramp(10000), kMono8, 100);
  EventLog log;
  log.Attach(out);
  out.SetInput(&in);
  out.Run();
  try {
    out.Run();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Component is Busy");
  }
  gate.Open();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  EXPECT_EQ(out.data.size(), 10000u);
  EXPECT_EQ(out.prepares.load(), 1);
}

TEST(OutputTest, InvalidInputEndsTheRunAtOnce) {
  Rig rig(Ramp(10000), kMono8);
  auto& log = rig.log;
  auto& out = rig.out;
  rig.in.fileValid = false;  // read at the first open, in the run
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  EXPECT_TRUE(out.data.empty());
  EXPECT_EQ(out.dones.load(), 1);
  EXPECT_EQ(log.Count("exception"), 0);
  EXPECT_TRUE(out.ExceptionMessage().empty());
}

TEST(OutputTest, ErrorsComeBeforeDoneAndStayUntilTheNextRun) {
  Rig rig(Ramp(10000), kMono8, 100);
  auto& log = rig.log;
  auto& out = rig.out;
  out.failPrepare = true;
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  EXPECT_EQ(log.entries, (std::vector<std::string>{"exception Prepare failed", "done"}));
  EXPECT_EQ(out.dones.load(), 1);  // Done runs even when Prepare failed
  EXPECT_EQ(out.ExceptionMessage(), "Prepare failed");

  out.failPrepare = false;
  out.failAtBlock = 3;
  log.entries.clear();
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 2; }));
  ASSERT_GE(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[log.entries.size() - 2], "exception Block failed");
  EXPECT_EQ(log.entries.back(), "done");
  EXPECT_EQ(out.blocks.size(), 3u);  // the error ended the run

  out.failAtBlock = -1;
  out.Run();
  EXPECT_TRUE(out.ExceptionMessage().empty());  // cleared by Run
  ASSERT_TRUE(PumpUntil([&] { return log.done == 3; }));
}

TEST(OutputTest, ErrorInDoneRaisesNoEventButTheRunKeepsItsMessage) {
  Rig rig(Ramp(1000), kMono8);
  auto& log = rig.log;
  auto& out = rig.out;
  out.failDone = true;
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  EXPECT_EQ(log.Count("exception"), 0);
  EXPECT_FALSE(out.Busy());
  // Whoever reads the run's outcome learns that the file was not finished.
  EXPECT_EQ(out.ExceptionMessage(), "Done failed");
  out.failDone = false;
  EXPECT_NO_THROW(out.Run());
  ASSERT_TRUE(PumpUntil([&] { return log.done == 2; }));
}

TEST(OutputTest, AStoppedRunWhoseDoneRaisesIsIdleBeforeItsDoneEvent) {
  // Seen while the worker is held after the run, before the event thread clears Busy itself.
  Rig rig(Ramp(1000), kMono8, 100);
  auto& out = rig.out;
  Gate gate, finish;
  out.gate = &gate;
  out.finishGate = &finish;
  out.failDone = true;
  out.Run();
  gate.AwaitWaiter();
  std::thread releaser = ReleaseOnStop(out.Thread(), gate);
  out.Stop();
  releaser.join();
  finish.AwaitWaiter();
  EXPECT_TRUE(out.interruptedAtDone.load());
  EXPECT_FALSE(out.Busy());
  EXPECT_FALSE(out.Interrupted());
  EXPECT_EQ(out.ExceptionMessage(), "Done failed");
  finish.Open();
  ASSERT_TRUE(PumpUntil([&] { return rig.log.done == 1; }));
}

TEST(OutputTest, OnDoneMayStartTheNextRunAtOnce) {
  // Thousands of back-to-back runs: a lost wake-up would hang one of them.
  TMemoryIn in(Ramp(64), kMono8);
  TRecordOut out;
  constexpr int kRuns = 3000;
  int runs = 0;
  out.SetOnDone([&](TComponent*) {
    if (++runs < kRuns) out.Run();
  });
  out.SetInput(&in);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return runs == kRuns; }, std::chrono::seconds(120)));
  EXPECT_EQ(out.prepares.load(), kRuns);
  EXPECT_EQ(out.dones.load(), kRuns);
  EXPECT_EQ(out.data.size(), 64u * kRuns);
}

TEST(OutputTest, RunRightAfterStopAndAfterIdleStopStartsNormally) {
  Rig rig(Ramp(500), kMono8, 100);
  auto& log = rig.log;
  auto& out = rig.out;
  out.Stop(false);  // idle: returns at once
  out.Stop(true);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  EXPECT_EQ(out.data.size(), 500u);
  EXPECT_FALSE(out.interruptedAtDone.load());  // an idle Stop does not mark the next run
}

TEST(OutputTest, SynchronousStopDropsQueuedEventsAndOnDone) {
  Rig rig(Ramp(1000), kMono8, 100);
  auto& log = rig.log;
  auto& out = rig.out;
  out.blockBytes = 100;  // each block moves Progress by 10
  Gate gate;
  out.gate = &gate;
  out.Run();
  // Three progress events are posted while this thread runs no hand-over.
  gate.Allow(3);
  gate.AwaitWaiter();
  EXPECT_EQ(out.Progress(), 30);
  std::thread releaser = ReleaseOnStop(out.Thread(), gate);
  out.Stop(false);
  releaser.join();
  EXPECT_FALSE(out.Busy());
  EXPECT_EQ(out.dones.load(), 1);
  EXPECT_TRUE(out.interruptedAtDone.load());
  EXPECT_EQ(out.data.size(), 400u);
  Flush();
  EXPECT_TRUE(log.entries.empty()) << log.entries.front();

  // The next run reports normally.
  out.gate = nullptr;
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  EXPECT_EQ(log.Count("done"), 1);
  EXPECT_EQ(log.Count("progress"), 11);  // back to 0 from where the stop left it, then 10 to 100
}

TEST(OutputTest, SynchronousStopRightAfterANewRunWaitsForThatRunToo) {
  // The new run starts while the old one has cleared Busy but not yet posted its done event:
  // the stop must not take the old run's end for the new one's.
  Rig rig(Ramp(64), kMono8);
  auto& out = rig.out;
  Gate finish, prepare;
  out.finishGate = &finish;
  out.Run();
  finish.AwaitWaiter();
  ASSERT_FALSE(out.Busy());
  out.prepareGate = &prepare;  // the new run will wait in Prepare
  out.Run();
  std::thread releaser = ReleaseOnStop(out.Thread(), finish);
  // Holds the new run until the stop has returned, or long enough to show it waits; the
  // verdict does not depend on the time: a stop that returns early does so while the run is held.
  std::atomic<bool> stopReturned{false};
  bool returnedEarly = true;
  std::thread holder([&] {
    prepare.AwaitWaiter();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (!stopReturned && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    returnedEarly = stopReturned;
    prepare.Open();
  });
  out.Stop(false);
  stopReturned = true;
  releaser.join();
  holder.join();
  EXPECT_FALSE(returnedEarly);
  EXPECT_FALSE(out.Busy());
  EXPECT_EQ(out.prepares.load(), 2);
  EXPECT_EQ(out.dones.load(), 2);
  Flush();
  EXPECT_EQ(rig.log.done, 0);
}

TEST(OutputTest, RunIsRefusedFromACallServedDuringASynchronousStop) {
  // Busy is already clear while the worker still finishes; a Run from a hand-over the stop
  // serves would otherwise keep the stop waiting for a whole new run.
  Rig rig(Ramp(64), kMono8);
  auto& out = rig.out;
  Gate finish;
  out.finishGate = &finish;
  out.Run();
  finish.AwaitWaiter();
  std::atomic<bool> called{false};
  std::string refused;
  std::thread caller([&] {
    Synchronize([&] {
      try {
        out.Run();
      } catch (const EAuException& e) {
        refused = e.what();
      }
      called = true;
    });
  });
  std::thread releaser([&] {
    while (!out.Thread()->StopRequest || !called) std::this_thread::yield();
    finish.Open();
  });
  out.Stop(false);
  releaser.join();
  caller.join();
  EXPECT_EQ(refused, "Component is Busy");
  EXPECT_FALSE(out.Busy());
  EXPECT_EQ(out.prepares.load(), 1);
}

TEST(OutputTest, AsynchronousStopDeliversOnDoneOnceAfterDone) {
  TMemoryIn in(Ramp(100000), kMono8, 100);
  TRecordOut out;
  Gate gate;
  out.gate = &gate;
  int dones = 0;
  out.SetOnDone([&](TComponent*) {
    ++dones;
    EXPECT_EQ(out.dones.load(), 1);
    EXPECT_TRUE(out.interruptedAtDone.load());
  });
  out.SetInput(&in);
  out.Run();
  gate.Allow(2);
  gate.AwaitWaiter();
  out.Stop(true);
  EXPECT_TRUE(out.Busy());  // returned at once
  gate.Open();
  ASSERT_TRUE(PumpUntil([&] { return dones == 1; }));
  Flush();
  EXPECT_EQ(dones, 1);
  EXPECT_LE(out.blocks.size(), 3u);
}

TEST(OutputTest, StopFromInsideItsOwnProgressHandlerDoesNotDeadlock) {
  TMemoryIn in(Ramp(1000), kMono8, 100);
  TRecordOut out;
  out.blockBytes = 100;
  Gate gate;
  out.gate = &gate;
  int progress = 0;
  int dones = 0;
  out.SetOnProgress([&](TComponent*) {
    if (++progress == 2) out.Stop(false);
  });
  out.SetOnDone([&](TComponent*) { ++dones; });
  out.SetInput(&in);
  out.Run();
  gate.Allow(3);  // progress 10, 20 and 30 are posted; the run is held mid-way
  gate.AwaitWaiter();
  std::thread releaser = ReleaseOnStop(out.Thread(), gate);
  ASSERT_TRUE(PumpUntil([&] { return progress >= 2 && !out.Busy(); }));
  releaser.join();
  Flush();
  EXPECT_EQ(progress, 2);  // the third was queued when the stop came
  EXPECT_EQ(dones, 0);
  EXPECT_EQ(out.dones.load(), 1);
  EXPECT_LT(out.data.size(), 1000u);
}

// An output that hands its own notifications to the user-interface thread while it runs.
class TNotifyingOut : public TRecordOut {
 public:
  ~TNotifyingOut() override { Stop(false); }
  std::function<void(TComponent*)> note;

 protected:
  bool DoOutput(bool Abort) override {
    if (CanOutput()) PostNotify(note);
    return TRecordOut::DoOutput(Abort);
  }
};

TEST(OutputTest, PlainNotificationsShareTheQueueAndStopWithTheOutput) {
  TMemoryIn in(Ramp(1000), kMono8, 100);
  TNotifyingOut out;
  out.blockBytes = 100;
  std::vector<std::string> seen;
  out.note = [&](TComponent* sender) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(sender, &out);
    seen.push_back("note");
  };
  out.SetOnDone([&](TComponent*) { seen.push_back("done"); });
  out.SetInput(&in);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return !seen.empty() && seen.back() == "done"; }));
  EXPECT_EQ(seen.size(), 11u + 1u);  // ten blocks and the empty last call, then done

  Gate gate;
  out.gate = &gate;
  seen.clear();
  out.Run();
  gate.Allow(2);
  gate.AwaitWaiter();
  std::thread releaser = ReleaseOnStop(out.Thread(), gate);
  out.Stop(false);
  releaser.join();
  Flush();
  EXPECT_TRUE(seen.empty());  // posted, but never handed over after the stop
}

TEST(OutputTest, UnknownSizeKeepsProgressAtMinusOne) {
  Rig rig(Ramp(5000), kMono8, 100);
  auto& log = rig.log;
  auto& out = rig.out;
  rig.in.sizeKnown = false;
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  EXPECT_EQ(log.entries, (std::vector<std::string>{"progress -1", "done"}));
  EXPECT_EQ(out.data.size(), 5000u);
  // A second run that also stays at -1 reports no change at all.
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 2; }));
  EXPECT_EQ(log.entries, (std::vector<std::string>{"progress -1", "done", "done"}));
}

TEST(OutputTest, ProgressOfLargeInputsTiesUnknownAndEmpty) {
  TCountsIn in;
  TRecordOut out;
  out.SetInput(&in);
  struct Case {
    std::int64_t size, position;
    std::int32_t percent;
  };
  const Case cases[] = {
      // Beyond 2^31 / 100 bytes, where position * 100 no longer fits 32 bits.
      {3'000'000'000, 1'000'000'000, 33},
      {3'000'000'000, 2'984'999'999, 99},
      {3'000'000'000, 2'985'000'001, 100},
      {3'000'000'000, 3'000'000'000, 100},
      {5'000'000'000, 1'666'666'667, 33},
      {5'000'000'000, 4'970'000'000, 99},
      {5'000'000'000, 4'999'999'999, 100},
      // Exact halves go to the even neighbour.
      {200, 1, 0},
      {200, 3, 2},
      {200, 5, 2},
      {200, 7, 4},
      {200, 9, 4},
      {200, 101, 50},
      {200, 197, 98},
      {200, 199, 100},
      {3'000'000'000, 15'000'000, 0},
      {3'000'000'000, 45'000'000, 2},
      {5'000'000'000, 2'525'000'000, 50},
      {5'000'000'000, 4'925'000'000, 98},
      {5'000'000'000, 4'975'000'000, 100},
      // Unknown size, and an empty input.
      {-1, 0, -1},
      {-1, 3'000'000'000, -1},
      {0, 0, 0},
      {0, 10, 0},
  };
  for (const Case& c : cases) {
    in.SetCounts(c.size, c.position);
    EXPECT_EQ(out.Progress(), c.percent) << c.position << " of " << c.size;
  }
  out.SetInput(nullptr);
}

TEST(OutputTest, SecondRunStartsWithProgressBackAtZero) {
  Rig rig(Ramp(1000), kMono8, 100);
  auto& log = rig.log;
  auto& out = rig.out;
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  Gate gate;
  out.gate = &gate;
  log.entries.clear();
  out.Run();
  gate.AwaitWaiter();  // the first block is due: its progress event is posted
  ASSERT_TRUE(PumpUntil([&] { return log.Count("progress") == 1; }));
  EXPECT_EQ(log.entries.front(), "progress 0");
  gate.Open();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 2; }));
}

TEST(OutputTest, DestroyingAnOutputMidRunStopsItWithoutOnDone) {
  TMemoryIn in(Ramp(1000), kMono8, 100);
  auto out = std::make_unique<TRecordOut>();
  out->blockBytes = 100;
  std::atomic<int> doneCalls{0};
  out->doneCounter = &doneCalls;
  Gate gate;
  out->gate = &gate;
  int onDone = 0;
  int progress = 0;
  out->SetOnDone([&](TComponent*) { ++onDone; });
  out->SetOnProgress([&](TComponent*) { ++progress; });
  out->SetInput(&in);
  out->Run();
  gate.Allow(2);
  gate.AwaitWaiter();
  EXPECT_EQ(out->Progress(), 20);
  std::thread releaser = ReleaseOnStop(out->Thread(), gate);
  out.reset();
  releaser.join();
  EXPECT_EQ(doneCalls.load(), 1);
  EXPECT_FALSE(in.Busy());
  Flush();
  EXPECT_EQ(onDone, 0);
  EXPECT_EQ(progress, 0);  // posted before the end, never handed over
}

TEST(OutputTest, LastOutputEndsTheEventThread) {
  {
    TRecordOut a;
    auto b = std::make_unique<TRecordOut>();
    EXPECT_TRUE(TEventHandler::Exists());
    b.reset();
    EXPECT_TRUE(TEventHandler::Exists());
  }
  EXPECT_FALSE(TEventHandler::Exists());
  // A new output starts a new one.
  TRecordOut c;
  EXPECT_TRUE(TEventHandler::Exists());
}

TEST(OutputTest, OutputDestroyedInsideItsOwnOnDone) {
  TMemoryIn in(Ramp(100), kMono8);
  auto out = std::make_unique<TRecordOut>();
  bool gone = false;
  out->SetOnDone([&](TComponent*) {
    out.reset();  // the last output: the event thread must end without deadlock
    gone = true;
  });
  out->SetInput(&in);
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return gone; }));
  EXPECT_TRUE(PumpUntil([] { return !TEventHandler::Exists(); }));
}

TEST(OutputTest, NewOutputMadeInsideTheLastOnesOnDoneGetsAWorkingEventThread) {
  TMemoryIn in(Ramp(100), kMono8);
  auto out = std::make_unique<TRecordOut>();
  std::unique_ptr<TRecordOut> next;
  bool nextDone = false;
  out->SetOnDone([&](TComponent*) {
    out.reset();
    next = std::make_unique<TRecordOut>();
    next->SetOnDone([&](TComponent*) { nextDone = true; });
    next->SetInput(&in);
    next->Run();
  });
  out->SetInput(&in);
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return nextDone; }));
  EXPECT_EQ(next->data.size(), 100u);
  next.reset();
  EXPECT_FALSE(TEventHandler::Exists());
}

TEST(OutputTest, ManyOutputsShareOneEventThreadInPostingOrder) {
  constexpr int kOutputs = 8;
  std::vector<std::unique_ptr<TMemoryIn>> inputs;
  std::vector<std::unique_ptr<TRecordOut>> outputs;
  std::vector<std::vector<std::int32_t>> progress(kOutputs);
  std::vector<int> dones(kOutputs);
  std::vector<std::pair<int, char>> arrivals;  // (output, 'p' or 'd') in delivery order
  int finished = 0;
  for (int i = 0; i < kOutputs; ++i) {
    inputs.push_back(std::make_unique<TMemoryIn>(Ramp(20000 + 1000 * i), kMono8, 200));
    outputs.push_back(std::make_unique<TRecordOut>());
    TRecordOut& out = *outputs.back();
    out.blockBytes = 200;
    out.SetOnProgress([&, i](TComponent*) {
      progress[i].push_back(outputs[i]->Progress());
      arrivals.emplace_back(i, 'p');
    });
    out.SetOnDone([&, i](TComponent*) {
      ++dones[i];
      ++finished;
      arrivals.emplace_back(i, 'd');
    });
    out.SetInput(inputs.back().get());
  }
  for (auto& out : outputs) out->Run();
  ASSERT_TRUE(PumpUntil([&] { return finished == kOutputs; }));
  Flush();
  for (int i = 0; i < kOutputs; ++i) {
    EXPECT_EQ(dones[i], 1);
    EXPECT_EQ(outputs[i]->data, Ramp(20000 + 1000 * i));
    EXPECT_FALSE(progress[i].empty());
    EXPECT_TRUE(std::is_sorted(progress[i].begin(), progress[i].end())) << "output " << i;
  }
  // Each output's progress events were posted before its done event, so arrive before it.
  std::vector<bool> ended(kOutputs);
  for (const auto& [i, kind] : arrivals) {
    EXPECT_FALSE(ended[i]) << "an event of output " << i << " after its done event";
    if (kind == 'd') ended[i] = true;
  }
}

TEST(OutputTest, SetInputWhileBusyRestartsWithTheNewInput) {
  TMemoryIn first(Ramp(100000), kMono8, 100);
  TMemoryIn second(Ramp(300), kMono8, 100);
  TRecordOut out;
  Gate gate;
  out.gate = &gate;
  EventLog log;
  log.Attach(out);
  out.SetInput(&first);
  out.Run();
  gate.Allow(1);
  gate.AwaitWaiter();
  std::thread releaser = ReleaseOnStop(out.Thread(), gate);
  out.SetInput(&second);
  releaser.join();
  ASSERT_TRUE(PumpUntil([&] { return log.done == 1; }));
  EXPECT_EQ(out.Input(), &second);
  EXPECT_EQ(out.prepares.load(), 2);
  EXPECT_EQ(out.dones.load(), 2);
  EXPECT_FALSE(first.Busy());
  EXPECT_EQ(out.data.size(), 200u + 300u);  // two blocks of the first, all of the second
}

TEST(OutputTest, DestroyedInputIsDisconnectedAndStopsTheRunOnIt) {
  TRecordOut out;
  {
    TMemoryIn in(Ramp(10), kMono8);
    out.SetInput(&in);
  }
  EXPECT_EQ(out.Input(), nullptr);
  EXPECT_EQ(out.Progress(), 0);

  auto in = std::make_unique<TMemoryIn>(Ramp(1000), kMono8, 100);
  Gate gate;
  out.gate = &gate;
  int dones = 0;
  out.SetOnDone([&](TComponent*) { ++dones; });
  out.SetInput(in.get());
  out.Run();
  gate.Allow(2);
  gate.AwaitWaiter();
  std::thread releaser = ReleaseOnStop(out.Thread(), gate);
  in.reset();  // mid-run: the output stops first, then lets go of it
  releaser.join();
  EXPECT_FALSE(out.Busy());
  EXPECT_EQ(out.Input(), nullptr);
  EXPECT_EQ(out.dones.load(), 1);
  Flush();
  EXPECT_EQ(dones, 0);
}

TEST(OutputTest, DelayAcceptsUpToOneHundredMilliseconds) {
  TRecordOut out;
  out.SetDelay(100);
  EXPECT_EQ(out.Delay(), 100u);
  out.SetDelay(101);
  EXPECT_EQ(out.Delay(), 100u);
  out.SetDelay(0);
  EXPECT_EQ(out.Delay(), 0u);
}

}  // namespace
}  // namespace melvanto::testing
