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

void TakeTags(const TId3v2Tags& tags, TMediaInfo& info) {
  info.HasTags = true;
  info.Title = WideToUtf8(tags.Title());
  info.Artist = WideToUtf8(tags.Artist());
  info.Album = WideToUtf8(tags.Album());
  info.Year = WideToUtf8(Latin1ToWide(tags.Year()));
  info.Genre = WideToUtf8(tags.Genre());
  info.Track = WideToUtf8(Latin1ToWide(tags.Track()));
  info.Comment = WideToUtf8(tags.Comment());
}

const char* ContainerSuffix(TWavContainer container) {
  switch (container) {
    case TWavContainer::wcRf64:
      return " in RF64";
    case TWavContainer::wcWave64:
      return " in Wave64";
    case TWavContainer::wcRiff:
      break;
  }
  return "";
}

}  // namespace

const char* WavTypeName(int type) {
  switch (static_cast<TWavType>(type)) {
    case TWavType::wtPCM:
      return "PCM";
    case TWavType::wtDVIADPCM:
      return "IMA ADPCM";
    case TWavType::wtMSADPCM:
      return "Microsoft ADPCM";
    case TWavType::wtACM:
      return "MPEG Layer-3";
    case TWavType::wtIEEEFloat:
      return "IEEE float";
    case TWavType::wtExtPCM:
      return "PCM (extensible)";
    case TWavType::wtExtIEEEFloat:
      return "IEEE float (extensible)";
    case TWavType::wtALaw:
      return "A-law";
    case TWavType::wtMuLaw:
      return "mu-law";
    case TWavType::wtUnsupported:
      break;
  }
  return "unsupported";
}

namespace {
// Fills info from the first reader that takes the file; may raise.
void ProbeWithReaders(const std::string& path, TMediaInfo& info);
}  // namespace

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
  // A reader that refuses a file by raising (a protected WMA) fails this file only.
  try {
    ProbeWithReaders(path, info);
  } catch (const std::exception& e) {
    TMediaInfo failed;
    failed.Path = path;
    failed.Error = e.what();
    return failed;
  }
  return info;
}

namespace {

void ProbeWithReaders(const std::string& path, TMediaInfo& info) {
  {
    TWaveIn wav;
    wav.SetFileName(path);
    if (wav.Valid()) {
      info.Container = "WAV";
      info.Encoding = WavTypeName(static_cast<int>(wav.WavType()));
      info.Encoding += ContainerSuffix(wav.Container());
      TakeFormat(wav, info);
      // As stored: a 64-bit float file is delivered as 32-bit integers, A-law as 16 bits.
      // MPEG Layer-3 states none; its decoded width stands.
      if (wav.StoredBitsPerSample() != 0) info.BitsPerSample = wav.StoredBitsPerSample();
      // Most WAV files have no tags: those show none rather than empty ones.
      if (!wav.Id3v2Tags()->Empty()) TakeTags(*wav.Id3v2Tags(), info);
      return;
    }
  }
  if (StartsWithAsfHeader(path)) {
    TWMIn wma;
    wma.SetFileName(path);
    if (!wma.Valid()) {
      info.Error = "an ASF file without audio the WMA reader can decode (or a protected one)";
      return;
    }
    info.Container = "WMA";
    TakeFormat(wma, info);
    TakeFileLength(wma, info);
    TakeTags(*wma.Id3v2Tags(), info);
    return;
  }
  TMP3In mp3;
  mp3.SetFileName(path);
  if (mp3.Valid()) {
    info.Container = "MP3";
    TakeFormat(mp3, info);
    TakeFileLength(mp3, info);
    TakeTags(*mp3.Id3v2Tags(), info);
    return;
  }
  info.Error = "not a WAV, WMA or MP3 file the readers recognise";
}

}  // namespace

}  // namespace melvanto
