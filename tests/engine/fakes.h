#pragma once

// Test doubles for the pipeline: raw PCM in memory as a file input, an output that records
// what it pulled, and a pump for the user-interface thread's hand-overs.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "components.h"

namespace melvanto::testing {

// Runs hand-overs on this (main) thread until done() holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    CheckSynchronize(std::chrono::milliseconds(1));
  }
  return true;
}

// Pulls everything (or at most maxCalls blocks) in requests of want bytes; the sizes of the
// blocks go to sizes when given.
inline std::vector<std::uint8_t> Drain(TAuInput& in, std::uint32_t want, std::vector<std::uint32_t>* sizes = nullptr,
                                       int maxCalls = 100000) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < maxCalls; ++i) {
    const std::uint8_t* block = nullptr;
    std::uint32_t bytes = want;
    in.GetData(block, bytes);
    if (bytes == 0) break;
    EXPECT_LE(bytes, want);
    out.insert(out.end(), block, block + bytes);
    if (sizes) sizes->push_back(bytes);
  }
  return out;
}

// PCM bytes 0,1,2,... so that any lost, doubled or moved byte shows.
inline std::vector<std::uint8_t> Ramp(std::size_t bytes) {
  std::vector<std::uint8_t> v(bytes);
  for (std::size_t i = 0; i < bytes; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return v;
}

struct PcmFormat {
  std::uint32_t bits = 16;
  std::uint32_t channels = 2;
  std::uint32_t rate = 44100;
};

// A file input over raw PCM in a handed-in memory stream.
class TMemoryIn : public TAuFileIn {
 public:
  TMemoryIn(std::vector<std::uint8_t> pcm, PcmFormat format, std::uint32_t blockBytes = 4096)
      : stream_(std::move(pcm)), format_(format), blockBytes_(blockBytes), block_(blockBytes) {
    SetStream(&stream_);
  }
  ~TMemoryIn() override {
    NotifyDestruction();  // a running output stops while this input is still whole
    CloseFile();
  }

  // Settings a test changes before the run.
  bool fileValid = true;
  bool sizeKnown = true;
  bool canSeek = true;
  std::atomic<int> opens{0};
  std::atomic<int> seeks{0};

  std::int64_t FrameBytes() const { return (format_.channels * format_.bits) / 8; }

 protected:
  void OpenFile() override {
    std::lock_guard lock(FileLock);
    if (OpenCount != 0) return;
    TStream* s = OpenSourceStream();
    ++opens;
    Valid_ = fileValid;
    BitsPerSample_ = format_.bits;
    Channels_ = format_.channels;
    SampleRate_ = format_.rate;
    Size_ = sizeKnown ? s->Size() : -1;
    Seekable_ = canSeek;
    s->SetPosition(0);
    OpenCount = 1;
  }
  void CloseFile() override {
    std::lock_guard lock(FileLock);
    if (OpenCount == 0) return;
    CloseSourceStream();
    OpenCount = 0;
  }
  void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override {
    const std::uint32_t want = std::min(Bytes, blockBytes_);
    Bytes = static_cast<std::uint32_t>(Stream_->Read(block_.data(), want));
    Buffer = block_.data();
  }
  bool SeekInternal(std::int64_t& SampleNum) override {
    ++seeks;
    Stream_->SetPosition(SampleNum * FrameBytes());
    return true;
  }

 private:
  TMemoryStream stream_;
  PcmFormat format_;
  std::uint32_t blockBytes_;
  std::vector<std::uint8_t> block_;
};

// An input that reports the Size and Position a test sets and delivers nothing: for what
// outputs compute from the two, at values no real run reaches quickly.
class TCountsIn : public TAuInput {
 public:
  ~TCountsIn() override { NotifyDestruction(); }

  void SetCounts(std::int64_t size, std::int64_t position) {
    Size_ = size;
    Position_ = position;
  }

  std::uint32_t GetBitsPerSample() override { return 16; }
  std::uint32_t GetChannels() override { return 2; }
  std::uint32_t GetSampleRate() override { return 44100; }
  void GetData(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override { GetDataInternal(Buffer, Bytes); }

 protected:
  void InitInternal() override {}
  void FlushInternal() override {}
  void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override {
    Buffer = nullptr;
    Bytes = 0;
  }
};

// Lets a fixed number of blocks through, so a test can hold a run at a known point.
class Gate {
 public:
  void Allow(int blocks) {
    {
      std::lock_guard lock(mutex_);
      permits_ += blocks;
    }
    cv_.notify_all();
  }
  void Open() { Allow(1 << 30); }
  void Pass() {
    std::unique_lock lock(mutex_);
    if (permits_ == 0) {
      ++waiting_;
      cv_.notify_all();
      cv_.wait(lock, [&] { return permits_ > 0; });
      --waiting_;
    }
    --permits_;
  }
  // Waits until the worker is held at the gate with every permit used up.
  void AwaitWaiter() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return waiting_ > 0 && permits_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int permits_ = 0;
  int waiting_ = 0;
};

// Opens the gate for good once a stop has been asked of the worker, so that a run held at
// the gate ends mid-way. Join the thread after the stop.
inline std::thread ReleaseOnStop(TAuThread* worker, Gate& gate) {
  return std::thread([worker, &gate] {
    while (!worker->StopRequest) std::this_thread::yield();
    gate.Open();
  });
}

// One complete run of out on in, pumping hand-overs until OnDone; returns the run's error
// message, if any. Every output flushes its input when a run ends.
inline std::string RunOnce(TAuOutput& out, TAuInput& in) {
  bool done = false;
  out.SetOnDone([&](TComponent*) { done = true; });
  out.SetInput(&in);
  out.Run();
  EXPECT_TRUE(PumpUntil([&] { return done; }));
  out.SetOnDone(nullptr);
  out.SetInput(nullptr);
  EXPECT_FALSE(in.Busy()) << "the input is flushed after every run";
  return out.ExceptionMessage();
}

// Pulls blocks of blockBytes and keeps them; counts Prepare and Done; fails on request.
class TRecordOut : public TAuOutput {
 public:
  ~TRecordOut() override { Stop(false); }

  std::uint32_t blockBytes = 4096;
  bool failPrepare = false;
  int failAtBlock = -1;  // DoOutput raises on this block (1-based)
  bool failDone = false;
  Gate* gate = nullptr;  // when set, each block waits for a permit
  Gate* finishGate = nullptr;  // when set, the worker waits after the run, Busy already clear
  Gate* prepareGate = nullptr;  // when set, Prepare waits for a permit
  std::atomic<int>* doneCounter = nullptr;  // counts Done beyond the output's life

  std::vector<std::uint8_t> data;       // what was pulled, in order
  std::vector<std::uint32_t> blocks;    // the size of each block pulled
  std::atomic<int> prepares{0};
  std::atomic<int> dones{0};
  std::atomic<bool> interruptedAtDone{false};

 protected:
  void Prepare() override {
    ++prepares;
    if (prepareGate != nullptr) prepareGate->Pass();
    if (failPrepare) throw EAuException("Prepare failed");
    Input()->Init();
  }
  bool DoOutput(bool Abort) override {
    if (Abort || !CanOutput()) return false;
    if (gate != nullptr) gate->Pass();
    const std::uint8_t* block = nullptr;
    std::uint32_t bytes = blockBytes;
    Input()->GetData(block, bytes);
    if (bytes == 0) return false;
    data.insert(data.end(), block, block + bytes);
    blocks.push_back(bytes);
    if (static_cast<int>(blocks.size()) == failAtBlock) throw EAuException("Block failed");
    return true;
  }
  void RunFinished() override {
    if (finishGate != nullptr) finishGate->Pass();
  }
  void Done() override {
    interruptedAtDone = Interrupted();
    Input()->Flush();
    ++dones;
    if (doneCounter != nullptr) ++*doneCounter;
    if (failDone) throw EAuException("Done failed");
  }
};

}  // namespace melvanto::testing
