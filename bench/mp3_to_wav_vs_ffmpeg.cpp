// MP3 to WAV through the pipeline (TMP3In -> TWaveOut) against `ffmpeg -i x.mp3 x.wav` on the
// same files, in one run. Prints the best of three wall times of each and their ratio (ours /
// ffmpeg; below 1 means faster), and whether both wrote the same samples. The tool's time
// includes its process start-up; ours includes the frame count at open. Needs ffmpeg and
// lame on the PATH.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench_support.h"
#include "components.h"
#include "mp3_in.h"
#include "wave_out.h"

namespace {

using namespace melvanto;
using namespace melvanto::bench;

void Convert(const std::string& from, const std::string& to) {
  TMP3In in;
  in.SetFileName(from);
  TWaveOut out;
  out.SetFileName(to);
  bench::RunToEnd(out, in);
}

}  // namespace

int main() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "melvanto-mp3-wav-bench";
  std::filesystem::create_directories(dir);
  const std::string d = dir.string();
  constexpr int kRuns = 3;
  // Four minutes of stereo tone and noise at 44.1 kHz, as CBR and as VBR without an Info
  // frame (the case where the length has to be counted).
  Run("ffmpeg -v error -y -f lavfi -i 'sine=f=440:d=240:r=44100' -f lavfi -i 'anoisesrc=d=240:r=44100:a=0.2' "
      "-filter_complex '[0][1]amerge=inputs=2' -c:a pcm_s16le " + d + "/src.wav");
  Run("lame --quiet -b 128 " + d + "/src.wav " + d + "/cbr.mp3");
  Run("lame --quiet -V 4 --noreplaygain -t " + d + "/src.wav " + d + "/vbr.mp3");

  for (const char* kind : {"cbr", "vbr"}) {
    const std::string mp3 = d + "/" + kind + ".mp3";
    const std::string ours = d + "/" + kind + "_ours.wav";
    const std::string peer = d + "/" + kind + "_ffmpeg.wav";
    const double oursTime = BestSeconds(kRuns, [&] { Convert(mp3, ours); });
    const double peerTime = BestSeconds(kRuns, [&] { Run("ffmpeg -v error -y -i " + mp3 + " " + peer); });
    const auto md5 = [](const std::string& wav) { return Output("ffmpeg -v error -i " + wav + " -f md5 -"); };
    const bool same = md5(ours) == md5(peer);
    std::printf("MP3 %s to WAV   ours %8.1f ms   ffmpeg %8.1f ms   ratio %.2f   samples %s\n", kind, oursTime * 1e3,
                peerTime * 1e3, oursTime / peerTime, same ? "identical" : "DIFFER");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
