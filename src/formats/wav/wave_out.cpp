#include "wave_out.h"

#include "append_scan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "au_exception.h"
#include "riff_info.h"

namespace melvanto {

namespace {

constexpr char kNoFileName[] = "File name is not assigned.";
constexpr char kCannotAppend[] = "Cannot append data to this .wav file.";
constexpr char kCutOff[] =
    "Cannot append data to this .wav file: it holds more audio than its header states, as an "
    "append cut off before its end leaves it. Convert it with wav-wav to a new file to repair it.";
constexpr char kDifferentFormat[] = "Cannot append data in different audio format.";
constexpr char kAdpcmTooManyChannels[] = "Cannot encode more than 2 channels into ADPCM.";
constexpr char kAdpcmBadBlockSize[] = "ADPCM block size does not fit the channel layout.";
constexpr char kWriteError[] = "Error writing wave file";

// Every header starts with RIFF, its size, WAVE and a JUNK chunk that keeps the room of a
// ds64 chunk, so that a file that outgrows the 32-bit sizes becomes RF64 in place.
constexpr std::int64_t kDs64Body = 28;
constexpr std::int64_t kDs64Position = 20;  // the JUNK (later ds64) body
constexpr std::int64_t kPrefixSize = kDs64Position + kDs64Body;
constexpr std::int64_t kPcmHeaderSize = kPrefixSize + 32;
constexpr std::int64_t kExtHeaderSize = kPrefixSize + 56;
constexpr std::int64_t kDviHeaderSize = kPrefixSize + 48;
constexpr std::uint32_t kPcmChunkBytes = 16384;
// Room for a header with a LIST chunk of long tags before the data (as this writer puts it).
constexpr std::size_t kScanWindow = 65536;

// A 32-bit size field that cannot hold the value states the largest it can.
std::uint32_t Clamp32(std::int64_t value) {
  if (value < 0) return 0;
  return value > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

std::uint16_t BlockAlign(std::uint32_t bits, std::uint32_t channels) {
  return static_cast<std::uint16_t>((bits * channels) >> 3);
}

// Speaker positions for the usual layouts; 0 (no assignment) for the others.
std::uint32_t ChannelMask(std::uint32_t channels) {
  switch (channels) {
    case 1:
      return 0x1;
    case 2:
      return 0x3;
    case 6:
      return 0x3F;
    case 8:
      return 0xFF;
    default:
      return 0;
  }
}

// RIFF, its size, WAVE and the JUNK chunk that reserves the ds64 room; the rest of the
// header follows at h + kPrefixSize.
void PutRiffPrefix(std::uint8_t* h, std::uint32_t riffSize) {
  PutId(h, "RIFF");
  PutLE32(h + 4, riffSize);
  PutId(h + 8, "WAVE");
  PutId(h + 12, "JUNK");
  PutLE32(h + 16, kDs64Body);
  std::memset(h + kDs64Position, 0, kDs64Body);
}

// The prefix and the fmt fields the PCM and extensible headers share, 24 bytes from "fmt ".
std::uint8_t* PutRiffAndFormat(std::uint8_t* h, std::uint32_t riffSize, std::uint32_t fmtSize, std::uint16_t tag,
                               TAuInput& input, std::uint16_t align) {
  PutRiffPrefix(h, riffSize);
  std::uint8_t* f = h + kPrefixSize;
  PutId(f, "fmt ");
  PutLE32(f + 4, fmtSize);
  PutLE16(f + 8, tag);
  PutLE16(f + 10, static_cast<std::uint16_t>(input.Channels()));
  PutLE32(f + 12, input.SampleRate());
  PutLE32(f + 16, Clamp32(std::int64_t{input.SampleRate()} * align));
  PutLE16(f + 20, align);
  PutLE16(f + 22, static_cast<std::uint16_t>(input.BitsPerSample()));
  return f + 24;
}

// Frames one IMA/DVI block holds, header frame included.
std::uint32_t DviFramesPerBlock(std::uint32_t channels, std::uint16_t blockSize) {
  return static_cast<std::uint32_t>(channels == 1 ? adpcm::ImaMonoFrames(blockSize)
                                                  : adpcm::ImaStereoFrames(blockSize));
}

// The encoders' own limits, plus the header's 16-bit samples-per-block field.
bool DviLayoutFits(std::uint32_t channels, std::uint16_t blockSize) {
  if (channels == 1) return blockSize >= 5 && DviFramesPerBlock(1, blockSize) <= 0xFFFF;
  if (channels == 2) return blockSize >= 16 && (blockSize - 8) % 8 == 0;
  return false;
}

}  // namespace

TWaveOut::TWaveOut(std::int64_t sizeLimit) : SizeLimit_(sizeLimit) {}

TWaveOut::~TWaveOut() {
  Stop(false);
}

void TWaveOut::SetWavType(TWavType value) {
  if (Busy()) return;
  if (value == TWavType::wtPCM || value == TWavType::wtDVIADPCM) WavType_ = value;
}

void TWaveOut::SetBlockSize(std::uint16_t value) {
  if (Busy()) return;
  if (value != 0 && value % 4 == 0) BlockSize_ = value;
}

void TWaveOut::Refuse(const char* message) {
  Input()->Flush();
  CloseOwnStream();
  throw EAuException(message);
}

void TWaveOut::WriteAll(const void* bytes, std::int64_t count) {
  if (Stream_->Write(bytes, count) != count) throw EAuException(kWriteError);
}

void TWaveOut::WriteLE32At(std::int64_t offset, std::uint32_t value) {
  std::uint8_t bytes[4];
  PutLE32(bytes, value);
  Stream_->Seek(offset, TSeekOrigin::soBeginning);
  WriteAll(bytes, 4);
}

// Whether the bytes from offset to the file's end are whole RIFF chunks (named in printable
// characters), as a writer that put a chunk after the audio leaves them; an append cut off
// before patching the header leaves raw audio there instead.
bool TWaveOut::ChunksUpToEnd(std::int64_t offset, std::int64_t fileEnd) {
  while (offset + 8 <= fileEnd) {
    std::uint8_t h[8];
    Stream_->SetPosition(offset);
    if (Stream_->Read(h, 8) != 8) return false;
    for (int i = 0; i < 4; ++i)
      if (h[i] < 0x20 || h[i] > 0x7E) return false;
    const std::uint32_t size = static_cast<std::uint32_t>(h[4]) | static_cast<std::uint32_t>(h[5]) << 8 |
                               static_cast<std::uint32_t>(h[6]) << 16 |
                               static_cast<std::uint32_t>(h[7]) << 24;
    offset += 8 + std::int64_t{size} + (size & 1);
  }
  // The last chunk's pad byte may be missing.
  return offset == fileEnd || offset == fileEnd + 1;
}

// Appended audio goes right after the old audio, which must end on a whole frame (or block):
// a zero pad byte after it is dropped, anything else there (a chunk) cannot be moved aside,
// so such a file is refused rather than having the chunk played as audio.
std::int64_t TWaveOut::SeekAppendPosition(std::int64_t unit) {
  const std::int64_t fileEnd = Stream_->Seek(0, TSeekOrigin::soEnd);
  std::int64_t dataEnd = fileEnd;
  // 0 and 0xFFFFFFFF are what writers leave when they never finished the header.
  if (OldDataSize > 0 && (Rf64 || OldDataSize != kNoSize32)) dataEnd = std::min(fileEnd, DataStart + OldDataSize);
  bool padByte = false;
  if (fileEnd == dataEnd + 1 && (dataEnd - DataStart) % 2 == 1) {
    std::uint8_t b = 1;
    Stream_->SetPosition(dataEnd);
    padByte = Stream_->Read(&b, 1) == 1 && b == 0;
  }
  if (fileEnd > dataEnd && !padByte) {
    const std::int64_t next = dataEnd + ((dataEnd - DataStart) % 2);
    Refuse(ChunksUpToEnd(next, fileEnd) ? kCannotAppend : kCutOff);
  }
  if ((dataEnd - DataStart) % unit != 0) Refuse(kCannotAppend);
  if (padByte) Stream_->SetSize(dataEnd);
  Stream_->SetPosition(dataEnd);
  return dataEnd;
}

void TWaveOut::Prepare() {
  EndOfInput = false;
  Prepared = false;
  Appending = false;
  FramesDelivered = 0;
  OldBlocks = 0;
  OpenTargetStream(kNoFileName);
  TAuInput& input = *Input();
  input.Init();
  FrameBytes = std::max<std::uint16_t>(1, BlockAlign(input.BitsPerSample(), input.Channels()));

  if ((input.Channels() > 2 || input.BitsPerSample() > 16) && !CreateNonMsHeaders())
    WavType_ = TWavType::wtExtPCM;

  Appending = FileMode_ == TFileOutputMode::foAppend && Stream_->Size() != 0;
  if (Appending) {
    ScanForAppend();
    if (OldWavType != TWavType::wtPCM && OldWavType != TWavType::wtDVIADPCM) Refuse(kCannotAppend);
    WavType_ = OldWavType;
  }

  switch (WavType_.load()) {
    case TWavType::wtDVIADPCM:
      // The message names the input's own depth: 24- and 32-bit sources are refused too.
      if (input.BitsPerSample() != 16)
        Refuse(("Cannot encode " + std::to_string(input.BitsPerSample()) + " bit sound into ADPCM.").c_str());
      // One or two channels only: the block layouts know no others.
      if (input.Channels() > 2) Refuse(kAdpcmTooManyChannels);
      if (Appending && (input.SampleRate() != OldSampleRate || input.Channels() != OldChannels))
        Refuse(kDifferentFormat);
      // A block the layout cannot hold would make the encoder write outside it.
      if (!DviLayoutFits(input.Channels(), Appending ? OldBlockAlign : BlockSize()))
        Refuse(kAdpcmBadBlockSize);
      if (Appending) {
        BlockSize_ = OldBlockAlign;
        OldBlocks = (SeekAppendPosition(BlockSize()) - DataStart) / BlockSize();
      } else {
        WriteDviHeader(input);
        ImaState[0].StepIndex = 0;
        ImaState[1].StepIndex = 0;
      }
      break;
    case TWavType::wtExtPCM:
      WriteExtHeader(input);
      break;
    default:
      if (Appending) {
        if (input.SampleRate() != OldSampleRate || input.BitsPerSample() != OldBits ||
            input.Channels() != OldChannels)
          Refuse(kDifferentFormat);
        SeekAppendPosition(std::max<std::uint16_t>(1, BlockAlign(OldBits, OldChannels)));
      } else {
        WritePcmHeader(input);
      }
      break;
  }
  Prepared = true;
}

void TWaveOut::WritePcmHeader(TAuInput& input) {
  // An unknown size (-1) states the largest size until Done sets the real one.
  const std::int64_t size = input.Size() < 0 ? 0xFFFFFFFF : input.Size();
  const std::uint16_t align = BlockAlign(input.BitsPerSample(), input.Channels());
  std::uint8_t h[kPcmHeaderSize];
  std::uint8_t* d = PutRiffAndFormat(h, Clamp32(size + kPcmHeaderSize - 8), 16, kWaveFormatPcm, input, align);
  PutId(d, "data");
  HeaderDataSize = Clamp32(size);
  PutLE32(d + 4, HeaderDataSize);
  WriteHeader(h, sizeof h);
}

void TWaveOut::WriteExtHeader(TAuInput& input) {
  const std::int64_t size = input.Size() < 0 ? 0xFFFFFFFF : input.Size();
  const std::uint16_t align = BlockAlign(input.BitsPerSample(), input.Channels());
  const auto bits = static_cast<std::uint16_t>(input.BitsPerSample());
  std::uint8_t h[kExtHeaderSize];
  std::uint8_t* e = PutRiffAndFormat(h, Clamp32(size + kExtHeaderSize - 8), 40, kWaveFormatExtensible, input, align);
  PutLE16(e, 22);
  PutLE16(e + 2, bits);
  PutLE32(e + 4, ChannelMask(input.Channels()));
  std::memcpy(e + 8, kSubFormatPcm, 16);
  PutId(e + 24, "data");
  HeaderDataSize = Clamp32(size);
  PutLE32(e + 28, HeaderDataSize);
  WriteHeader(h, sizeof h);
}

void TWaveOut::WriteDviHeader(TAuInput& input) {
  const std::uint32_t channels = input.Channels();
  const std::uint16_t blockSize = BlockSize();
  const std::uint32_t frames = DviFramesPerBlock(channels, blockSize);
  // Integer division: an unknown size (-1) gives 0 frames; Done states the real counts.
  const std::int64_t n = input.Size() / (input.BitsPerSample() / 8) / channels;
  const auto blocks = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(n) / frames));
  const std::int64_t d = blocks * blockSize;
  std::uint8_t h[kDviHeaderSize];
  PutRiffPrefix(h, Clamp32(d + kDviHeaderSize - 8));
  std::uint8_t* f = h + kPrefixSize;
  PutId(f, "fmt ");
  PutLE32(f + 4, 20);
  PutLE16(f + 8, kWaveFormatDviAdpcm);
  PutLE16(f + 10, static_cast<std::uint16_t>(channels));
  PutLE32(f + 12, input.SampleRate());
  PutLE32(f + 16, Clamp32(std::int64_t{input.SampleRate() / frames} * blockSize));
  PutLE16(f + 20, blockSize);
  PutLE16(f + 22, 4);
  PutLE16(f + 24, 2);
  PutLE16(f + 26, static_cast<std::uint16_t>(frames));
  PutId(f + 28, "fact");
  PutLE32(f + 32, 4);
  PutLE32(f + 36, Clamp32(n));
  FactPosition = (f + 36) - h;
  PutId(f + 40, "data");
  HeaderDataSize = Clamp32(d);
  PutLE32(f + 44, HeaderDataSize);
  WriteHeader(h, sizeof h);
}

// A new file's header, with a LIST/INFO chunk of the tags before the data (so that appending
// to the file later finds the audio at its end): the data chunk's own header is the last
// eight bytes of h, and the ds64 room is where the prefix put it.
void TWaveOut::WriteHeader(std::uint8_t* h, std::int64_t size) {
  const std::vector<std::uint8_t> list = BuildRiffInfo(*Id3v2Tags());
  const auto extra = static_cast<std::int64_t>(list.size());
  PutLE32(h + 4, Clamp32(std::int64_t{GetLE32(h + 4)} + extra));
  WriteAll(h, size - 8);
  if (!list.empty()) WriteAll(list.data(), extra);
  WriteAll(h + size - 8, 8);
  DataStart = size + extra;
  DataSizePosition = DataStart - 4;
  Ds64Position = kDs64Position;
  Rf64 = false;
}

void TWaveOut::ScanForAppend() {
  // Only the window is read, and never past the file.
  Stream_->SetPosition(0);
  const std::int64_t available = std::min<std::int64_t>(Stream_->Size(), kScanWindow);
  std::vector<std::uint8_t> window(static_cast<std::size_t>(std::max<std::int64_t>(available, 0)));
  const std::int64_t got = Stream_->Read(window.data(), available);
  const TAppendScan scan = ScanWaveForAppend(window.data(), static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
  OldWavType = scan.OldWavType;
  OldSampleRate = scan.OldSampleRate;
  OldChannels = scan.OldChannels;
  OldBits = scan.OldBits;
  OldBlockAlign = scan.OldBlockAlign;
  OldFactSamples = scan.OldFactSamples;
  FactPosition = scan.FactPosition;
  OldDataSize = scan.Rf64 && scan.OldDataSize == kNoSize32 ? static_cast<std::int64_t>(scan.Ds64DataSize)
                                                           : std::int64_t{scan.OldDataSize};
  DataSizePosition = scan.DataSizePosition;
  DataStart = scan.DataStart;
  Ds64Position = scan.Ds64Position;
  Rf64 = scan.Rf64;
}

bool TWaveOut::DoOutput(bool Abort) {
  if (!CanOutput()) return true;
  if (Abort || EndOfInput) return false;
  return WavType() == TWavType::wtDVIADPCM ? OutputDviBlock() : OutputPcm();
}

bool TWaveOut::OutputPcm() {
  const std::uint8_t* block = nullptr;
  std::uint32_t bytes = kPcmChunkBytes;
  Input()->GetData(block, bytes);
  if (block == nullptr || bytes == 0) return false;
  // A short write ends the run: a file with a hole in its data is worth no more than an error.
  WriteAll(block, bytes);
  return true;
}

bool TWaveOut::OutputDviBlock() {
  TAuInput& input = *Input();
  const std::uint32_t channels = input.Channels();
  const std::uint16_t blockSize = BlockSize();
  const std::uint32_t frameBytes = 2 * channels;
  const std::uint32_t pcmBytes = DviFramesPerBlock(channels, blockSize) * frameBytes;
  std::vector<std::uint8_t> pcm(pcmBytes, 0);
  std::uint32_t filled = 0;
  while (filled < pcmBytes) {
    const std::uint32_t got = input.CopyData(pcm.data() + filled, pcmBytes - filled);
    if (got == 0) {
      EndOfInput = true;  // the rest of the block stays silence
      break;
    }
    filled += got;
  }
  std::vector<std::int16_t> samples(pcmBytes / 2);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<std::int16_t>(GetLE16(pcm.data() + 2 * i));

  std::vector<std::uint8_t> block(blockSize, 0);
  ImaState[0].Predictor = samples[0];
  bool encoded;
  if (channels == 2) {
    ImaState[1].Predictor = samples[1];
    encoded = adpcm::ImaEncodeStereo(ImaState[0], ImaState[1], samples.data() + 2, block.data(), blockSize);
  } else {
    encoded = adpcm::ImaEncodeMono(ImaState[0], samples.data() + 1, block.data(), blockSize);
  }
  if (!encoded) throw EAuException(kAdpcmBadBlockSize);
  WriteAll(block.data(), blockSize);  // raises on a short write: a lost block ends the run
  FramesDelivered += filled / frameBytes;
  return true;
}

void TWaveOut::PatchSizes() {
  const std::int64_t end = Stream_->Seek(0, TSeekOrigin::soEnd);
  const std::int64_t data = end - DataStart;
  // RF64 once a size outgrows its 32-bit field, if the file has the room for ds64 (one
  // appended to may not); an RF64 file stays one.
  const bool rf64 = Ds64Position != 0 && (Rf64 || end - 8 > SizeLimit_);
  if (WavType() == TWavType::wtDVIADPCM) {
    // Always patched: the header's estimate rounds to whole blocks and may miss the last
    // one, and a run may end early.
    const std::int64_t frames =
        Appending ? OldBlocks * DviFramesPerBlock(OldChannels, BlockSize()) + FramesDelivered
                  : FramesDelivered;
    WriteLE32At(FactPosition, Clamp32(frames));
    WriteSizes(end, data, frames, rf64);
  } else if (rf64 || Appending || Clamp32(data) != HeaderDataSize) {
    // No zero padding up to the announced size: the header states what the input really
    // delivered, so a short input does not gain silence.
    WriteSizes(end, data, data / FrameBytes, rf64);
  }
  Stream_->Seek(0, TSeekOrigin::soEnd);
}

// The RIFF and data sizes; as RF64, 0xFFFFFFFF in both and the true sizes in ds64, written
// over the JUNK chunk that kept its room.
void TWaveOut::WriteSizes(std::int64_t end, std::int64_t data, std::int64_t frames, bool rf64) {
  if (!rf64) {
    WriteLE32At(DataSizePosition, Clamp32(data));
    WriteLE32At(4, Clamp32(end - 8));
    return;
  }
  std::uint8_t ds64[8 + kDs64Body] = {};
  PutId(ds64, "ds64");
  PutLE32(ds64 + 4, kDs64Body);
  PutLE64(ds64 + 8, static_cast<std::uint64_t>(end - 8));
  PutLE64(ds64 + 16, static_cast<std::uint64_t>(data));
  PutLE64(ds64 + 24, static_cast<std::uint64_t>(frames));
  Stream_->Seek(Ds64Position - 8, TSeekOrigin::soBeginning);
  WriteAll(ds64, sizeof ds64);
  WriteLE32At(DataSizePosition, kNoSize32);
  std::uint8_t riff[8];
  PutId(riff, "RF64");
  PutLE32(riff + 4, kNoSize32);
  Stream_->Seek(0, TSeekOrigin::soBeginning);
  WriteAll(riff, sizeof riff);
}

void TWaveOut::Done() {
  TAuInput* input = Input();
  if (Prepared && Stream_ != nullptr) {
    Prepared = false;
    try {
      PatchSizes();
    } catch (...) {
      // The file and the input are released even when the final sizes cannot be written.
      CloseOwnStream();
      if (input != nullptr) input->Flush();
      throw;
    }
  }
  CloseOwnStream();
  if (input != nullptr) input->Flush();
}

}  // namespace melvanto
