// The WAV format against peer tools on the same files, in one run: ADPCM decoding against
// sox, and a PCM WAV to WAV copy through the pipeline against cp. Prints ratios (ours / peer;
// below 1 means faster). Needs sox and cp on the PATH.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "components.h"
#include "wave_in.h"
#include "wave_out.h"

namespace {

using namespace melvanto;
using Clock = std::chrono::steady_clock;

// The best of several runs: the least disturbed by whatever else the machine does.
double BestSeconds(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

std::int64_t DecodeAll(const std::string& file) {
  TWaveIn in;
  in.SetFileName(file);
  in.Init();
  std::int64_t total = 0;
  for (;;) {
    const std::uint8_t* block = nullptr;
    std::uint32_t n = 1 << 16;
    in.GetData(block, n);
    if (n == 0) break;
    total += n;
  }
  in.Flush();
  return total;
}

void CopyThroughPipeline(const std::string& from, const std::string& to) {
  TWaveIn in;
  in.SetFileName(from);
  TWaveOut out;
  out.SetFileName(to);
  out.SetInput(&in);
  bool done = false;
  out.SetOnDone([&](TComponent*) { done = true; });
  out.Run();
  while (!done) CheckSynchronize(std::chrono::milliseconds(1));
}

void Report(const char* what, double ours, double peer, const char* peerName) {
  std::printf("%-28s ours %8.1f ms   %-4s %8.1f ms   ratio %.2f\n", what, ours * 1e3, peerName, peer * 1e3,
              ours / peer);
}

}  // namespace

int main() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "melvanto-wav-bench";
  std::filesystem::create_directories(dir);
  const std::string d = dir.string();
  constexpr int kRuns = 5;
  // Two minutes of stereo noise and tone at 44.1 kHz in each encoding.
  Run("sox -n -r 44100 -c 2 -e ima-adpcm " + d + "/ima.wav synth 120 sine 440 pinknoise 2>/dev/null");
  Run("sox -n -r 44100 -c 2 -e ms-adpcm " + d + "/ms.wav synth 120 sine 440 pinknoise 2>/dev/null");
  Run("sox -n -r 44100 -c 2 -b 16 " + d + "/pcm.wav synth 120 sine 440 pinknoise 2>/dev/null");

  for (const char* kind : {"ima", "ms"}) {
    const std::string file = d + "/" + kind + ".wav";
    const double ours = BestSeconds(kRuns, [&] { DecodeAll(file); });
    const double sox = BestSeconds(kRuns, [&] { Run("sox " + file + " -t raw -e signed -b 16 /dev/null"); });
    Report((std::string(kind) + " ADPCM decode").c_str(), ours, sox, "sox");
  }
  const double ours = BestSeconds(kRuns, [&] { CopyThroughPipeline(d + "/pcm.wav", d + "/copy.wav"); });
  const double cp = BestSeconds(kRuns, [&] { Run("cp " + d + "/pcm.wav " + d + "/cp.wav"); });
  Report("PCM WAV to WAV copy", ours, cp, "cp");
  std::filesystem::remove_all(dir);
  return 0;
}
