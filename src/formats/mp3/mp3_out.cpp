#include "mp3_out.h"

#include <array>
#include <string>

#include "au_exception.h"
#include "id3v1_record.h"
#include "pcm16.h"

namespace melvanto {

namespace {

const char kLameMissing[] = "lame_enc.dll library could not be loaded.";
const char kNoFileName[] = "File name is not assigned.";
const char kWriteFailed[] = "Error writing down mp3 file";

constexpr std::uint32_t Bool32(bool value) { return value ? 0xFFFFFFFFu : 0u; }

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
                           InputChannels > 0;
  if (usableInput) {
    // The placeholder for the Info frame only where it can be filled in afterwards.
    error = Lame.beInitStream(&config, &samples, &bufferSize, &Encoder,
                              OwnNamedFile() ? TInfoFrame::Always : TInfoFrame::Never);
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
  Lame.beEncodeChunk(Encoder, frames * EncoderChannels, Samples.data(), Mp3Buffer.data(), &produced);
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
      WriteAll(Mp3Buffer.data(), produced, nullptr);
      const TId3v1Record record = MakeId3v1Record(*Id3v1Tags_, TId3v1YearForm::FourDigitsOnly);
      WriteAll(record.data(), static_cast<std::uint32_t>(record.size()), nullptr);
    } catch (const std::exception&) {
      // A failing disk still leaves the encoder, the file and the input released.
    }
  }
  CloseOwnStream();
  if (encoded) {
    Lame.beCloseStream(Encoder);
    Encoder = 0;
    // At constant bit rate too: without the Info frame decoders cannot trim the encoder's
    // delay and padding, and every file plays longer than its source.
    if (OwnNamedFile()) Lame.beWriteVBRHeader(FileName().c_str());
  }
  PcmBuffer = {};
  Samples = {};
  Mp3Buffer = {};

  if (encoded && OwnNamedFile()) {
    const TTagLibBinding tagLib = BindTagLib();
    if (tagLib.Loaded) {
      try {
        WriteTagsWithTagLib(tagLib, FileName(), *Id3v2Tags_);
      } catch (...) {
        if (input != nullptr) input->Flush();
        throw;
      }
    }
  }
  if (input != nullptr) input->Flush();
}

}  // namespace melvanto
