#include "wave_in.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "acm.h"
#include "au_exception.h"
#include "g711.h"
#include "riff_info.h"
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

constexpr std::uint32_t kMaxMsCoefs = 32;
// Beyond any real file, and small enough that doubling it (delivered 16-bit samples of 8-bit
// codes) still fits 64 bits.
constexpr std::uint64_t kMaxStatedSize = std::uint64_t{1} << 60;

// The reader's type for a format tag; the extensible format is refined by its sub-format.
TWavType TypeOfTag(std::uint16_t tag) {
  switch (tag) {
    case kWaveFormatPcm: return TWavType::wtPCM;
    case kWaveFormatDviAdpcm: return TWavType::wtDVIADPCM;
    case kWaveFormatMsAdpcm: return TWavType::wtMSADPCM;
    case kWaveFormatMpegLayer3: return TWavType::wtACM;
    case kWaveFormatIeeeFloat: return TWavType::wtIEEEFloat;
    case kWaveFormatExtensible: return TWavType::wtExtPCM;
    case kWaveFormatALaw: return TWavType::wtALaw;
    case kWaveFormatMuLaw: return TWavType::wtMuLaw;
    default: return TWavType::wtUnsupported;
  }
}

bool IsAdpcm(TWavType type) {
  return type == TWavType::wtDVIADPCM || type == TWavType::wtMSADPCM;
}
// Encodings whose files carry a fact chunk with the frame count.
bool IsCompressed(TWavType type) {
  return IsAdpcm(type) || type == TWavType::wtACM;
}
// Encodings delivered straight from the data chunk, whose size counts what they deliver.
bool IsUncompressed(TWavType type) {
  return type == TWavType::wtPCM || type == TWavType::wtIEEEFloat || type == TWavType::wtExtPCM ||
         type == TWavType::wtExtIEEEFloat;
}
bool IsG711(TWavType type) { return type == TWavType::wtALaw || type == TWavType::wtMuLaw; }

}  // namespace

// The header walk keeps what it reads in a window and never moves the stream back, so it
// also works on streams that cannot seek.
class TWaveIn::HeaderWindow {
 public:
  HeaderWindow(TStream& stream, std::int64_t size, std::int64_t limit)
      : stream_(stream), size_(size), bytes_(static_cast<std::size_t>(limit)) {}

  // Reads up to the first chunk's identifier. Junk before "RIFF" (or "RF64") and the RIFF
  // size are passed over one byte at a time.
  bool FindWaveForm() {
    std::int64_t at = 0;
    if (!FindId(at, "RIFF", "RF64")) return false;
    container_ = IdentifierMatch(bytes_.data() + at, "RIFF") ? TWavContainer::wcRiff : TWavContainer::wcRf64;
    if (Have(at + 16) && std::memcmp(bytes_.data() + at, kWave64Riff, 16) == 0) return FindWave64Form(at);
    at += 4;
    if (!FindId(at, "WAVE", "WAVE")) return false;
    return offset_ <= at + 8 && Have(at + 8) && !AtEnd();
  }

  // Passes over the chunks before the one named id and reads that one's body size; its body
  // comes next.
  bool FindChunk(const char* id, std::uint64_t& bodySize) {
    for (;;) {
      if (Full()) return false;
      const bool wanted = IdIs(id);
      if (!ReadSize(bodySize)) return false;
      if (wanted) return true;
      if (!ReadBody(bodySize) || !NextIdentifier(bodySize)) return false;
    }
  }

  // The body of the chunk named id, read whole; nullptr when it is not there.
  const std::uint8_t* ReadChunk(const char* id, std::uint64_t& bodySize) {
    if (!FindChunk(id, bodySize) || !ReadBody(bodySize)) return nullptr;
    return Last(static_cast<std::int64_t>(bodySize));
  }

  // The identifier after a body. Writers that follow the RIFF rule put a zero pad byte after
  // an odd-sized body, others do not; an identifier never starts with a zero byte. Wave64
  // pads every body to 8 bytes. A stream that ends there has no data chunk to find.
  bool NextIdentifier(std::uint64_t bodySize) {
    if (container_ == TWavContainer::wcWave64) {
      if (!Read(static_cast<std::int64_t>((8 - bodySize % 8) % 8) + 16)) return false;
    } else if (bodySize % 2 != 0) {
      if (!Read(1) || !Read(*Last(1) == 0 ? 4 : 3)) return false;
    } else if (!Read(4)) {
      return false;
    }
    return !AtEnd();
  }

  std::int64_t Offset() const { return offset_; }
  TWavContainer Container() const { return container_; }

 private:
  // Finds either identifier at `at` or after it.
  bool FindId(std::int64_t& at, const char* id, const char* other) {
    for (;; ++at) {
      if (!Have(at + 4)) return false;
      if (IdentifierMatch(bytes_.data() + at, id) || IdentifierMatch(bytes_.data() + at, other)) return true;
    }
  }
  // The Wave64 header: the riff GUID at `at`, a 64-bit size, the wave GUID, the first chunk's GUID.
  bool FindWave64Form(std::int64_t at) {
    container_ = TWavContainer::wcWave64;
    return Have(at + 56) && IdentifierMatch(bytes_.data() + at + 24, "wave") &&
           std::memcmp(bytes_.data() + at + 28, kWave64Tail, 12) == 0 && !AtEnd();
  }
  // Whether the identifier just read names id.
  bool IdIs(const char* id) const {
    if (container_ != TWavContainer::wcWave64) return IdentifierMatch(Last(4), id);
    return IdentifierMatch(Last(16), id) && std::memcmp(Last(12), kWave64Tail, 12) == 0;
  }
  // The size field after an identifier, as the size of the body. Wave64 counts its 24-byte
  // chunk header in.
  bool ReadSize(std::uint64_t& bodySize) {
    if (container_ != TWavContainer::wcWave64) {
      if (!Read(4)) return false;
      bodySize = GetLE32(Last(4));
      return true;
    }
    if (!Read(8)) return false;
    bodySize = GetLE64(Last(8));
    if (bodySize < kWave64ChunkHeader) return false;
    bodySize -= kWave64ChunkHeader;
    return true;
  }
  // Reads up to offset n of the window, if not already there.
  bool Have(std::int64_t n) { return n <= offset_ || Read(n - offset_); }
  // Appends n bytes; false when the window or the stream cannot supply them.
  bool Read(std::int64_t n) {
    if (n < 0 || offset_ + n > static_cast<std::int64_t>(bytes_.size())) return false;
    const std::int64_t got = stream_.Read(bytes_.data() + offset_, n);
    offset_ += got;
    position_ += got;
    return got == n;
  }
  // Every body but the data's must lie inside the window and the file (a lying size is
  // refused, not trusted).
  bool ReadBody(std::uint64_t bodySize) {
    return position_ <= size_ && bodySize <= static_cast<std::uint64_t>(size_ - position_) &&
           Read(static_cast<std::int64_t>(bodySize));
  }
  const std::uint8_t* Last(std::int64_t n) const { return bytes_.data() + offset_ - n; }
  bool Full() const { return offset_ >= static_cast<std::int64_t>(bytes_.size()) - 1; }
  bool AtEnd() const { return position_ >= size_; }

  TStream& stream_;
  TWavContainer container_ = TWavContainer::wcRiff;
  std::int64_t size_;
  std::int64_t offset_ = 0;
  std::int64_t position_ = 0;
  std::vector<std::uint8_t> bytes_;
};

TWaveIn::TWaveIn() = default;

TWaveIn::~TWaveIn() {
  NotifyDestruction();
  CloseFile();
}

void TWaveIn::ReadHeader(TStream& stream) {
  Size_ = 0;
  StatedDataSize_ = StatedSize_ = 0;
  BitsPerSample_ = SampleRate_ = Channels_ = 0;
  WavType_ = TWavType::wtUnsupported;
  Ds64 = {};
  const std::int64_t start = stream.Position();
  HeaderWindow w(stream, stream.Size() - start, kHeaderWindow);
  std::uint64_t dataSize = 0;
  const bool found = w.FindWaveForm() && (w.Container() != TWavContainer::wcRf64 || ReadDs64Chunk(w)) &&
                     ReadFormatChunk(w) && (!IsCompressed(WavType_) || ReadFactChunk(w)) &&
                     w.FindChunk("data", dataSize);
  Container_ = w.Container();
  if (!found) {
    WavType_ = TWavType::wtUnsupported;
    return;
  }
  if (Container_ == TWavContainer::wcRf64 && dataSize == kNoSize32) dataSize = Ds64.DataSize;
  StartOfData(dataSize, start + w.Offset(), stream.Size());
}

// RF64 states the RIFF and data sizes and the frame count here; the 32-bit fields that
// cannot hold them say 0xFFFFFFFF.
bool TWaveIn::ReadDs64Chunk(HeaderWindow& w) {
  std::uint64_t bodySize = 0;
  const std::uint8_t* body = w.ReadChunk("ds64", bodySize);
  if (body == nullptr || bodySize < 24) return false;
  Ds64.DataSize = GetLE64(body + 8);
  Ds64.Frames = GetLE64(body + 16);
  return w.NextIdentifier(bodySize);
}

bool TWaveIn::ReadFormatChunk(HeaderWindow& w) {
  std::uint64_t bodySize = 0;
  const std::uint8_t* body = w.ReadChunk("fmt ", bodySize);
  // A body read whole lies inside the window.
  return body != nullptr && DecodeFormat(body, static_cast<std::uint32_t>(bodySize)) && w.NextIdentifier(bodySize);
}

bool TWaveIn::DecodeFormat(const std::uint8_t* body, std::uint32_t bodySize) {
  if (bodySize < 16) return false;
  FormatTag_ = GetLE16(body);
  FormatRecord_.fill(0);
  std::memcpy(FormatRecord_.data(), body, std::min<std::uint32_t>(bodySize, TWaveConverter::kFormatRecordSize));
  WavType_ = TypeOfTag(FormatTag_);
  if (WavType_ == TWavType::wtUnsupported) return false;
  Channels_ = GetLE16(body + 2);
  SampleRate_ = GetLE32(body + 4);
  Adpcm.BlockAlign = GetLE16(body + 12);
  BitsPerSample_ = GetLE16(body + 14);
  if (WavType_ == TWavType::wtExtPCM) {
    if (bodySize < 40) return false;
    const std::uint8_t* sub = body + bodySize - 16;
    if (!IsSubFormatOfTag(sub)) return false;
    switch (GetLE16(sub)) {
      case kWaveFormatPcm: break;
      case kWaveFormatIeeeFloat: WavType_ = TWavType::wtExtIEEEFloat; break;
      case kWaveFormatALaw: WavType_ = TWavType::wtALaw; break;
      case kWaveFormatMuLaw: WavType_ = TWavType::wtMuLaw; break;
      default: return false;
    }
  }
  return !IsCompressed(WavType_) || ReadAdpcmExtras(body, bodySize);
}

bool TWaveIn::ReadAdpcmExtras(const std::uint8_t* body, std::uint32_t bodySize) {
  if (bodySize < 20) return false;
  Adpcm.SamplesPerBlock = GetLE16(body + 18);
  if (WavType_ != TWavType::wtMSADPCM) return true;
  if (bodySize < 22) return false;
  MSNumCoef = GetLE16(body + 20);
  if (MSNumCoef == 0 || MSNumCoef > kMaxMsCoefs || bodySize < 22 + 4u * MSNumCoef) return false;
  for (std::uint32_t i = 0; i < MSNumCoef; ++i)
    MSCoefs[i] = {static_cast<std::int16_t>(GetLE16(body + 22 + 4 * i)),
                  static_cast<std::int16_t>(GetLE16(body + 24 + 4 * i))};
  return true;
}

bool TWaveIn::ReadFactChunk(HeaderWindow& w) {
  std::uint64_t bodySize = 0;
  const std::uint8_t* body = w.ReadChunk("fact", bodySize);
  if (body == nullptr || bodySize < 4) return false;
  // Wave64 counts in 64 bits; an RF64 count too large for 32 bits is in ds64.
  std::uint64_t frames = GetLE32(body);
  if (w.Container() == TWavContainer::wcWave64 && bodySize >= 8) frames = GetLE64(body);
  if (w.Container() == TWavContainer::wcRf64 && frames == kNoSize32) frames = Ds64.Frames;
  Adpcm.FactSamples = static_cast<std::int64_t>(std::min(frames, kMaxStatedSize));
  return w.NextIdentifier(bodySize);
}

void TWaveIn::StartOfData(std::uint64_t bodySize, std::int64_t dataStart, std::int64_t streamEnd) {
  // A size beyond the end of the file (a cut-off recording, or 0xFFFFFFFF from a streaming
  // writer) counts only the bytes that are there.
  const auto there = static_cast<std::uint64_t>(std::max<std::int64_t>(0, streamEnd - dataStart));
  DataSize_ = static_cast<std::int64_t>(std::min(bodySize, there));
  if (IsUncompressed(WavType_) || IsG711(WavType_)) Size_ = DataSize_;
  HeaderSize_ = dataStart;
  // A streaming writer's placeholder states no length; a 64-bit size is kept countable.
  const bool placeholder = Container_ == TWavContainer::wcRiff && bodySize == kNoSize32;
  StatedDataSize_ = placeholder ? DataSize_ : static_cast<std::int64_t>(std::min<std::uint64_t>(bodySize, kMaxStatedSize));
}

void TWaveIn::ReadTags(TStream& stream, std::int64_t start) {
  Id3v2Tags_.Clear();
  if (WavType_ != TWavType::wtUnsupported) ReadWaveTags(stream, start, Id3v2Tags_);
}

TId3v2Tags* TWaveIn::Id3v2Tags() {
  std::lock_guard lock(FileLock);
  OpenFile();
  return &Id3v2Tags_;
}

bool TWaveIn::FormatSupported() const {
  const std::uint32_t channels = Channels_;
  if (SampleRate_ < kMinSampleRate || SampleRate_ > kMaxSampleRate || channels == 0) return false;
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
    case TWavType::wtALaw:
    case TWavType::wtMuLaw:
      return BitsPerSample_ == 8 && channels * 2 <= kBufferSize;
    case TWavType::wtDVIADPCM: {
      if (channels > 2) return false;
      const std::uint32_t b = Adpcm.BlockAlign;
      if (channels == 1) return b >= 4 && (2 * (b - 4) + 1) * 2 <= kBufferSize;
      return b >= 8 && (b - 8) % 8 == 0 && ((b - 8) + 1) * 4 <= kBufferSize;
    }
    case TWavType::wtMSADPCM: {
      if (channels > 2) return false;
      const std::uint32_t b = Adpcm.BlockAlign, s = Adpcm.SamplesPerBlock;
      if (s < 2) return false;
      const std::uint32_t coded = s - 2;
      if (channels == 1) return b >= 7 && coded / 2 <= b - 7 && (2 + 2 * (coded / 2)) * 2 <= kBufferSize;
      return b >= 14 && coded <= b - 14 && (4 + 2 * coded) * 2 <= kBufferSize;
    }
    default:
      return false;
  }
}

// A fact count beyond every frame the blocks present could hold is a header that lies.
bool TWaveIn::FactFitsData() const {
  const std::int64_t blocks = DataSize_ / Adpcm.BlockAlign + (DataSize_ % Adpcm.BlockAlign != 0);
  return Adpcm.FactSamples <= blocks * AdpcmFramesPerBlock();
}

std::int64_t TWaveIn::AdpcmFramesPerBlock() const {
  if (WavType_ == TWavType::wtMSADPCM) return Adpcm.SamplesPerBlock;
  return static_cast<std::int64_t>(Channels_ == 2 ? adpcm::ImaStereoFrames(Adpcm.BlockAlign)
                                                  : adpcm::ImaMonoFrames(Adpcm.BlockAlign));
}

void TWaveIn::OpenFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount != 0) return;
  Valid_ = true;
  ShortFloat = false;
  DamagedBlocks_ = 0;
  WavType_ = TWavType::wtUnsupported;
  TStream* stream = OpenSourceStream();
  const std::int64_t start = stream->Position();
  ReadHeader(*stream);
  ReadTags(*stream, start);
  SetUpDelivery(*stream);
  OpenCount = 1;
}

void TWaveIn::SetUpDelivery(TStream& stream) {
  StoredBits_ = WavType_ == TWavType::wtUnsupported ? 0 : BitsPerSample_;
  switch (WavType_) {
    case TWavType::wtUnsupported:
      Valid_ = false;
      break;
    case TWavType::wtPCM:
    case TWavType::wtExtPCM:
      Valid_ = FormatSupported();
      if (Valid_) Size_ = WholeFrames(Size(), Channels_ * (BitsPerSample_ / 8));
      StatedSize_ = WholeFrames(StatedDataSize_, Channels_ * (BitsPerSample_ / 8));
      break;
    case TWavType::wtDVIADPCM:
    case TWavType::wtMSADPCM:
      // Only an IMA/DVI file is held to the 4-bit width it must declare.
      Valid_ = (WavType_ != TWavType::wtDVIADPCM || BitsPerSample_ == 4) && FormatSupported() &&
               FactFitsData();
      BitsPerSample_ = 16;
      Size_ = Adpcm.FactSamples * 2 * Channels_;
      break;
    case TWavType::wtIEEEFloat:
    case TWavType::wtExtIEEEFloat:
      Valid_ = FormatSupported();
      ShortFloat = BitsPerSample_ == 32;
      if (Valid_) Size_ = WholeFrames(Size(), Channels_ * (BitsPerSample_ / 8));
      StatedSize_ = WholeFrames(StatedDataSize_, Channels_ * (BitsPerSample_ / 8));
      if (!ShortFloat) {
        Size_ = Size() / 2;
        StatedSize_ /= 2;
      }
      BitsPerSample_ = 32;
      break;
    case TWavType::wtALaw:
    case TWavType::wtMuLaw:
      // One byte a sample stored, two delivered.
      Valid_ = FormatSupported();
      if (Valid_) Size_ = WholeFrames(Size(), Channels_) * 2;
      StatedSize_ = WholeFrames(StatedDataSize_, Channels_) * 2;
      BitsPerSample_ = 16;
      break;
    case TWavType::wtACM:
      OpenConverted(stream);
      break;
  }
  // Compressed lengths come from the fact chunk or the frames: what they state is Size.
  if (!(IsUncompressed(WavType_) || IsG711(WavType_)) || !Valid_) StatedSize_ = Size();
}

// MPEG Layer-3 in a WAV is converted as it is read. Its length comes from the frame headers
// (nothing decoded); it is valid when its first frames decode.
void TWaveIn::OpenConverted(TStream& source) {
  Valid_ = false;
  TWaveConverter::FormatRecord target{};
  PutLE16(target.data(), kWaveFormatPcm);
  const auto* src = reinterpret_cast<const acm::WAVEFORMATEX*>(FormatRecord_.data());
  auto* dst = reinterpret_cast<acm::WAVEFORMATEX*>(target.data());
  if (acm::acmFormatSuggest(nullptr, src, dst, TWaveConverter::kFormatRecordSize, acm::ACM_FORMATSUGGESTF_WFORMATTAG) != 0)
    return;
  Converter_ = std::make_unique<TWaveStreamConverter>(source, FormatRecord_, target, HeaderSize_, DataSize_);
  Channels_ = dst->nChannels;
  SampleRate_ = dst->nSamplesPerSec;
  BitsPerSample_ = dst->wBitsPerSample;
  const std::int64_t frames = Converter_->CountFrames();
  if (frames <= 0 || Converter_->Open() != 0 || Converter_->Read(BufferBytes(), 4) == 0 || Converter_->Open() != 0) {
    Converter_.reset();
    return;
  }
  Size_ = frames * 2 * Channels_;
  Valid_ = true;
}

void TWaveIn::CloseFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount == 0) return;
  Converter_.reset();
  CloseSourceStream();
  OpenCount = 0;
}

// A short last block is read as far as it goes; the rest decodes as zero bytes.
bool TWaveIn::ReadAdpcmBlock() {
  std::memset(BlockBytes_.data(), 0, Adpcm.BlockAlign);
  return Stream_->Read(BlockBytes_.data(), Adpcm.BlockAlign) > 0;
}

bool TWaveIn::ReadDVIBlock() {
  if (!ReadAdpcmBlock()) return false;
  for (std::uint32_t c = 0; c < Channels_; ++c) {
    const std::uint8_t* h = BlockBytes_.data() + 4 * c;
    DVIState[c] = {static_cast<std::int16_t>(GetLE16(h)), h[2]};
  }
  // A step index past the table is clamped to its top, as other decoders do.
  if (DVIState[0].StepIndex > adpcm::kImaMaxStepIndex || DVIState[Channels_ - 1].StepIndex > adpcm::kImaMaxStepIndex) {
    ++DamagedBlocks_;
    for (auto& state : DVIState) state.StepIndex = std::min<std::uint8_t>(state.StepIndex, adpcm::kImaMaxStepIndex);
  }
  return true;
}

bool TWaveIn::ReadMSBlock() {
  if (!ReadAdpcmBlock()) return false;
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
  const std::uint32_t b = Adpcm.BlockAlign;
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
  const std::uint32_t coded = Adpcm.SamplesPerBlock - 2u;
  if (MSState[0].PredictorIndex >= MSNumCoef || MSState[Channels_ - 1].PredictorIndex >= MSNumCoef) {
    // No coefficients to predict with: the block's frames are silence.
    ++DamagedBlocks_;
    const std::size_t bytes = Channels_ == 2 ? (4 + 2 * coded) * 2 : (2 + 2 * (coded / 2)) * 2;
    std::memset(Buffer_.data(), 0, bytes);
    return static_cast<std::uint32_t>(bytes);
  }
  if (Channels_ == 2)
    return static_cast<std::uint32_t>(
        adpcm::MsDecodeStereo(MSState[0], MSState[1], coefs, BlockBytes_.data() + 14, coded, Buffer_.data()));
  return static_cast<std::uint32_t>(adpcm::MsDecodeMono(MSState[0], coefs, BlockBytes_.data() + 7, coded, Buffer_.data()));
}

// The codes are read into the upper half of the buffer and expanded from the start, so an
// expanded sample never overwrites a code not yet read.
std::uint32_t TWaveIn::ReadG711Block() {
  const std::uint32_t half = kBufferSize / 2;
  std::uint8_t* codes = BufferBytes() + half;
  auto n = static_cast<std::uint32_t>(Stream_->Read(codes, half - half % Channels_));
  n -= n % Channels_;
  const auto expand = WavType_ == TWavType::wtALaw ? g711::ALawToLinear : g711::MuLawToLinear;
  for (std::uint32_t i = 0; i < n; ++i) Buffer_[i] = expand(codes[i]);
  return n * 2;
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
      case TWavType::wtACM:
        filled = Converter_->Read(BufferBytes(), kBufferSize - kBufferSize % (2 * Channels_));
        break;
      case TWavType::wtPCM:
      case TWavType::wtExtPCM: {
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
      case TWavType::wtALaw:
      case TWavType::wtMuLaw: filled = ReadG711Block(); break;
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
  const bool adpcm = IsAdpcm(WavType_);
  if (!adpcm && SampleNum > room / std::max<std::int64_t>(widest, 1)) return false;
  std::int64_t offset;
  switch (WavType_) {
    case TWavType::wtDVIADPCM:
    case TWavType::wtMSADPCM: {
      // A block can be far larger than the frames it holds: bound by blocks, not frames.
      const std::int64_t blocks = SampleNum / AdpcmFramesPerBlock();
      if (blocks > room / std::max<std::int64_t>(Adpcm.BlockAlign, 1)) return false;
      offset = blocks * Adpcm.BlockAlign;
      break;
    }
    case TWavType::wtACM:
      return SeekConverted(SampleNum);
    case TWavType::wtPCM:
    case TWavType::wtExtPCM:
      offset = SampleNum * static_cast<std::int64_t>(Channels_ * (BitsPerSample_ / 8));
      break;
    case TWavType::wtIEEEFloat:
    case TWavType::wtExtIEEEFloat:
      // The stored width, not the delivered one: 64-bit floats take 8 bytes a sample.
      offset = SampleNum * static_cast<std::int64_t>(Channels_ * (ShortFloat ? 4 : 8));
      break;
    case TWavType::wtALaw:
    case TWavType::wtMuLaw:
      offset = SampleNum * static_cast<std::int64_t>(Channels_);
      break;
    default:
      return false;
  }
  Stream_->SetPosition(HeaderSize_ + offset);
  return true;
}

// Compressed frames cannot be found by offset: the stream starts again and decodes forward.
bool TWaveIn::SeekConverted(std::int64_t SampleNum) {
  if (Converter_->Open() != 0) return false;
  const std::uint32_t frame = 2 * Channels_;
  for (std::int64_t skip = SampleNum * frame; skip > 0;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(skip, kBufferSize - kBufferSize % frame));
    const std::uint32_t got = Converter_->Read(BufferBytes(), n);
    if (got == 0) break;
    skip -= got;
  }
  return true;
}

}  // namespace melvanto
