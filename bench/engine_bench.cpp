// What the pipeline core itself costs: a null input through a null output by Run, against
// the same blocks pulled by a plain loop on one thread, and one whole run's latency.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "components.h"

namespace melvanto {
namespace {

constexpr std::uint32_t kBlock = 16384;

// Hands out the same silent block until Size bytes have gone: no decoding, only protocol.
class TNullIn : public TAuFileIn {
 public:
  explicit TNullIn(std::int64_t bytes) : bytes_(bytes), block_(kBlock) { SetFileName("null"); }

 protected:
  void OpenFile() override {
    std::lock_guard lock(FileLock);
    if (OpenCount != 0) return;
    Valid_ = true;
    BitsPerSample_ = 16;
    Channels_ = 2;
    SampleRate_ = 44100;
    Size_ = bytes_;
    OpenCount = 1;
  }
  void CloseFile() override {
    std::lock_guard lock(FileLock);
    OpenCount = 0;
  }
  void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override {
    Bytes = std::min<std::uint32_t>(Bytes, kBlock);
    Buffer = block_.data();
  }
  bool SeekInternal(std::int64_t&) override { return true; }

 private:
  std::int64_t bytes_;
  std::vector<std::uint8_t> block_;
};

class TNullOut : public TAuOutput {
 public:
  ~TNullOut() override { Stop(false); }
  std::int64_t pulled = 0;

 protected:
  void Prepare() override { Input()->Init(); }
  bool DoOutput(bool Abort) override {
    if (Abort || !CanOutput()) return false;
    const std::uint8_t* block = nullptr;
    std::uint32_t bytes = kBlock;
    Input()->GetData(block, bytes);
    benchmark::DoNotOptimize(block);
    pulled += bytes;
    return bytes != 0;
  }
  void Done() override { Input()->Flush(); }
};

void RunToDone(TNullOut& out, bool& done) {
  done = false;
  out.Run();
  while (!done) CheckSynchronize(std::chrono::milliseconds(1));
}

// Bytes per second through Run: worker thread, pull protocol, progress events, done event.
void BM_PipelineThroughput(benchmark::State& state) {
  const std::int64_t bytes = state.range(0);
  TNullIn in(bytes);
  TNullOut out;
  bool done = false;
  out.SetOnDone([&](TComponent*) { done = true; });
  // With a progress handler, about a hundred progress events a run cross to this thread.
  if (state.range(1) != 0) out.SetOnProgress([](TComponent*) {});
  out.SetInput(&in);
  for (auto _ : state) RunToDone(out, done);
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["ns_per_block"] = benchmark::Counter(
      static_cast<double>(state.iterations() * ((bytes + kBlock - 1) / kBlock)),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PipelineThroughput)->Args({64 << 20, 0})->Args({64 << 20, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

// The peer: the same pull protocol called directly on this thread, no worker and no events.
void BM_DirectPull(benchmark::State& state) {
  const std::int64_t bytes = state.range(0);
  TNullIn in(bytes);
  for (auto _ : state) {
    in.Init();
    const std::uint8_t* block = nullptr;
    std::uint32_t n = kBlock;
    do {
      n = kBlock;
      in.GetData(block, n);
      benchmark::DoNotOptimize(block);
    } while (n != 0);
    in.Flush();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["ns_per_block"] = benchmark::Counter(
      static_cast<double>(state.iterations() * ((bytes + kBlock - 1) / kBlock)),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DirectPull)->Arg(64 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

// One complete run of one block: Run until OnDone has run on this thread.
void BM_RunLatency(benchmark::State& state) {
  TNullIn in(kBlock);
  TNullOut out;
  bool done = false;
  out.SetOnDone([&](TComponent*) { done = true; });
  out.SetInput(&in);
  for (auto _ : state) RunToDone(out, done);
}
BENCHMARK(BM_RunLatency)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace melvanto

BENCHMARK_MAIN();
