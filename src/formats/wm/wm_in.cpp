#include "wm_in.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "au_exception.h"
#include "text_codec.h"
#include "wm_picture.h"

namespace melvanto {

using namespace wmf;

namespace {

// Frames in a length of 100-ns units, to the nearest.
std::int64_t FramesOf(std::uint64_t hundredNs, std::uint32_t rate) {
  const long double frames = std::nearbyint(static_cast<long double>(hundredNs) * rate / 10'000'000.0L);
  return static_cast<std::int64_t>(std::min<long double>(frames, std::numeric_limits<std::int64_t>::max() / 8));
}

}  // namespace

TWMIn::TWMIn() = default;

TWMIn::~TWMIn() {
  NotifyDestruction();
  CloseFile();
}

void TWMIn::Reopen() {
  std::lock_guard lock(FileLock);
  if (OpenCount == 0) return;
  CloseFile();
  OpenFile();
}

void TWMIn::SetHighPrecision(bool value) {
  std::lock_guard lock(DataLock);
  if (Busy_ || OutputChannels_ != TChannelsNumber::cnMonoOrStereo) return;
  HighPrecision_ = value;
  Reopen();
}

void TWMIn::SetOutputChannels(TChannelsNumber value) {
  std::lock_guard lock(DataLock);
  if (Busy_) return;
  if (value != TChannelsNumber::cnMonoOrStereo) HighPrecision_ = true;
  OutputChannels_ = value;
  Reopen();
}

TId3v2Tags* TWMIn::Id3v2Tags() {
  std::lock_guard lock(FileLock);
  OpenFile();
  return Id3v2Tags_.get();
}

void TWMIn::ReleaseReader() {
  if (Ctx.Reader) Ctx.Reader->Close();
  Ctx = TReaderContext{};
}

// Picks the output and PCM format by the channel request; later outputs may replace the choice.
void TWMIn::ChooseFormat(std::uint32_t outputs) {
  const auto request = static_cast<std::int32_t>(OutputChannels_.load());
  IWMSyncReader& reader = *Ctx.Reader;
  for (std::uint32_t output = 0; output < outputs; ++output) {
    std::shared_ptr<IWMOutputMediaProps> props;
    WM_MEDIA_TYPE current;
    if (Failed(reader.GetOutputProps(output, &props)) || !props || Failed(props->GetMediaType(&current)) ||
        current.majortype != TMajorType::Audio)
      continue;
    std::uint8_t flag[4];
    const std::int32_t discrete = HighPrecision_ ? -1 : 0;
    std::memcpy(flag, &discrete, 4);
    reader.SetOutputSetting(output, g_wszEnableDiscreteOutput, WMT_ATTR_DATATYPE::WMT_TYPE_BOOL, flag, 4);
    std::uint32_t targetChannels = current.wave.nChannels;
    std::uint32_t targetRate = current.wave.nSamplesPerSec;
    std::uint32_t bestChannels = 0, bestRate = 0, bestBits = 0;
    if (request > 2) {
      std::uint8_t speakers[4];
      std::memcpy(speakers, &request, 4);
      reader.SetOutputSetting(output, g_wszSpeakerConfig, WMT_ATTR_DATATYPE::WMT_TYPE_DWORD, speakers, 4);
    }
    std::uint32_t count = 0;
    if (Failed(reader.GetOutputFormatCount(output, &count))) continue;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::shared_ptr<IWMOutputMediaProps> format;
      WM_MEDIA_TYPE type;
      if (Failed(reader.GetOutputFormat(output, i, &format)) || !format || Failed(format->GetMediaType(&type)) ||
          !type.hasWaveFormat)
        continue;
      const WAVEFORMATEX& w = type.wave;
      bool accept = false;
      if (request == 0) {
        accept = w.nChannels == targetChannels && w.nSamplesPerSec == targetRate && w.wBitsPerSample >= bestBits;
      } else if (request > 2) {
        accept = w.nChannels == static_cast<std::uint32_t>(request);
      } else if (request == -1) {
        accept = w.nChannels >= bestChannels && w.nSamplesPerSec >= bestRate && w.wBitsPerSample >= bestBits;
      }
      if (!accept) continue;
      bestChannels = w.nChannels;
      bestRate = w.nSamplesPerSec;
      bestBits = w.wBitsPerSample;
      Ctx.FormatFound = true;
      Ctx.OutputNumber = output;
      Ctx.Channels = w.nChannels;
      Ctx.SampleRate = w.nSamplesPerSec;
      Ctx.BitsPerSample = w.wBitsPerSample;
      reader.SetOutputProps(output, format.get());
    }
  }
}

void TWMIn::OpenReader(TStream* stream) {
  Ctx = TReaderContext{};
  if (Failed(WMCreateSyncReader(&Ctx.Reader)) || !Ctx.Reader) {
    Ctx.Reader.reset();
    return;
  }
  Ctx.AudioStream = std::make_shared<TAudioStream>(stream);
  if (Failed(Ctx.Reader->OpenStream(Ctx.AudioStream))) {
    try {
      stream->Seek(30, TSeekOrigin::soBeginning);
    } catch (const std::exception&) {
    }
    if (Failed(Ctx.Reader->OpenStream(Ctx.AudioStream))) {
      Ctx = TReaderContext{};
      return;
    }
  }
  std::uint32_t outputs = 0;
  if (Failed(Ctx.Reader->GetOutputCount(&outputs))) {
    ReleaseReader();
    return;
  }
  Ctx.Reader->GetHeaderInfo(&Ctx.HeaderInfo);
  ChooseFormat(outputs);
  if (!Ctx.FormatFound) return;
  if (Failed(Ctx.Reader->GetStreamNumberForOutput(Ctx.OutputNumber, &Ctx.StreamNumber))) Ctx.StreamNumber = 0;
  if (Ctx.Reader->SetReadStreamSamples(Ctx.StreamNumber, false) == NS_E_PROTECTED_CONTENT) Ctx.Protected = true;
  Ctx.Duration = Length(g_wszWMDuration);
  Ctx.StatedDuration = Length(g_wszStatedDuration);
}

// A length attribute in 100 ns; 0 when the file has none.
std::uint64_t TWMIn::Length(const std::u16string& name) {
  std::uint16_t streamZero = 0, length = 8;
  WMT_ATTR_DATATYPE type{};
  std::uint8_t value[8] = {};
  std::uint64_t result = 0;
  if (Ctx.HeaderInfo && Succeeded(Ctx.HeaderInfo->GetAttributeByName(&streamZero, name, &type, value, &length)) &&
      length == 8)
    std::memcpy(&result, value, 8);
  return result;
}

// Text up to its terminating null; empty when the file has no such attribute.
std::u16string TWMIn::Attribute(const std::u16string& name) {
  if (!Ctx.HeaderInfo) return {};
  std::uint16_t stream = 0, length = 0;
  WMT_ATTR_DATATYPE type{};
  if (Failed(Ctx.HeaderInfo->GetAttributeByName(&stream, name, &type, nullptr, &length)) || length == 0) return {};
  std::vector<std::uint8_t> value(length);
  if (Failed(Ctx.HeaderInfo->GetAttributeByName(&stream, name, &type, value.data(), &length))) return {};
  std::u16string text(std::min<std::size_t>(length, value.size()) / 2, u'\0');
  std::memcpy(text.data(), value.data(), text.size() * 2);
  const auto end = text.find(u'\0');
  if (end != std::u16string::npos) text.resize(end);
  return text;
}

void TWMIn::ReadTags() {
  TId3v2Tags& id3 = *Id3v2Tags_;
  TCommonTags& common = *CommonTags_;
  id3.Clear();
  common.Clear();
  const std::u16string artist = Attribute(g_wszWMAuthor);
  id3.SetArtist(artist);
  common.SetArtist(artist);
  const std::u16string title = Attribute(g_wszWMTitle);
  id3.SetTitle(title);
  common.SetTitle(title);
  const std::u16string album = Attribute(g_wszWMAlbumTitle);
  id3.SetAlbum(album);
  common.SetAlbum(album);
  const std::u16string genre = Attribute(g_wszWMGenre);
  id3.SetGenre(genre);
  common.SetGenre(genre);
  const std::string track = TrackNumber();
  id3.SetTrack(track);
  common.SetTrack(track);
  const std::string year = WideToLatin1(Attribute(g_wszWMYear));
  id3.SetYear(year);
  common.SetYear(year);
  id3.SetComment(Attribute(g_wszWMDescription));
  id3.SetCopyright(Attribute(g_wszWMCopyright));
  id3.SetPictures(Pictures());
}

// WM/TrackNumber counts from 1 and is kept as written ("3/12"); only a file without it
// falls back to WM/Track, which counts from 0.
std::string TWMIn::TrackNumber() {
  if (std::string number = WideToLatin1(Attribute(g_wszWMTrackNumber)); !number.empty()) return number;
  const std::string zeroBased = WideToLatin1(Attribute(g_wszWMTrack));
  if (zeroBased.empty() || zeroBased.size() > 9 ||
      !std::all_of(zeroBased.begin(), zeroBased.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return zeroBased;
  return std::to_string(std::stol(zeroBased) + 1);
}

std::vector<TTagPicture> TWMIn::Pictures() {
  std::vector<TTagPicture> pictures;
  std::vector<std::uint16_t> indices;
  if (!Ctx.HeaderInfo || Failed(Ctx.HeaderInfo->GetAttributeIndices(0, g_wszWMPicture, &indices))) return pictures;
  for (const std::uint16_t index : indices) {
    std::uint32_t length = 0;
    WMT_ATTR_DATATYPE type{};
    if (Failed(Ctx.HeaderInfo->GetAttributeByIndexEx(0, index, &type, nullptr, &length)) ||
        type != WMT_ATTR_DATATYPE::WMT_TYPE_BINARY)
      continue;
    std::vector<std::uint8_t> bytes(length);
    if (Failed(Ctx.HeaderInfo->GetAttributeByIndexEx(0, index, &type, bytes.data(), &length))) continue;
    auto picture = DecodeWmPicture(bytes.data(), std::min<std::size_t>(length, bytes.size()));
    if (!picture) continue;  // a damaged picture is left out; the sound is still the file's
    pictures.push_back(TTagPicture{WideToLatin1(picture->MimeType), picture->PictureType,
                                   std::move(picture->Description), std::move(picture->Data)});
  }
  return pictures;
}

void TWMIn::OpenFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount > 0) return;
  if (!StreamAssigned_ && WideFileName_.empty()) throw EAuException("File name is not assigned");
  TStream* stream = OpenSourceStream();
  OpenReader(stream);
  Valid_ = Ctx.FormatFound;
  if (!Ctx.Reader) {
    // Nothing keeps the file open while OpenCount says it is closed.
    CloseSourceStream();
    return;
  }
  if (Ctx.Protected) {
    ReleaseReader();
    CloseSourceStream();
    Valid_ = false;
    throw EAuException("File is protected");
  }
  Channels_ = Ctx.Channels;
  BitsPerSample_ = Ctx.BitsPerSample;
  SampleRate_ = Ctx.SampleRate;
  // To the sample: the length also ends delivery, and one rounded down would cut the audio.
  FileSamples_ = FramesOf(Ctx.Duration, SampleRate_);
  TotalSamples_ = FileSamples_;
  const std::int64_t frameBytes = Channels_ * (BitsPerSample_ / 8);
  Size_ = FileSamples_ * frameBytes;
  StatedSize_ = std::max(Size_.load(), FramesOf(Ctx.StatedDuration, SampleRate_) * frameBytes);
  Seekable_ = true;
  ReadTags();
  ++OpenCount;
}

void TWMIn::CloseFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount <= 0) return;
  ReleaseReader();
  OpenCount = 0;
  CloseSourceStream();
}

void TWMIn::GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) {
  Buffer = nullptr;
  const std::int64_t size = Size();
  if (size > 0) {
    const std::int64_t left = std::max<std::int64_t>(0, size - Position());
    if (left < Bytes) Bytes = static_cast<std::uint32_t>(left);
  }
  if (!Ctx.Reader || Bytes == 0) {
    Bytes = 0;
    return;
  }
  for (;;) {
    if (Ctx.Sample) {
      std::uint8_t* data = nullptr;
      std::uint32_t length = 0;
      if (Succeeded(Ctx.Sample->GetBufferAndLength(&data, &length)) && Ctx.Offset < length) {
        const std::uint32_t n = std::min(length - Ctx.Offset, Bytes);
        Buffer = data + Ctx.Offset;
        Ctx.Offset += n;
        Bytes = n;
        return;
      }
      Ctx.Sample.reset();
      Ctx.Offset = 0;
    }
    std::uint64_t time = 0, duration = 0;
    std::uint32_t flags = 0, output = 0;
    std::uint16_t stream = 0;
    if (Failed(Ctx.Reader->GetNextSample(Ctx.StreamNumber, &Ctx.Sample, &time, &duration, &flags, &output, &stream)) ||
        !Ctx.Sample) {
      Ctx.Sample.reset();
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
  }
}

// The reader positions to the 100-ns tick of the frame itself, so the seek is sample-exact.
bool TWMIn::SeekInternal(std::int64_t& SampleNum) {
  if (!Busy_ || !Ctx.Reader || SampleRate_ == 0) return false;
  if (FileSamples_ == 0) return false;  // no known length to seek within
  if (SampleNum < 0 || SampleNum > std::numeric_limits<std::int64_t>::max() / 10'000'000) return false;
  const std::uint64_t start = static_cast<std::uint64_t>((SampleNum * 10'000'000 + SampleRate_ - 1) / SampleRate_);
  if (Failed(Ctx.Reader->SetRange(start, 0))) return false;
  // Audio from before the seek point must not go out after it.
  Ctx.Sample.reset();
  Ctx.Offset = 0;
  return true;
}

}  // namespace melvanto
