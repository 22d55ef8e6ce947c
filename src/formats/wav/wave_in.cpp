#include "wave_in.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "acm.h"
#include "au_exception.h"
#include "wave_converter.h"

namespace melvanto {

std::int32_t FloatSampleToInt32(long double v) {
  if (std::isnan(v)) return 0;
  if (v >= 1.0L) return std::numeric_limits<std::int32_t>::max();
  if (v <= -1.0L) return std::numeric_limits<std::int32_t>::min();
  if (v == 0.0L) return 0;
  return static_cast<std::int32_t>(std::floor(v * 2147483647.0L));
}

namespace {

std::int64_t WholeFrames(std::int64_t bytes, std::int64_t frame) { return frame > 0 ? bytes - bytes % frame : bytes; }

// The header walk keeps what it reads in a window and never moves the stream back, so it
// also works on streams that cannot seek.
class HeaderWindow {
 public:
  HeaderWindow(TStream& stream, std::int64_t size, std::int64_t limit)
      : stream_(stream), size_(size), bytes_(static_cast<std::size_t>(limit)) {}

  // Appends n bytes; false when the window or the stream cannot supply them.
  bool Read(std::int64_t n) {
    if (n < 0 || offset_ + n > static_cast<std::int64_t>(bytes_.size())) return false;
    const std::int64_t got = stream_.Read(bytes_.data() + offset_, n);
    offset_ += got;
    position_ += got;
    return got == n;
  }
  const std::uint8_t* Last(std::int64_t n) const { return bytes_.data() + offset_ - n; }
  std::int64_t Offset() const { return offset_; }
  // Whether the stream has nothing more (the walk then has no data chunk to find).
  bool AtEnd() const { return position_ >= size_; }
  // Whether a body of n bytes is in the stream at all (a lying size is refused, not trusted).
  bool Holds(std::int64_t n) const { return n <= size_ - position_; }

 private:
  TStream& stream_;
  std::int64_t size_;
  std::int64_t offset_ = 0;
  std::int64_t position_ = 0;
  std::vector<std::uint8_t> bytes_;
};

enum class Expect { Riff, Wave, Fmt, Fact, Data };

constexpr std::uint32_t kMaxMsCoefs = 32;

}  // namespace

TWaveIn::TWaveIn() = default;

TWaveIn::~TWaveIn() {
  NotifyDestruction();
  CloseFile();
}

void TWaveIn::ReadHeader(TStream& stream) {
  Size_ = 0;
  BitsPerSample_ = SampleRate_ = Channels_ = 0;
  WavType_ = TWavType::wtUnsupported;
  HeaderBroken_ = false;
  const std::int64_t start = stream.Position();
  HeaderWindow w(stream, stream.Size() - start, kHeaderWindow);
  Expect expect = Expect::Riff;
  auto fail = [&] { WavType_ = TWavType::wtUnsupported; };
  if (!w.Read(4)) return fail();
  while (w.Offset() < kHeaderWindow - 1) {
    if (expect == Expect::Riff || expect == Expect::Wave) {
      // Slide one byte at a time: junk before "RIFF" and the RIFF size are passed over.
      if (IdentifierMatch(w.Last(4), expect == Expect::Riff ? "RIFF" : "WAVE")) {
        if (!w.Read(4)) return fail();
        expect = expect == Expect::Riff ? Expect::Wave : Expect::Fmt;
      } else if (!w.Read(1)) {
        return fail();
      }
    } else {
      const std::uint8_t* id = w.Last(4);
      const bool fmt = IdentifierMatch(id, "fmt ");
      const bool wanted = expect == Expect::Fmt    ? fmt
                          : expect == Expect::Fact ? IdentifierMatch(id, "fact")
                                                   : IdentifierMatch(id, "data");
      if (!w.Read(4)) return fail();
      const std::uint32_t bodySize = GetLE32(w.Last(4));
      if (wanted && expect == Expect::Data) {
        if (WavType_ == TWavType::wtPCM || WavType_ == TWavType::wtIEEEFloat ||
            WavType_ == TWavType::wtExtPCM || WavType_ == TWavType::wtExtIEEEFloat) {
          // A size beyond the end of the file (a cut-off recording, or 0xFFFFFFFF from a
          // streaming writer) counts only the bytes that are there.
          const std::int64_t available = stream.Size() - (start + w.Offset());
          Size_ = std::min<std::int64_t>(bodySize, std::max<std::int64_t>(0, available));
        }
        HeaderSize_ = start + w.Offset();
        return;
      }
      // Every other body must lie inside the window and the file.
      if (!w.Holds(bodySize) || !w.Read(bodySize)) return fail();
      if (wanted && expect == Expect::Fmt) {
        const std::uint8_t* b = w.Last(bodySize);
        if (bodySize < 16) return fail();
        FormatTag_ = GetLE16(b);
        switch (FormatTag_) {
          case kWaveFormatPcm: WavType_ = TWavType::wtPCM; break;
          case kWaveFormatDviAdpcm: WavType_ = TWavType::wtDVIADPCM; break;
          case kWaveFormatMsAdpcm: WavType_ = TWavType::wtMSADPCM; break;
          case kWaveFormatMpegLayer3: WavType_ = TWavType::wtACM; break;
          case kWaveFormatIeeeFloat: WavType_ = TWavType::wtIEEEFloat; break;
          case kWaveFormatExtensible: WavType_ = TWavType::wtExtPCM; break;
          default: return fail();
        }
        Channels_ = GetLE16(b + 2);
        SampleRate_ = GetLE32(b + 4);
        FileBlockAlign_ = GetLE16(b + 12);
        BitsPerSample_ = GetLE16(b + 14);
        if (WavType_ == TWavType::wtDVIADPCM)
          DVIBlockAlign = FileBlockAlign_;
        else
          MSBlockAlign = FileBlockAlign_;
        if (WavType_ == TWavType::wtExtPCM) {
          if (bodySize < 40) return fail();
          const std::uint8_t* sub = b + bodySize - 16;
          if (std::memcmp(sub, kSubFormatIeeeFloat, 16) == 0)
            WavType_ = TWavType::wtExtIEEEFloat;
          else if (std::memcmp(sub, kSubFormatPcm, 16) != 0)
            return fail();
        }
        const bool compressed = WavType_ == TWavType::wtDVIADPCM || WavType_ == TWavType::wtMSADPCM ||
                                WavType_ == TWavType::wtACM;
        if (compressed) {
          if (bodySize < 20) return fail();
          const std::uint16_t perBlock = GetLE16(b + 18);
          if (WavType_ == TWavType::wtDVIADPCM)
            DVISamplesPerBlock = perBlock;
          else
            MSSamplesPerBlock = perBlock;
          if (WavType_ == TWavType::wtMSADPCM) {
            if (bodySize < 22) return fail();
            MSNumCoef = GetLE16(b + 20);
            if (MSNumCoef == 0 || MSNumCoef > kMaxMsCoefs || bodySize < 22 + 4u * MSNumCoef) return fail();
            for (std::uint32_t i = 0; i < MSNumCoef; ++i)
              MSCoefs[i] = {static_cast<std::int16_t>(GetLE16(b + 22 + 4 * i)),
                            static_cast<std::int16_t>(GetLE16(b + 24 + 4 * i))};
          }
          expect = Expect::Fact;
        } else {
          expect = Expect::Data;
        }
      } else if (wanted && expect == Expect::Fact) {
        if (bodySize < 4) return fail();
        const std::uint32_t frames = GetLE32(w.Last(bodySize));
        if (WavType_ == TWavType::wtDVIADPCM)
          DVIFactSamples = frames;
        else
          MSFactSamples = frames;
        expect = Expect::Data;
      }
      // The next chunk's identifier. Writers that follow the RIFF rule put a zero pad byte
      // after an odd-sized body, others do not; an identifier never starts with a zero byte.
      if (bodySize % 2 != 0) {
        if (!w.Read(1)) return fail();
        if (!w.Read(*w.Last(1) == 0 ? 4 : 3)) return fail();
      } else if (!w.Read(4)) {
        return fail();
      }
    }
    if (w.AtEnd()) return fail();
  }
  fail();
}

bool TWaveIn::FormatSupported() const {
  const std::uint32_t channels = Channels_;
  if (SampleRate_ == 0 || channels == 0) return false;
  switch (WavType_) {
    case TWavType::wtPCM:
    case TWavType::wtExtPCM: {
      // Whole-byte samples only, and a frame that fits the delivery buffer.
      if (BitsPerSample_ == 0 || BitsPerSample_ % 8 != 0 || BitsPerSample_ > 32) return false;
      return channels * (BitsPerSample_ / 8) <= kBufferSize;
    }
    case TWavType::wtIEEEFloat:
    case TWavType::wtExtIEEEFloat:
      return (BitsPerSample_ == 32 || BitsPerSample_ == 64) && channels * 8 <= kBufferSize;
    case TWavType::wtDVIADPCM: {
      if (channels > 2) return false;
      const std::uint32_t b = DVIBlockAlign;
      if (channels == 1) return b >= 4 && (2 * (b - 4) + 1) * 2 <= kBufferSize;
      return b >= 8 && (b - 8) % 8 == 0 && ((b - 8) + 1) * 4 <= kBufferSize;
    }
    case TWavType::wtMSADPCM: {
      if (channels > 2) return false;
      const std::uint32_t b = MSBlockAlign, s = MSSamplesPerBlock;
      if (s < 2) return false;
      const std::uint32_t coded = s - 2;
      if (channels == 1) return b >= 7 && coded / 2 <= b - 7 && (2 + 2 * (coded / 2)) * 2 <= kBufferSize;
      return b >= 14 && coded <= b - 14 && (4 + 2 * coded) * 2 <= kBufferSize;
    }
    default:
      return false;
  }
}

void TWaveIn::OpenFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount != 0) return;
  Valid_ = true;
  ShortFloat = false;
  WavType_ = TWavType::wtUnsupported;
  TStream* stream = OpenSourceStream();
  ReadHeader(*stream);
  switch (WavType_) {
    case TWavType::wtUnsupported:
      Valid_ = false;
      break;
    case TWavType::wtPCM:
    case TWavType::wtExtPCM:
      Valid_ = FormatSupported();
      if (Valid_) Size_ = WholeFrames(Size(), Channels_ * (BitsPerSample_ / 8));
      break;
    case TWavType::wtDVIADPCM:
      Valid_ = BitsPerSample_ == 4 && FormatSupported();
      BitsPerSample_ = 16;
      Size_ = DVIFactSamples * 2 * Channels_;
      break;
    case TWavType::wtMSADPCM:
      Valid_ = FormatSupported();
      BitsPerSample_ = 16;
      Size_ = MSFactSamples * 2 * Channels_;
      break;
    case TWavType::wtIEEEFloat:
    case TWavType::wtExtIEEEFloat:
      Valid_ = FormatSupported();
      ShortFloat = BitsPerSample_ == 32;
      if (Valid_) Size_ = WholeFrames(Size(), Channels_ * (BitsPerSample_ / 8));
      if (!ShortFloat) Size_ = Size() / 2;
      BitsPerSample_ = 32;
      break;
    case TWavType::wtACM:
      OpenConverted(*stream);
      break;
  }
  OpenCount = 1;
}

// MPEG Layer-3 in a WAV is converted whole at open time; the PCM image then stands in for
// the file's stream until it is closed.
void TWaveIn::OpenConverted(TStream& source) {
  Valid_ = false;
  TWaveConverter converter;
  source.SetPosition(0);
  converter.LoadWave(source);
  PutLE16(converter.TargetFormat.data(), kWaveFormatPcm);
  const auto* src = reinterpret_cast<const acm::WAVEFORMATEX*>(converter.SourceFormat.data());
  auto* dst = reinterpret_cast<acm::WAVEFORMATEX*>(converter.TargetFormat.data());
  if (acm::acmFormatSuggest(nullptr, src, dst, TWaveConverter::kFormatRecordSize,
                            acm::ACM_FORMATSUGGESTF_WFORMATTAG) != 0 ||
      converter.Convert() != 0)
    return;
  ConvertedStream_ = std::make_unique<TMemoryStream>();
  SavedStream_ = Stream_;
  Stream_ = ConvertedStream_.get();
  if (converter.SaveWave(*ConvertedStream_) != 0) return;
  ConvertedStream_->SetPosition(0);
  ReadHeader(*ConvertedStream_);
  Valid_ = WavType_ == TWavType::wtPCM && FormatSupported();
  WavType_ = TWavType::wtACM;
}

void TWaveIn::CloseFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount == 0) return;
  if (ConvertedStream_) {
    Stream_ = SavedStream_;
    ConvertedStream_.reset();
  }
  CloseSourceStream();
  OpenCount = 0;
}

bool TWaveIn::ReadDVIBlock() {
  const std::uint32_t b = DVIBlockAlign;
  std::memset(BlockBytes_.data(), 0, b);
  if (Stream_->Read(BlockBytes_.data(), b) <= 0) return false;
  for (std::uint32_t c = 0; c < Channels_; ++c) {
    const std::uint8_t* h = BlockBytes_.data() + 4 * c;
    DVIState[c] = {static_cast<std::int16_t>(GetLE16(h)), h[2]};
  }
  return true;
}

bool TWaveIn::ReadMSBlock() {
  const std::uint32_t b = MSBlockAlign;
  std::memset(BlockBytes_.data(), 0, b);
  if (Stream_->Read(BlockBytes_.data(), b) <= 0) return false;
  const std::uint8_t* h = BlockBytes_.data();
  const std::uint32_t n = Channels_;
  for (std::uint32_t c = 0; c < n; ++c) {
    MSState[c].PredictorIndex = h[c];
    MSState[c].Delta = static_cast<std::int16_t>(GetLE16(h + n + 2 * c));
    MSState[c].Sample1 = static_cast<std::int16_t>(GetLE16(h + 3 * n + 2 * c));
    MSState[c].Sample2 = static_cast<std::int16_t>(GetLE16(h + 5 * n + 2 * c));
  }
  return true;
}

std::uint32_t TWaveIn::DecodeDVIBlock() {
  if (!ReadDVIBlock()) return 0;
  const std::uint32_t b = DVIBlockAlign;
  std::size_t frames;
  if (Channels_ == 2)
    frames = adpcm::ImaDecodeStereo(DVIState[0], DVIState[1], BlockBytes_.data() + 8, b - 8, Buffer_.data());
  else
    frames = adpcm::ImaDecodeMono(DVIState[0], BlockBytes_.data() + 4, b - 4, Buffer_.data());
  return static_cast<std::uint32_t>(frames * 2 * Channels_);
}

std::uint32_t TWaveIn::DecodeMSBlock() {
  if (!ReadMSBlock()) return 0;
  const std::span<const adpcm::TMsCoef> coefs(MSCoefs.data(), MSNumCoef);
  const std::uint32_t coded = MSSamplesPerBlock - 2u;
  if (Channels_ == 2)
    return static_cast<std::uint32_t>(
        adpcm::MsDecodeStereo(MSState[0], MSState[1], coefs, BlockBytes_.data() + 14, coded, Buffer_.data()));
  return static_cast<std::uint32_t>(adpcm::MsDecodeMono(MSState[0], coefs, BlockBytes_.data() + 7, coded, Buffer_.data()));
}

std::uint32_t TWaveIn::ReadFloatBlock() {
  const std::uint32_t whole = kBufferSize - kBufferSize % (Channels_ * 8);
  std::uint8_t* bytes = BufferBytes();
  // Whole stored frames only, as for PCM.
  const std::uint32_t stored = Channels_ * (ShortFloat ? 4 : 8);
  auto n = static_cast<std::uint32_t>(Stream_->Read(bytes, whole));
  n -= n % stored;
  if (ShortFloat) {
    for (std::uint32_t i = 0; i + 4 <= n; i += 4) {
      float f;
      std::memcpy(&f, bytes + i, 4);
      const std::int32_t v = FloatSampleToInt32(f);
      std::memcpy(bytes + i, &v, 4);
    }
    return n - n % 4;
  }
  // Doubles shrink to half their size, so writing from the start never passes the reading.
  for (std::uint32_t i = 0; i + 8 <= n; i += 8) {
    double d;
    std::memcpy(&d, bytes + i, 8);
    const std::int32_t v = FloatSampleToInt32(d);
    std::memcpy(bytes + i / 2, &v, 4);
  }
  return (n / 8) * 4;
}

void TWaveIn::GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) {
  if (!Busy()) throw EAuException("The Stream is not opened");
  if (!Valid_) {
    Bytes = 0;
    return;
  }
  if (BlockStart > BlockEnd) {
    BlockStart = 1;
    std::uint32_t filled = 0;
    switch (WavType_) {
      case TWavType::wtPCM:
      case TWavType::wtExtPCM:
      case TWavType::wtACM: {
        // A cut-off last frame is dropped: outputs only ever see whole frames.
        const std::uint32_t frame = Channels_ * (BitsPerSample_ / 8);
        filled = static_cast<std::uint32_t>(Stream_->Read(BufferBytes(), kBufferSize - kBufferSize % frame));
        filled -= filled % frame;
        break;
      }
      case TWavType::wtDVIADPCM: filled = DecodeDVIBlock(); break;
      case TWavType::wtMSADPCM: filled = DecodeMSBlock(); break;
      case TWavType::wtIEEEFloat:
      case TWavType::wtExtIEEEFloat: filled = ReadFloatBlock(); break;
      case TWavType::wtUnsupported: break;
    }
    BlockEnd = static_cast<std::int32_t>(filled);
  }
  const std::uint32_t frame = (Channels_ * BitsPerSample_) >> 3;
  Bytes -= frame == 0 ? Bytes : Bytes % frame;
  const auto left = static_cast<std::uint32_t>(std::max(0, BlockEnd - BlockStart + 1));
  Bytes = std::min(Bytes, left);
  Buffer = BufferBytes() + (BlockStart - 1);
  BlockStart += static_cast<std::int32_t>(Bytes);
}

bool TWaveIn::SeekInternal(std::int64_t& SampleNum) {
  BlockStart = 1;
  BlockEnd = 0;
  if (!Valid_ || SampleNum < 0) return false;
  // The byte offset must stay countable whatever frame number the caller asks for.
  const std::int64_t room = std::numeric_limits<std::int64_t>::max() - HeaderSize_;
  const std::int64_t widest = std::int64_t{Channels_} * 8;
  const bool adpcm = WavType_ == TWavType::wtDVIADPCM || WavType_ == TWavType::wtMSADPCM;
  if (!adpcm && SampleNum > room / std::max<std::int64_t>(widest, 1)) return false;
  std::int64_t offset;
  switch (WavType_) {
    case TWavType::wtDVIADPCM: {
      const std::int64_t perBlock = Channels_ == 2 ? adpcm::ImaStereoFrames(DVIBlockAlign)
                                                   : adpcm::ImaMonoFrames(DVIBlockAlign);
      const std::int64_t blocks = SampleNum / perBlock;
      if (blocks > room / std::max<std::int64_t>(DVIBlockAlign, 1)) return false;
      offset = blocks * DVIBlockAlign;
      break;
    }
    case TWavType::wtMSADPCM: {
      // A block can be far larger than the frames it holds: bound by blocks, not frames.
      const std::int64_t blocks = SampleNum / MSSamplesPerBlock;
      if (blocks > room / std::max<std::int64_t>(MSBlockAlign, 1)) return false;
      offset = blocks * MSBlockAlign;
      break;
    }
    case TWavType::wtPCM:
    case TWavType::wtExtPCM:
    case TWavType::wtACM:
      offset = SampleNum * static_cast<std::int64_t>(Channels_ * (BitsPerSample_ / 8));
      break;
    case TWavType::wtIEEEFloat:
    case TWavType::wtExtIEEEFloat:
      // The stored width, not the delivered one: 64-bit floats take 8 bytes a sample.
      offset = SampleNum * static_cast<std::int64_t>(Channels_ * (ShortFloat ? 4 : 8));
      break;
    default:
      return false;
  }
  Stream_->SetPosition(HeaderSize_ + offset);
  return true;
}

}  // namespace melvanto
