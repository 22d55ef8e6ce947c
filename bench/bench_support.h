#pragma once

// What every benchmark program needs: timing, running a peer tool, and running one
// conversion through the pipeline to its end.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "components.h"

namespace melvanto::bench {

using Clock = std::chrono::steady_clock;

// The wall time of one run of work, in seconds.
inline double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of several runs: the least disturbed by whatever else the machine does.
inline double BestSeconds(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) best = std::min(best, Seconds(work));
  return best;
}

// Runs a shell command; a failure ends the program, whose numbers would mean nothing.
inline void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

// What a command prints.
inline std::string Output(const std::string& command) {
  std::string text;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p) != nullptr) text += buffer;
    pclose(p);
  }
  return text;
}

// Runs out on in until its done event, on this (the user-interface) thread; an error ends
// the program.
inline void RunToEnd(TAuOutput& out, TAuInput& in) {
  out.SetInput(&in);
  bool done = false;
  out.SetOnDone([&](TComponent*) { done = true; });
  out.Run();
  while (!done) CheckSynchronize(std::chrono::milliseconds(1));
  out.SetOnDone(nullptr);
  if (!out.ExceptionMessage().empty()) {
    std::fprintf(stderr, "conversion failed: %s\n", out.ExceptionMessage().c_str());
    std::exit(1);
  }
}

inline void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// Music-like stereo: a chord of a few partials that changes every half second, each with
// its own swelling amplitude, the channels a little apart, plus quiet noise. Silence or a
// steady tone would encode unrealistically fast.
inline void WriteMusicLikeWav(const std::string& path, int seconds) {
  constexpr std::uint32_t kRate = 44100, kChannels = 2;
  const std::uint32_t frames = kRate * static_cast<std::uint32_t>(seconds);
  const std::uint32_t dataBytes = frames * kChannels * 2;
  std::vector<std::uint8_t> file;
  file.reserve(44 + dataBytes);
  file.insert(file.end(), {'R', 'I', 'F', 'F'});
  Put32(file, 36 + dataBytes);
  file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(file, 16);
  Put16(file, 1);
  Put16(file, kChannels);
  Put32(file, kRate);
  Put32(file, kRate * kChannels * 2);
  Put16(file, kChannels * 2);
  Put16(file, 16);
  file.insert(file.end(), {'d', 'a', 't', 'a'});
  Put32(file, dataBytes);

  constexpr double kPi = 3.14159265358979323846;
  constexpr int kPartials = 5;
  static const double kRoots[] = {110.0, 130.81, 146.83, 164.81, 98.0, 123.47, 174.61, 196.0};
  static const double kRatios[kPartials] = {1.0, 1.5, 2.0, 3.0, 5.04};
  double phase[2][kPartials] = {};
  std::uint32_t noise = 12345;
  for (std::uint32_t f = 0; f < frames; ++f) {
    const double t = static_cast<double>(f) / kRate;
    const std::uint32_t chord = f / (kRate / 2);
    const double root = kRoots[(chord * 3) % std::size(kRoots)];
    const double inChord = t - chord * 0.5;  // seconds since the chord began
    for (std::uint32_t c = 0; c < kChannels; ++c) {
      double v = 0;
      for (int p = 0; p < kPartials; ++p) {
        const double freq = root * kRatios[p] * (c == 0 ? 1.0 : 1.003);
        phase[c][p] += 2 * kPi * freq / kRate;
        if (phase[c][p] > 2 * kPi) phase[c][p] -= 2 * kPi;
        // A decaying note and a slow swell that differs per partial and channel.
        const double envelope = std::exp(-3.0 * inChord) * (0.6 + 0.4 * std::sin(0.7 * t + p + 1.3 * c));
        v += envelope * std::sin(phase[c][p]) / (p + 1);
      }
      noise = noise * 1664525u + 1013904223u;
      const double n = (static_cast<double>(noise >> 8) / (1u << 24) - 0.5) * 0.02;
      const double s = std::clamp((0.45 * v + n) * 32767.0, -32768.0, 32767.0);
      Put16(file, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lrint(s))) & 0xFFFF);
    }
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

}  // namespace melvanto::bench
