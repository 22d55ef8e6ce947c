#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace melvanto::acm {

// Decodes raw MPEG audio frames (as stored in a WAV data chunk) piece by piece: every frame
// the parser finds, the decoder's last frames flushed at the end, nothing trimmed at either
// end. The PCM is interleaved signed 16-bit at the channel count and rate given to Open,
// appended to Pending() as each piece is fed.
class MpegAudioDecoder {
 public:
  MpegAudioDecoder();
  ~MpegAudioDecoder();
  MpegAudioDecoder(const MpegAudioDecoder&) = delete;
  MpegAudioDecoder& operator=(const MpegAudioDecoder&) = delete;

  // False when the decoder cannot be set up for that output.
  bool Open(int channels, int rate);
  // Parses and decodes size bytes, which must be followed by kPadding readable bytes.
  bool Feed(const std::uint8_t* data, std::size_t size);
  // Decodes what the parser and the resampler still hold; false when no frame ever decoded.
  bool Finish();
  std::vector<std::uint8_t>& Pending();

  static constexpr std::size_t kPadding = 64;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Counts the frames raw MPEG audio holds by their headers alone (no decoding), as the PCM
// frames they give at the rate asked for. Fed piece by piece, with the same padding.
class MpegFrameCounter {
 public:
  MpegFrameCounter();
  ~MpegFrameCounter();
  MpegFrameCounter(const MpegFrameCounter&) = delete;
  MpegFrameCounter& operator=(const MpegFrameCounter&) = delete;

  bool Feed(const std::uint8_t* data, std::size_t size);
  // Flushes the parser; the PCM frames at outRate, 0 when no frame was found.
  std::int64_t Finish(int outRate);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace melvanto::acm
