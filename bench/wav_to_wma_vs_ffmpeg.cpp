// WAV to WMA at 128 kbit/s through TWaveIn -> TWMAOut against the ffmpeg tool on the same
// file (ffmpeg -i x.wav -c:a wmav2 -b:a 128k x.wma), in one run: best-of-3 wall times and
// their ratio (ours / ffmpeg; at most 1.0 is the goal). Needs ffmpeg on the PATH.

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
#include "wma_out.h"

namespace {

using namespace melvanto;
using namespace melvanto::bench;

void Convert(const std::string& from, const std::string& to) {
  TWaveIn in;
  in.SetFileName(from);
  TWMAOut out;
  out.SetFileName(to);
  out.SetDesiredBitrate(128);  // as the conversion runner sets it
  bench::RunToEnd(out, in);
}

}  // namespace

int main() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "melvanto-wma-bench";
  std::filesystem::create_directories(dir);
  const std::string d = dir.string();
  constexpr int kRuns = 3;
  // Three minutes of stereo tone and noise at 44.1 kHz, 16-bit.
  Run("ffmpeg -nostdin -v error -y -f lavfi -i \"sine=f=440:d=180:r=44100\" -f lavfi -i "
      "\"anoisesrc=d=180:r=44100:a=0.1\" -filter_complex \"[0][1]amix=inputs=2,pan=stereo|c0=c0|c1=c0\" "
      "-c:a pcm_s16le " +
      d + "/x.wav");

  const double ours = BestSeconds(kRuns, [&] { Convert(d + "/x.wav", d + "/ours.wma"); });
  const double ffmpeg = BestSeconds(kRuns, [&] {
    Run("ffmpeg -nostdin -v error -y -i " + d + "/x.wav -c:a wmav2 -b:a 128k " + d + "/x.wma");
  });
  std::printf("%-28s ours %8.1f ms   ffmpeg %8.1f ms   ratio %.2f\n", "WAV to WMA 128 kbit/s", ours * 1e3,
              ffmpeg * 1e3, ours / ffmpeg);
  std::filesystem::remove_all(dir);
  return 0;
}
