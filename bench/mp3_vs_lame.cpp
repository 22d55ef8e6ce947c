// WAV to MP3 through the pipeline (TWaveIn -> TMP3Out) against the `lame` command-line tool
// on the same file with the same encoder settings, in one run. Prints ratios (ours / lame;
// below 1 means faster), the output sizes, and whether both wrote the same audio frames,
// which shows the settings really match. Needs lame on the PATH.
//
// How the settings are matched:
// - TMP3Out writes plain stereo by default; the tool picks joint stereo at these rates,
//   so it gets `-m s`.
// - Both keep a bit reservoir by default (TMP3Out as the tool does), so neither side sets it.
// - Algorithm quality: the tool's default is -q 3 (at 128 kbit/s -q 2 and -q 4 give other
//   frames) and TMP3Out leaves libmp3lame's own default, which acts the same, so neither
//   side sets it; in VBR the quality comes from -V alone.
// - VBR: TMP3Out's BitRate is the VBR minimum, so it gets mbr32 and the tool `-b 32`
//   (the tool's own default); the maximum stays 320 on both sides.
// - The tool analyses ReplayGain by default (extra work, stored in its Info frame) and
//   libmp3lame does not: the tool gets `--noreplaygain`.
// - Both mark frames "original" and write an Info frame, so with the above the audio frames
//   come out alike, and so do their sizes ("audio"); the files differ by our tags (an ID3v1
//   record and a small ID3v2 tag, 144 bytes). What still differs in the work: TMP3Out
//   appends the ID3v1 record and then has TagLib open and save the file for the ID3v2 tags;
//   the tool's time includes its process start-up.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "components.h"
#include "mp3_out.h"
#include "wave_in.h"

namespace {

using namespace melvanto;
using namespace melvanto::bench;

struct Settings {
  bool Vbr;
  TMP3BitRate BitRate;  // the fixed rate, or the VBR minimum
  TMP3Quality VbrQuality;
};

void EncodeThroughPipeline(const std::string& from, const std::string& to, const Settings& s) {
  TWaveIn in;
  in.SetFileName(from);
  TMP3Out out;
  out.SetFileName(to);
  out.SetBitRate(s.BitRate);
  out.SetEnableVBR(s.Vbr);
  out.SetVBRQuality(s.VbrQuality);
  bench::RunToEnd(out, in);
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The bytes of an MPEG-1 Layer III file's frames after the first (the Info frame), with
// any ID3v2 tag before and any ID3v1 record after left out.
std::vector<std::uint8_t> AudioFramesAfterInfo(const std::vector<std::uint8_t>& file) {
  static const std::uint32_t kKbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                          112, 128, 160, 192, 224, 256, 320, 0};
  std::size_t begin = 0;
  if (file.size() >= 10 && file[0] == 'I' && file[1] == 'D' && file[2] == '3')
    begin = 10 + ((file[6] & 0x7F) << 21 | (file[7] & 0x7F) << 14 | (file[8] & 0x7F) << 7 | (file[9] & 0x7F));
  std::size_t end = file.size();
  if (end >= 128 && file[end - 128] == 'T' && file[end - 127] == 'A' && file[end - 126] == 'G') end -= 128;
  if (begin + 4 > end || file[begin] != 0xFF || (file[begin + 1] & 0xE0) != 0xE0) return {};
  const std::uint32_t kbps = kKbps[file[begin + 2] >> 4];
  const std::size_t infoBytes = 144000 * kbps / 44100 + ((file[begin + 2] >> 1) & 1);
  if (begin + infoBytes > end) return {};
  return {file.begin() + static_cast<std::ptrdiff_t>(begin + infoBytes),
          file.begin() + static_cast<std::ptrdiff_t>(end)};
}

}  // namespace

int main() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "melvanto-mp3-bench";
  std::filesystem::create_directories(dir);
  const std::string d = dir.string();
  const std::string wav = d + "/music.wav";
  constexpr int kRuns = 3;
  WriteMusicLikeWav(wav, 60);

  struct Case {
    const char* Name;
    Settings Ours;
    std::string LameArgs;
  };
  const Case cases[] = {
      {"CBR 128 kbit/s", {false, TMP3BitRate::mbr128, TMP3Quality::mp3ql0}, "-m s -b 128"},
      {"VBR quality 4 (min 32)", {true, TMP3BitRate::mbr32, TMP3Quality::mp3ql4}, "-m s -V 4 -b 32"},
  };
  std::printf("60 s of 44.1 kHz 16-bit stereo, best of %d alternating runs each\n", kRuns);
  for (const Case& c : cases) {
    const std::string ours = d + "/ours.mp3", theirs = d + "/lame.mp3";
    const std::string command =
        "lame --quiet --noreplaygain " + c.LameArgs + " " + wav + " " + theirs;
    double bestOurs = 1e30, bestLame = 1e30;
    // Alternating, so a disturbance of the machine for a while hits both sides alike.
    for (int i = 0; i < kRuns; ++i) {
      bestOurs = std::min(bestOurs, Seconds([&] { EncodeThroughPipeline(wav, ours, c.Ours); }));
      bestLame = std::min(bestLame, Seconds([&] { Run(command); }));
    }
    const auto oursFrames = AudioFramesAfterInfo(ReadFile(ours));
    const auto lameFrames = AudioFramesAfterInfo(ReadFile(theirs));
    const bool same = !oursFrames.empty() && oursFrames == lameFrames;
    std::printf(
        "%-24s ours %7.1f ms   lame %7.1f ms   ratio %.2f   files %ju / %ju bytes   audio %zu / %zu bytes   frames %s\n",
        c.Name, bestOurs * 1e3, bestLame * 1e3, bestOurs / bestLame,
        static_cast<std::uintmax_t>(std::filesystem::file_size(ours)),
        static_cast<std::uintmax_t>(std::filesystem::file_size(theirs)), oursFrames.size(), lameFrames.size(),
        same ? "identical" : "DIFFER");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
