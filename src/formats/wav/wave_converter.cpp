#include "wave_converter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "acm.h"
#include "mpeg_audio_decoder.h"
#include "riff.h"

namespace melvanto {

using namespace acm;

namespace {

// Records handed to the manager are read as its format header.
const WAVEFORMATEX* AsFormat(const TWaveConverter::FormatRecord& r) {
  return reinterpret_cast<const WAVEFORMATEX*>(r.data());
}

// Closes the stream (and unprepares its header) on every path out of Convert.
class StreamGuard {
 public:
  ~StreamGuard() {
    if (prepared_) acmStreamUnprepareHeader(handle, &header, 0);
    if (handle != nullptr) acmStreamClose(handle, 0);
  }
  MMRESULT Unprepare() {
    prepared_ = false;
    return acmStreamUnprepareHeader(handle, &header, 0);
  }
  MMRESULT Close() {
    HACMSTREAM h = handle;
    handle = nullptr;
    return acmStreamClose(h, 0);
  }
  void Prepared() { prepared_ = true; }

  HACMSTREAM handle = nullptr;
  ACMSTREAMHEADER header{};

 private:
  bool prepared_ = false;
};

}  // namespace

TWaveConverter::TWaveConverter() {
  std::uint32_t size = 0;
  if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size) == MMSYSERR_NOERROR) MaxFormatSize = size;
  // Never more than the records hold, whatever the manager reports.
  MaxFormatSize = std::min(MaxFormatSize, kFormatRecordSize);
  SourceFormat.fill(0);
  TargetFormat.fill(0);
}

void TWaveConverter::LoadWave(TStream& Source) {
  // The whole file is read once and searched in memory: the data is loaded whole anyway, and
  // a byte-by-byte search through the stream would cost two system calls a byte.
  const std::int64_t available = Source.Size() - Source.Position();
  if (available < 12) return;
  std::vector<std::uint8_t> file(static_cast<std::size_t>(available));
  file.resize(static_cast<std::size_t>(Source.Read(file.data(), available)));
  const std::uint8_t* f = file.data();
  const auto n = static_cast<std::int64_t>(file.size());
  // The exact spellings only: this route is stricter than the reader's own walk.
  if (n < 12 || std::memcmp(f, "RIFF", 4) != 0 || std::memcmp(f + 8, "WAVE", 4) != 0) return;
  std::int64_t pos = 12;
  while (pos < n - 1) {
    // Step back 7 and read 8: unknown bytes are passed one at a time.
    pos -= 7;
    if (pos + 8 > n) break;
    const std::uint8_t* chunk = f + pos;
    pos += 8;
    const std::int64_t body = GetLE32(chunk + 4);
    // A body is what the file really holds, whatever its size field claims.
    const std::int64_t present = std::min(body, n - pos);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      SourceFormat.fill(0);
      std::memcpy(SourceFormat.data(), f + pos, static_cast<std::size_t>(std::min<std::int64_t>(present, kFormatRecordSize)));
      pos += present;
    } else if (std::memcmp(chunk, "fact", 4) == 0) {
      pos += present;
    } else if (std::memcmp(chunk, "data", 4) == 0 && body > 0) {
      SetSize(present);
      SetPosition(0);
      WriteBuffer(f + pos, present);
      // The audio is found: the letters "data" in a later comment must not replace it.
      break;
    }
  }
  SetPosition(0);
}

std::int32_t TWaveConverter::Convert() {
  StreamGuard guard;
  if (MMRESULT r = acmStreamOpen(&guard.handle, nullptr, AsFormat(SourceFormat), AsFormat(TargetFormat), nullptr,
                                 0, 0, ACM_STREAMOPENF_NONREALTIME))
    return static_cast<std::int32_t>(r);
  // Whole pieces through the same stream the reader uses, gathered here.
  std::vector<std::uint8_t> pcm;
  std::vector<std::uint8_t> piece(1 << 16);
  std::int64_t done = 0;
  const std::int64_t length = Size();
  for (;;) {
    ACMSTREAMHEADER& h = guard.header;
    h = {};
    h.cbStruct = sizeof(ACMSTREAMHEADER);
    h.pbSrc = const_cast<std::uint8_t*>(Bytes().data()) + done;
    h.cbSrcLength = static_cast<std::uint32_t>(std::min<std::int64_t>(length - done, 1 << 20));
    h.pbDst = piece.data();
    h.cbDstLength = static_cast<std::uint32_t>(piece.size());
    const bool last = done + h.cbSrcLength == length;
    if (MMRESULT r = acmStreamPrepareHeader(guard.handle, &h, 0)) return static_cast<std::int32_t>(r);
    guard.Prepared();
    if (MMRESULT r = acmStreamConvert(guard.handle, &h, ACM_STREAMCONVERTF_BLOCKALIGN | (last ? ACM_STREAMCONVERTF_END : 0)))
      return static_cast<std::int32_t>(r);
    if (MMRESULT r = guard.Unprepare()) return static_cast<std::int32_t>(r);
    done += h.cbSrcLengthUsed;
    pcm.insert(pcm.end(), piece.begin(), piece.begin() + h.cbDstLengthUsed);
    if (last && h.cbDstLengthUsed == 0 && h.cbSrcLengthUsed == h.cbSrcLength) break;
  }
  std::memcpy(SourceFormat.data(), TargetFormat.data(), MaxFormatSize);
  SetSize(0);
  SetPosition(0);
  WriteBuffer(pcm.data(), static_cast<std::int64_t>(pcm.size()));
  SetPosition(0);
  return static_cast<std::int32_t>(guard.Close());
}

void TWaveStreamConverter::HandleClose::operator()(acm::AcmStream* h) const { acmStreamClose(h, 0); }

TWaveStreamConverter::TWaveStreamConverter(TStream& Source, const TWaveConverter::FormatRecord& Format,
                                           const TWaveConverter::FormatRecord& Target, std::int64_t DataStart,
                                           std::int64_t DataSize)
    : Source_(Source), Format_(Format), Target_(Target), DataStart_(DataStart), DataSize_(DataSize) {}

TWaveStreamConverter::~TWaveStreamConverter() = default;

std::int32_t TWaveStreamConverter::Open() {
  Handle_.reset();
  Ended_ = true;
  HACMSTREAM h = nullptr;
  if (MMRESULT r = acmStreamOpen(&h, nullptr, AsFormat(Format_), AsFormat(Target_), nullptr, 0, 0,
                                 ACM_STREAMOPENF_NONREALTIME))
    return static_cast<std::int32_t>(r);
  Handle_.reset(h);
  Block_.resize(kSourceBlock);
  Consumed_ = 0;
  BlockAt_ = BlockEnd_ = 0;
  Ended_ = false;
  return 0;
}

std::uint32_t TWaveStreamConverter::Read(std::uint8_t* Buffer, std::uint32_t Bytes) {
  std::uint32_t filled = 0;
  while (!Ended_ && filled < Bytes) {
    if (BlockAt_ == BlockEnd_ && Consumed_ < DataSize_) {
      Source_.SetPosition(DataStart_ + Consumed_);
      const auto want = static_cast<std::int64_t>(std::min<std::int64_t>(kSourceBlock, DataSize_ - Consumed_));
      const std::int64_t got = Source_.Read(Block_.data(), want);
      // A file cut short ends its audio where its bytes end.
      if (got < want) DataSize_ = Consumed_ + got;
      Consumed_ += got;
      BlockAt_ = 0;
      BlockEnd_ = static_cast<std::uint32_t>(got);
    }
    const bool last = Consumed_ == DataSize_;
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = Block_.data() + BlockAt_;
    h.cbSrcLength = BlockEnd_ - BlockAt_;
    h.pbDst = Buffer + filled;
    h.cbDstLength = Bytes - filled;
    // A stream that fails part way ends the audio there, as a cut-off file does.
    if (acmStreamPrepareHeader(Handle_.get(), &h, 0) != 0 ||
        acmStreamConvert(Handle_.get(), &h, ACM_STREAMCONVERTF_BLOCKALIGN | (last ? ACM_STREAMCONVERTF_END : 0)) != 0 ||
        acmStreamUnprepareHeader(Handle_.get(), &h, 0) != 0) {
      Ended_ = true;
      break;
    }
    BlockAt_ += h.cbSrcLengthUsed;
    filled += h.cbDstLengthUsed;
    if (last && h.cbDstLengthUsed == 0 && BlockAt_ == BlockEnd_) Ended_ = true;
  }
  return filled;
}

std::int64_t TWaveStreamConverter::CountFrames() {
  MpegFrameCounter counter;
  std::vector<std::uint8_t> block(kSourceBlock + MpegAudioDecoder::kPadding, 0);
  Source_.SetPosition(DataStart_);
  for (std::int64_t done = 0; done < DataSize_;) {
    const std::int64_t got = Source_.Read(block.data(), std::min<std::int64_t>(kSourceBlock, DataSize_ - done));
    if (got <= 0) break;
    std::fill(block.begin() + got, block.end(), 0);
    if (!counter.Feed(block.data(), static_cast<std::size_t>(got))) return 0;
    done += got;
  }
  return counter.Finish(static_cast<int>(AsFormat(Target_)->nSamplesPerSec));
}

std::int32_t TWaveConverter::SaveWave(TStream& Target) {
  const std::int64_t here = Position();
  try {
    const std::int64_t length = Size();
    std::uint8_t header[44];
    PutId(header, "RIFF");
    PutLE32(header + 4, 0);
    PutId(header + 8, "WAVE");
    PutId(header + 12, "fmt ");
    PutLE32(header + 16, 16);
    std::memcpy(header + 20, SourceFormat.data(), 16);
    PutId(header + 36, "data");
    PutLE32(header + 40, static_cast<std::uint32_t>(std::min<std::int64_t>(length, 0xFFFFFFFF)));
    Target.WriteBuffer(header, sizeof header);
    Target.WriteBuffer(Bytes().data(), length);
    std::uint8_t riffSize[4];
    PutLE32(riffSize, static_cast<std::uint32_t>(std::min<std::int64_t>(Target.Size() - 8, 0xFFFFFFFF)));
    Target.SetPosition(4);
    Target.WriteBuffer(riffSize, 4);
    SetPosition(here);
    return 0;
  } catch (const std::exception&) {
    SetPosition(here);
    return 286;
  }
}

}  // namespace melvanto
