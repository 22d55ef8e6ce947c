#include "media_probe.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "mp3_in.h"
#include "text_codec.h"
#include "wave_in.h"
#include "wm_in.h"

namespace melvanto {
namespace {

// The first bytes of every ASF file: the header object's GUID.
constexpr std::array<std::uint8_t, 16> kAsfHeaderGuid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                         0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

bool StartsWithAsfHeader(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::array<char, 16> head{};
  if (!f.read(head.data(), head.size())) return false;
  return std::memcmp(head.data(), kAsfHeaderGuid.data(), head.size()) == 0;
}

void TakeFormat(TAuFileIn& in, TMediaInfo& info) {
  info.Channels = in.Channels();
  info.SampleRate = in.SampleRate();
  info.BitsPerSample = in.BitsPerSample();
  // The readers give -1 for a file without audio: that is no frames.
  info.Frames = std::max<std::int64_t>(0, in.TotalSamples());
}

// The file's own length: an MP3 reader's TotalSamples holds a third of a second more, a
// margin for its delivery.
void TakeFileLength(TWMIn& in, TMediaInfo& info) {
  if (info.Frames > 0) info.Frames = std::max<std::int64_t>(0, in.FileSamples());
}

void TakeTags(TWMIn& in, TMediaInfo& info) {
  const TId3v2Tags& tags = *in.Id3v2Tags();
  info.HasTags = true;
  info.Title = WideToUtf8(tags.Title());
  info.Artist = WideToUtf8(tags.Artist());
  info.Album = WideToUtf8(tags.Album());
  info.Year = WideToUtf8(Latin1ToWide(tags.Year()));
  info.Genre = WideToUtf8(tags.Genre());
  info.Track = WideToUtf8(Latin1ToWide(tags.Track()));
  info.Comment = WideToUtf8(tags.Comment());
}

}  // namespace

const char* WavTypeName(int type) {
  switch (static_cast<TWavType>(type)) {
    case TWavType::wtPCM:
      return "wtPCM";
    case TWavType::wtDVIADPCM:
      return "wtDVIADPCM";
    case TWavType::wtMSADPCM:
      return "wtMSADPCM";
    case TWavType::wtACM:
      return "wtACM";
    case TWavType::wtIEEEFloat:
      return "wtIEEEFloat";
    case TWavType::wtExtPCM:
      return "wtExtPCM";
    case TWavType::wtExtIEEEFloat:
      return "wtExtIEEEFloat";
    case TWavType::wtALaw:
      return "A-law";
    case TWavType::wtMuLaw:
      return "mu-law";
    case TWavType::wtUnsupported:
      break;
  }
  return "wtUnsupported";
}

TMediaInfo ProbeMedia(const std::string& path) {
  TMediaInfo info;
  info.Path = path;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) {
    info.Error = "no such file";
    return info;
  }
  if (!std::filesystem::is_regular_file(status)) {
    info.Error = "not a regular file";
    return info;
  }
  if (std::ifstream probe(path, std::ios::binary); !probe) {
    info.Error = "cannot be opened for reading";
    return info;
  }

  {
    TWaveIn wav;
    wav.SetFileName(path);
    if (wav.Valid()) {
      info.Container = "WAV";
      info.Encoding = WavTypeName(static_cast<int>(wav.WavType()));
      TakeFormat(wav, info);
      return info;
    }
  }
  if (StartsWithAsfHeader(path)) {
    TWMIn wma;
    wma.SetFileName(path);
    if (!wma.Valid()) {
      info.Error = "an ASF file without audio the WMA reader can decode (or a protected one)";
      return info;
    }
    info.Container = "WMA";
    TakeFormat(wma, info);
    TakeFileLength(wma, info);
    TakeTags(wma, info);
    return info;
  }
  TMP3In mp3;
  mp3.SetFileName(path);
  if (mp3.Valid()) {
    info.Container = "MP3";
    TakeFormat(mp3, info);
    TakeFileLength(mp3, info);
    TakeTags(mp3, info);
    return info;
  }
  info.Error = "not a WAV, WMA or MP3 file the readers recognise";
  return info;
}

}  // namespace melvanto
