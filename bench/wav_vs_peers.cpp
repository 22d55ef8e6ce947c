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

#include "bench_support.h"
#include "components.h"
#include "wave_in.h"
#include "wave_out.h"

namespace {

using namespace melvanto;
using namespace melvanto::bench;

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
  bench::RunToEnd(out, in);
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
