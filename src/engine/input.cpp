#include "input.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "au_exception.h"
#include "file_stream.h"
#include "wide_name.h"

namespace melvanto {

// ---- TAuInput ----

void TAuInput::Init() {
  std::lock_guard lock(DataLock);
  EndOfData_ = false;
  try {
    InitInternal();
  } catch (const std::exception& e) {
    EndOfData_ = true;
    throw EAuException(e.what());
  }
}

void TAuInput::Flush() {
  std::lock_guard lock(DataLock);
  FlushInternal();
}

std::uint32_t TAuInput::CopyData(void* Buffer, std::uint32_t BufferSize) {
  const std::uint8_t* block = nullptr;
  std::uint32_t bytes = BufferSize;
  GetData(block, bytes);
  if (block == nullptr) return 0;
  std::memcpy(Buffer, block, bytes);
  return bytes;
}

std::uint32_t TAuInput::FillBuffer(void* Buffer, std::uint32_t BufferSize, bool& EndReached) {
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::uint32_t gathered = 0;
  EndReached = false;
  while (gathered < BufferSize) {
    const std::uint8_t* block = nullptr;
    std::uint32_t bytes = BufferSize - gathered;
    GetData(block, bytes);
    if (bytes == 0 || block == nullptr) {
      EndReached = true;
      break;
    }
    std::memcpy(out + gathered, block, bytes);
    gathered += bytes;
  }
  return gathered;
}

// ---- TAuStreamedInput ----

TAuStreamedInput::TAuStreamedInput() { Seekable_ = true; }

void TAuStreamedInput::SetStream(TStream* stream) {
  Stream_ = stream;
  StreamAssigned_ = stream != nullptr;
}

std::int64_t TAuStreamedInput::StartSample() {
  std::lock_guard lock(DataLock);
  return StartSample_;
}

void TAuStreamedInput::SetStartSample(std::int64_t value) {
  std::lock_guard lock(DataLock);
  StartSample_ = value;
}

std::int64_t TAuStreamedInput::EndSample() {
  std::lock_guard lock(DataLock);
  return EndSample_;
}

void TAuStreamedInput::SetEndSample(std::int64_t value) {
  std::lock_guard lock(DataLock);
  EndSample_ = value;
}

// One raw delivery with the cut at Size, so that no byte past the range goes out.
void TAuStreamedInput::Pull(const std::uint8_t*& Buffer, std::uint32_t& Bytes) {
  GetDataInternal(Buffer, Bytes);
  if (Bytes == 0) {
    EndOfData_ = true;
    return;
  }
  std::int64_t position = Position_.load(std::memory_order_relaxed) + Bytes;
  const std::int64_t size = Size_.load(std::memory_order_relaxed);
  if (size > 0 && position >= size) {
    EndOfData_ = true;
    const std::int64_t overshoot = position - size;
    Bytes = overshoot >= Bytes ? 0 : Bytes - static_cast<std::uint32_t>(overshoot);
    position = size;
  }
  Position_.store(position, std::memory_order_relaxed);
}

bool TAuStreamedInput::RestartLoop() {
  if (Seekable_) {
    std::int64_t start = StartSample_;
    SeekInternal(start);
  } else {
    Flush();
    Init();
  }
  Position_.store(0, std::memory_order_relaxed);
  return !EndOfData_;
}

void TAuStreamedInput::GetData(const std::uint8_t*& Buffer, std::uint32_t& Bytes) {
  std::lock_guard lock(DataLock);
  const std::uint32_t requested = Bytes;
  Buffer = nullptr;
  Bytes = 0;
  if (EndOfData_) return;
  if (LoopRestartPending_) {
    LoopRestartPending_ = false;
    if (Loop_ && !RestartLoop()) return;
  }
  Bytes = requested;
  Pull(Buffer, Bytes);
  if (!EndOfData_ || !Loop_) return;
  EndOfData_ = false;
  if (Bytes > 0) {
    // The last block of the pass goes out whole; the new pass starts with the next call.
    LoopRestartPending_ = true;
    return;
  }
  if (!RestartLoop()) return;
  Bytes = requested;
  Pull(Buffer, Bytes);
  // Only a pass that delivers nothing at all ends a looped run.
  if (EndOfData_ && Bytes > 0) {
    EndOfData_ = false;
    LoopRestartPending_ = true;
  }
}

// ---- TAuFileIn ----

// The source cannot change under a run: the worker would read a closed stream.
void TAuFileIn::RefuseWhileBusy() const {
  if (Busy_) throw EAuException("The component is Busy");
}

// DataLock first: the worker reads the stream under it during a run.
void TAuFileIn::SetStream(TStream* stream) {
  std::lock_guard lock(DataLock);
  RefuseWhileBusy();
  CloseFile();
  TAuStreamedInput::SetStream(stream);
}

void TAuFileIn::SetFileName(const std::string& name) {
  std::lock_guard lock(DataLock);
  RefuseWhileBusy();
  CloseFile();
  FileName_ = name;
  WideFileName_ = Utf8ToUtf16(name);
}

void TAuFileIn::SetWideFileName(const std::u16string& name) {
  std::lock_guard lock(DataLock);
  RefuseWhileBusy();
  CloseFile();
  WideFileName_ = name;
  FileName_ = Utf16ToUtf8(name);
}

bool TAuFileIn::FormatUsable() const {
  return SampleRate_ != 0 && Channels_ != 0 && ((Channels_ * BitsPerSample_) >> 3) != 0 &&
         (Channels_ * BitsPerSample_) >> 3 <= 0xFFFF;
}

bool TAuFileIn::Valid() { return ReadFormat(Valid_); }

std::uint32_t TAuFileIn::GetBitsPerSample() { return ReadFormat(BitsPerSample_); }

std::uint32_t TAuFileIn::GetChannels() { return ReadFormat(Channels_); }

std::uint32_t TAuFileIn::GetSampleRate() { return ReadFormat(SampleRate_); }

std::int32_t TAuFileIn::GetTotalTime() {
  std::lock_guard lock(FileLock);
  OpenFile();
  const std::uint64_t bytesPerSecond =
      std::uint64_t{SampleRate_} * Channels_ * (BitsPerSample_ / 8);
  if (bytesPerSecond == 0 || Size() <= 0) return 0;
  // A damaged header can claim more seconds than 32 bits hold: say the most it can.
  const double seconds = std::nearbyint(static_cast<double>(Size()) / static_cast<double>(bytesPerSecond));
  return seconds >= std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                             : static_cast<std::int32_t>(seconds);
}

std::int64_t TAuFileIn::GetTotalSamples() {
  std::lock_guard lock(FileLock);
  OpenFile();
  const std::uint32_t frameBytes = (Channels_ * BitsPerSample_) >> 3;
  const std::int64_t size = Size();
  if (frameBytes == 0) {
    TotalSamples_ = 0;  // a format without whole-byte frames is not deliverable
  } else {
    TotalSamples_ = size > 0 ? size / frameBytes : -1;
  }
  return TotalSamples_;
}

TStream* TAuFileIn::OpenSourceStream() {
  if (StreamAssigned_) return Stream_;
  OwnedStream_ = std::make_unique<TAuFileStream>(WideFileName_, kFileModeRead | kFileShareDenyWrite);
  Stream_ = OwnedStream_.get();
  return Stream_;
}

void TAuFileIn::CloseSourceStream() {
  if (StreamAssigned_) {
    try {
      if (Stream_ != nullptr) Stream_->SetPosition(0);
    } catch (const std::exception&) {
      // A stream that cannot be rewound is left where it is.
    }
    return;
  }
  OwnedStream_.reset();
  Stream_ = nullptr;
}

void TAuFileIn::InitInternal() {
  if (Busy_) throw EAuException("The component is Busy");
  if (!StreamAssigned_ && WideFileName_.empty())
    throw EAuException("The file name is not assigned");
  Busy_ = true;
  Position_ = 0;
  LoopRestartPending_ = false;
  {
    std::lock_guard lock(FileLock);
    OpenFile();
    if (!Valid_ || !FormatUsable()) {
      // Nothing to deliver; a format that would divide by zero counts as not valid.
      Valid_ = false;
      BitsPerSample_ = 8;
      SampleRate_ = 8000;
      Channels_ = 1;
      TotalSamples_ = 0;
      Size_ = 0;
      TotalTime_ = 0;
      EndOfData_ = true;
      return;
    }
    SampleSize_ = static_cast<std::uint16_t>((Channels_ * BitsPerSample_) >> 3);
  }
  // An unknown size (-1) gives 0 frames, which leaves Seek unbounded.
  TotalSamples_ = Size() > 0 ? Size() / SampleSize_ : 0;
  TotalTime_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(TotalSamples_ / SampleRate_, std::numeric_limits<std::int32_t>::max()));
  // Negative bounds mean nothing: the range starts at 0 and runs to the end.
  if (StartSample_ < 0) StartSample_ = 0;
  if (EndSample_ < -1) EndSample_ = -1;
  if (StartSample_ > 0) {
    Seek(0);
    Position_ = 0;
  }
  if (StartSample_ != 0 || EndSample_ != -1) {
    const std::int64_t total = TotalSamples_;
    // Frames are numbered from 0, so an end at or past the frame count means "to the end".
    if (total > 0 && EndSample_ >= total) EndSample_ = -1;
    if (EndSample_ != -1 || total > 0) {
      const std::int64_t last = EndSample_ != -1 ? EndSample_ : total - 1;
      const std::int64_t span = last - StartSample_;
      if (span < 0) {
        // A range that ends before it starts (or starts past the end) is empty.
        TotalSamples_ = 0;
        Size_ = 0;
        EndOfData_ = true;
      } else if (span < std::numeric_limits<std::int64_t>::max() / SampleSize_) {
        TotalSamples_ = span + 1;
        Size_ = (span + 1) * SampleSize_;
      } else {
        EndSample_ = -1;  // too far to count in bytes: to the end
      }
    }
  }
  BlockStart = 1;
  BlockEnd = 0;
}

void TAuFileIn::FlushInternal() {
  CloseFile();
  StartSample_ = 0;
  EndSample_ = -1;
  Busy_ = false;
}

bool TAuFileIn::Seek(std::int64_t SampleNum) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  if (SampleNum < 0) return false;
  std::lock_guard lock(DataLock);
  if (!Seekable_) return false;
  const std::int64_t total = TotalSamples_;
  // During a run a known size bounds the seek, an empty range included; otherwise 0 frames
  // means "not known" and leaves it open.
  const bool bounded = Busy_ ? Size() >= 0 : total != 0;
  if (bounded && (SampleNum > total || (Busy_ && total == 0))) return false;
  if (!Busy_) {
    if (SampleSize_ != 0 && SampleNum > kMax / SampleSize_) return false;
    StartSample_ = SampleNum;
    Position_ = SampleNum * SampleSize_;
    EndSample_ = -1;
    return true;
  }
  // The frame reached must still be countable in bytes.
  if (SampleSize_ == 0 || SampleNum > kMax / SampleSize_ - StartSample_) return false;
  try {
    std::int64_t reached = StartSample_ + SampleNum;
    const bool ok = SeekInternal(reached);
    Position_ = (reached - StartSample_) * SampleSize_;
    if (ok) {
      // The data goes on from here, whatever ended or was about to restart before.
      EndOfData_ = false;
      LoopRestartPending_ = false;
    }
    return ok;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace melvanto
