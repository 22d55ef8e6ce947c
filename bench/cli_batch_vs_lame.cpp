// A batch of 8 WAV files of 30 s to MP3 at 128 kbit/s: melvanto-cli with two jobs against
// the lame tool run on the same files one after another and two at a time (xargs -P 2), in
// one run. Prints the best wall time of each and the ratios (ours / lame; below 1 means
// faster). Goal: at most the time of two lame processes in parallel. Needs lame on the PATH.
//
// Both sides are whole programs started from a shell, so each pays its process start-up:
// ours once per batch, lame once per file. The tool runs as a user would run it
// (`lame -b 128`): it also analyses ReplayGain, which melvanto-cli's MP3 output does not
// (both keep a bit reservoir); mp3_vs_lame compares the encoders with matched settings.

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.h"

int main() {
  using namespace melvanto::bench;
  namespace fs = std::filesystem;
  constexpr int kFiles = 8, kSeconds = 30, kRuns = 3;

  const fs::path dir = fs::temp_directory_path() / "melvanto-cli-bench";
  fs::remove_all(dir);
  const fs::path inputs = dir / "in", ours = dir / "ours", config = dir / "config";
  fs::create_directories(inputs);
  fs::create_directories(ours);
  fs::create_directories(config);
  std::string files;
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = (inputs / ("take" + std::to_string(i) + ".wav")).string();
    WriteMusicLikeWav(path, kSeconds);
    files += " '" + path + "'";
  }

  // Its own settings folder: the benchmark never reads or writes the user's settings.
  const std::string cli = "env XDG_CONFIG_HOME='" + config.string() + "' HOME='" + dir.string() + "' '" +
                          MELVANTO_CLI_PATH + "' convert wav-mp3 --mp3-cbr 128 -j 2 -q --overwrite -o '" +
                          ours.string() + "'" + files;
  // With one file argument lame writes NAME.mp3 beside NAME.wav.
  const std::string lameOneByOne = "for f in" + files + "; do lame --quiet -b 128 \"$f\" || exit 1; done";
  const std::string lameTwoAtATime = "printf '%s\\n'" + files + " | xargs -P 2 -n 1 lame --quiet -b 128";

  double bestOurs = 1e30, bestSequential = 1e30, bestParallel = 1e30;
  // Alternating, so that a disturbance of the machine for a while hits every side alike.
  for (int run = 0; run < kRuns; ++run) {
    bestOurs = std::min(bestOurs, Seconds([&] { Run(cli); }));
    bestSequential = std::min(bestSequential, Seconds([&] { Run(lameOneByOne); }));
    bestParallel = std::min(bestParallel, Seconds([&] { Run(lameTwoAtATime); }));
  }
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "take" + std::to_string(i) + ".mp3";
    if (!fs::exists(ours / name) || !fs::exists(inputs / name)) {
      std::fprintf(stderr, "missing output %s\n", name.c_str());
      return 1;
    }
  }

  std::printf("%d files of %d s, 44.1 kHz 16-bit stereo, to MP3 CBR 128; best of %d alternating runs\n",
              kFiles, kSeconds, kRuns);
  std::printf("melvanto-cli -j 2      %7.0f ms\n", bestOurs * 1e3);
  std::printf("lame one after another %7.0f ms   ratio ours/lame %.2f\n", bestSequential * 1e3,
              bestOurs / bestSequential);
  std::printf("lame two at a time     %7.0f ms   ratio ours/lame %.2f  (goal: <= 1)\n", bestParallel * 1e3,
              bestOurs / bestParallel);
  fs::remove_all(dir);
  return 0;
}
