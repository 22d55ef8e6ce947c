#pragma once

#include <cstdint>
#include <string>

namespace melvanto {

// What the readers see in one file: what melvanto-cli info shows.
struct TMediaInfo {
  std::string Path;
  std::string Error;      // why the file could not be read; empty when it could
  std::string Container;  // "WAV", "WMA" or "MP3"
  std::string Encoding;   // WAV only: "PCM", "A-law in RF64" ...
  std::uint32_t Channels = 0;
  std::uint32_t SampleRate = 0;
  std::uint32_t BitsPerSample = 0;
  std::int64_t Frames = 0;
  bool HasTags = false;  // MP3 and WMA, and WAV files with LIST/INFO or "id3 " chunks
  // UTF-8.
  std::string Title, Artist, Album, Year, Genre, Track, Comment;

  double Seconds() const { return SampleRate == 0 ? 0.0 : static_cast<double>(Frames) / SampleRate; }
};

// "PCM", "IMA ADPCM" ... for the reader's encodings.
const char* WavTypeName(int type);

// Detects the format by content: the WAV reader first, then the ASF header for WMA, then
// the MP3 reader.
TMediaInfo ProbeMedia(const std::string& path);

}  // namespace melvanto
