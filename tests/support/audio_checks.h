#pragma once

// Checks of encoded files through ffprobe and ffmpeg: a sweep whose shape shows any shift in
// time, the decoded samples, and where the sweep landed in them.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools.h"

namespace melvanto::testing {

// A rising sweep from 200 Hz to 6 kHz (or 0.4 times the rate, if lower), amplitude 0.5.
inline std::vector<float> Chirp(std::size_t frames, std::uint32_t rate) {
  std::vector<float> v(frames);
  const double f0 = 200, f1 = std::min(6000.0, rate * 0.4), T = double(frames) / rate;
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    v[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * (f0 * t + (f1 - f0) * t * t / (2 * T))));
  }
  return v;
}

// The same signal in every channel as 16-bit little-endian PCM.
inline std::vector<std::uint8_t> Pcm16(const std::vector<float>& mono, unsigned channels) {
  std::vector<std::uint8_t> out;
  out.reserve(mono.size() * channels * 2);
  for (float s : mono) {
    const auto v = static_cast<std::int16_t>(std::lround(s * 32767));
    for (unsigned c = 0; c < channels; ++c) {
      out.push_back(static_cast<std::uint8_t>(v & 0xFF));
      out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
  }
  return out;
}

// ffprobe's entries for a file, one key=value a line; empty when it fails.
inline std::string Probe(const std::string& path, const std::string& entries) {
  return CaptureText("ffprobe -v error -show_entries " + entries + " -of default=nw=1 '" + path + "'");
}

// The number after the first "key=" in text, -1 when there is none.
inline double Field(const std::string& text, const std::string& key) {
  const auto at = text.find(key + "=");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size() + 1);
}

// A file decoded by ffmpeg and mixed to one 16-bit channel.
inline std::vector<std::int16_t> DecodeMono16(const std::string& path) {
  const auto raw = Capture("ffmpeg -nostdin -v error -i '" + path + "' -f s16le -ac 1 - 2>/dev/null");
  std::vector<std::int16_t> out;
  if (!raw) return out;
  out.resize(raw->size() / 2);
  std::memcpy(out.data(), raw->data(), out.size() * 2);
  return out;
}

// The shift of decoded against input (positive: decoded late) that matches best over the
// input's first part.
inline int BestLag(const std::vector<float>& input, const std::vector<std::int16_t>& decoded, int maxLag) {
  const int window = static_cast<int>(std::min<std::size_t>(16384, input.size()));
  double best = -1e300;
  int bestLag = 0;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double sum = 0;
    for (int i = 0; i < window; ++i) {
      const int j = i + lag;
      if (j >= 0 && j < static_cast<int>(decoded.size())) sum += input[i] * decoded[j];
    }
    if (sum > best) {
      best = sum;
      bestLag = lag;
    }
  }
  return bestLag;
}

}  // namespace melvanto::testing
