#include "mp3_out.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>

#include "au_exception.h"
#include "id3v1_record.h"
#include "pcm16.h"
#include "unique_fd.h"

namespace melvanto {

namespace {

const char kLameMissing[] = "lame_enc.dll library could not be loaded.";
const char kNoFileName[] = "File name is not assigned.";
const char kWriteFailed[] = "Error writing down mp3 file";

constexpr std::uint32_t Bool32(bool value) { return value ? 0xFFFFFFFFu : 0u; }

// More channels than any real recording has would only size a huge buffer.
constexpr unsigned kMaxInputChannels = 64;

// Puts the record back as the file's last 128 bytes: over the record there, else after
// the audio. TagLib's save rewrites the record from the few values it is given (and drops
// it when they are empty), which would lose comment, track and genre.
void PutRecordBack(const std::string& fileName, const TId3v1Record& record) {
  const int fd = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  const off_t size = ::lseek(fd, 0, SEEK_END);
  char head[3] = {};
  off_t at = size;
  if (size >= static_cast<off_t>(record.size()) && ::pread(fd, head, 3, size - 128) == 3 &&
      std::memcmp(head, "TAG", 3) == 0)
    at = size - 128;
  (void)!::pwrite(fd, record.data(), record.size(), at);
  ::close(fd);
}

// Puts our tag in place of the one TagLib saved: TagLib's calls take the year and the track
// as numbers and know no comment language, copyright or picture, so a date, a track total
// and those would be lost.
// Whether there is a frame to write: a file with no values gets no tag.
bool HasFrames(const TId3v2Tags& tags) {
  if (!tags.Pictures().empty()) return true;
  for (int i = 0; i < tags.Count(); ++i)
    if (!tags.AsString(tags.NameByIndex(i)).empty()) return true;
  return false;
}

void PutWholeTag(const std::string& fileName, TId3v2Tags& tags) {
  if (!HasFrames(tags)) return;
  const UniqueFd fd(::open(fileName.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.Valid() || !tags.ReplaceLeadingTag(fd.Get(), true)) throw EAuException("Failed to save tags");
}

}  // namespace

std::uint32_t BitRateKbps(TMP3BitRate rate) {
  static constexpr std::array<std::uint32_t, 16> kKbps = {0,   32,  40,  48,  56,  64,  80,  96,
                                                          112, 128, 144, 160, 192, 224, 256, 320};
  return kKbps[static_cast<std::size_t>(rate)];
}

TMP3Out::TMP3Out() {
  // Bound now if present; a missing library matters only when a run needs it.
  BindLameEnc();
  BindTagLib();
}

TMP3Out::~TMP3Out() { Stop(false); }

TLameConfig TMP3Out::MakeConfig(std::uint32_t sampleRate, std::uint32_t channels) const {
  namespace c = lame_config;
  TLameConfig r{};
  PutConfig32(r, c::kConfigKind, c::kConfigLame);
  PutConfig32(r, c::kStructVersion, c::kVersion);
  PutConfig32(r, c::kStructSize, c::kSize);
  PutConfig32(r, c::kSampleRate, sampleRate);
  PutConfig32(r, c::kReSampleRate, 0);
  std::int32_t mode = static_cast<std::int32_t>(Mode_);
  if (Mode_ == TMP3Mode::mmDual) mode = c::kModeStereo;
  if (channels == 1) mode = c::kModeMono;
  PutConfig32(r, c::kMode, static_cast<std::uint32_t>(mode));
  PutConfig32(r, c::kBitrate, BitRateKbps(BitRate_));
  PutConfig32(r, c::kMaxBitrate, BitRateKbps(MaximumBitrate_));
  PutConfig32(r, c::kCrc, Bool32(CRC_));
  PutConfig32(r, c::kCopyright, Bool32(Copyright_));
  PutConfig32(r, c::kOriginal, Bool32(Original_));
  PutConfig32(r, c::kWriteVbrHeader, Bool32(EnableVBR_));
  PutConfig32(r, c::kEnableVbr, Bool32(EnableVBR_));
  PutConfig32(r, c::kVbrQuality, EnableVBR_ ? static_cast<std::uint32_t>(VBRQuality_) : 0);
  const bool abr = AverageBitrate_ != TMP3BitRate::mbrAuto;
  PutConfig32(r, c::kVbrAbrBps, BitRateKbps(AverageBitrate_) * 1000);
  PutConfig32(r, c::kVbrMethod, static_cast<std::uint32_t>(abr ? c::kVbrMethodAbr : c::kVbrMethodNew));
  PutConfig32(r, c::kNoReservoir, Bool32(!EnableBitReservoir_));
  PutConfig32(r, c::kStrictIso, Bool32(StrictISO_));
  return r;
}

void TMP3Out::WriteAll(const void* data, std::uint32_t bytes, const char* failure) {
  if (bytes == 0) return;
  if (Stream_->Write(data, bytes) != bytes && failure != nullptr) throw EAuException(failure);
}

void TMP3Out::Prepare() {
  Encoder = 0;
  Lame = BindLameEnc();
  if (!Lame.Loaded) throw EAuException(kLameMissing);
  OpenTargetStream(kNoFileName);
  // What the finishing step needs, taken now: the run does not see later changes.
  RunFileName = OwnNamedFile() ? FileName() : std::string();
  Record = MakeId3v1Record(*Id3v1Tags_, TId3v1YearForm::FourDigitsOnly);
  RunId3v2Tags.Assign(Id3v2Tags_.get());
  TAuInput& input = *Input();
  input.Init();

  InputBits = input.BitsPerSample();
  InputChannels = input.Channels();
  const TLameConfig config = MakeConfig(input.SampleRate(), InputChannels);
  // Mono mode takes one channel and every other mode two: the input is mixed to match.
  EncoderChannels = GetConfig32(config, lame_config::kMode) == lame_config::kModeMono ? 1 : 2;

  std::uint32_t samples = 0, bufferSize = 0;
  BE_ERR error = BE_ERR_INVALID_FORMAT;
  const bool usableInput = (InputBits == 8 || InputBits == 16 || InputBits == 24 || InputBits == 32) &&
                           InputChannels > 0 && InputChannels <= kMaxInputChannels;
  if (usableInput) {
    // The placeholder for the Info frame only where it can be filled in afterwards.
    error = Lame.beInitStream(&config, &samples, &bufferSize, &Encoder,
                              RunFileName.empty() ? TInfoFrame::Never : TInfoFrame::Always);
  }
  if (error != BE_ERR_SUCCESSFUL || samples < EncoderChannels) {
    if (error == BE_ERR_SUCCESSFUL) Lame.beCloseStream(Encoder);
    Encoder = 0;
    CloseOwnStream();
    input.Flush();
    throw EAuException("LAME Error: " + std::to_string(error));
  }

  const std::uint32_t frames = samples / EncoderChannels;
  InputFrameBytes = InputBits / 8 * InputChannels;
  PcmBuffer.assign(static_cast<std::size_t>(frames) * InputFrameBytes, 0);
  Samples.assign(static_cast<std::size_t>(frames) * EncoderChannels, 0);
  Mp3Buffer.assign(bufferSize, 0);
}

bool TMP3Out::DoOutput(bool Abort) {
  if (!CanOutput()) return true;
  if (Abort) return false;
  bool endReached = false;
  const std::uint32_t bytes =
      Input()->FillBuffer(PcmBuffer.data(), static_cast<std::uint32_t>(PcmBuffer.size()), endReached);
  const std::uint32_t frames = bytes / InputFrameBytes;
  if (frames == 0) return false;
  ConvertToPcm16(PcmBuffer.data(), frames, InputBits, InputChannels, EncoderChannels, Samples.data());
  std::uint32_t produced = 0;
  // An encoder that refuses a chunk would silently drop that stretch of audio.
  if (const BE_ERR error = Lame.beEncodeChunk(Encoder, frames * EncoderChannels, Samples.data(), Mp3Buffer.data(),
                                              &produced);
      error != BE_ERR_SUCCESSFUL)
    throw EAuException("LAME Error: " + std::to_string(error));
  WriteAll(Mp3Buffer.data(), produced, kWriteFailed);
  return !endReached;
}

void TMP3Out::Done() {
  TAuInput* input = Input();
  const bool encoded = Encoder != 0;
  if (encoded) {
    std::uint32_t produced = 0;
    Lame.beDeinitStream(Encoder, Mp3Buffer.data(), &produced);
    try {
      WriteAll(Mp3Buffer.data(), produced, kWriteFailed);
      WriteAll(Record.data(), static_cast<std::uint32_t>(Record.size()), kWriteFailed);
    } catch (const std::exception& e) {
      // The file lacks its end: say so, and still release the encoder, file and input.
      SetExceptionMessage(e.what());
    }
  }
  CloseOwnStream();
  if (encoded) {
    Lame.beCloseStream(Encoder);
    Encoder = 0;
    // At constant bit rate too: without the Info frame decoders cannot trim the encoder's
    // delay and padding, and every file plays longer than its source.
    if (!RunFileName.empty()) Lame.beWriteVBRHeader(RunFileName.c_str());
  }
  PcmBuffer = {};
  Samples = {};
  Mp3Buffer = {};

  if (encoded && !RunFileName.empty()) {
    const TTagLibBinding tagLib = BindTagLib();
    try {
      // Our own writers have the last word on both tags, so a system without TagLib still
      // gets a fully tagged file.
      if (tagLib.Loaded) WriteTagsWithTagLib(tagLib, RunFileName, RunId3v2Tags);
      PutRecordBack(RunFileName, Record);
      PutWholeTag(RunFileName, RunId3v2Tags);
    } catch (...) {
      if (input != nullptr) input->Flush();
      throw;
    }
  }
  if (input != nullptr) input->Flush();
}

}  // namespace melvanto
