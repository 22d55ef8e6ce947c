#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "component.h"
#include "stream.h"

namespace melvanto {

// Abstract source of PCM blocks. An output pulls blocks with GetData on its worker thread;
// the block stays in the input's memory and is valid until the next call.
class TAuInput : public TComponent {
 public:
  TAuInput() = default;
  ~TAuInput() override = default;

  virtual std::uint32_t GetBitsPerSample() = 0;
  virtual std::uint32_t GetChannels() = 0;
  virtual std::uint32_t GetSampleRate() = 0;
  virtual std::int32_t GetTotalTime() { return 0; }
  virtual std::int64_t GetTotalSamples() { return 0; }

  // Buffer points into the input's own memory afterwards; Bytes is in: the most wanted,
  // out: the count delivered, 0 at the end of data.
  virtual void GetData(const std::uint8_t*& Buffer, std::uint32_t& Bytes) = 0;

  // Prepare and end delivery. Init raises EAuException if the descendant could not start.
  void Init();
  void Flush();

  // Copies one block into Buffer; returns its size, 0 at the end of data.
  std::uint32_t CopyData(void* Buffer, std::uint32_t BufferSize);
  // Gathers blocks until BufferSize bytes are in or the data ends (EndReached).
  std::uint32_t FillBuffer(void* Buffer, std::uint32_t BufferSize, bool& EndReached);

  std::uint32_t BitsPerSample() { return GetBitsPerSample(); }
  std::uint32_t Channels() { return GetChannels(); }
  std::uint32_t SampleRate() { return GetSampleRate(); }
  std::int32_t TotalTime() { return GetTotalTime(); }
  std::int64_t TotalSamples() { return GetTotalSamples(); }
  // Bytes this run will deliver; -1 unknown, 0 empty or not known yet.
  std::int64_t Size() const { return Size_.load(std::memory_order_relaxed); }
  // Bytes delivered since Init or the last loop restart.
  std::int64_t Position() const { return Position_.load(std::memory_order_relaxed); }
  std::uint16_t SampleSize() const { return SampleSize_; }
  bool Seekable() const { return Seekable_; }
  bool Busy() const { return Busy_.load(); }
  bool EndOfData() const { return EndOfData_; }

 protected:
  virtual void InitInternal() = 0;
  virtual void FlushInternal() = 0;
  virtual void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) = 0;

  std::atomic<std::int64_t> Position_{0};
  std::atomic<std::int64_t> Size_{0};
  std::uint16_t SampleSize_ = 0;
  bool Seekable_ = false;
  std::atomic<bool> Busy_{false};
  // Cursors a descendant may keep over its own decoded block.
  std::int32_t BlockStart = 0;
  std::int32_t BlockEnd = 0;
  std::recursive_mutex DataLock;
  bool EndOfData_ = false;
};

// A source that reads a stream (handed in, or opened by a descendant), with a play range
// of frames StartSample..EndSample and optional looping.
class TAuStreamedInput : public TAuInput {
 public:
  TAuStreamedInput();

  void GetData(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override;

  // A stream handed in is never freed by the input; nullptr returns to reading the file.
  virtual void SetStream(TStream* stream);
  TStream* Stream() const { return Stream_; }
  bool StreamAssigned() const { return StreamAssigned_; }

  std::int64_t StartSample();
  void SetStartSample(std::int64_t value);
  std::int64_t EndSample();
  void SetEndSample(std::int64_t value);
  bool Loop() const { return Loop_.load(); }
  void SetLoop(bool value) { Loop_ = value; }

 protected:
  // Positions the source at an absolute frame; may move SampleNum to the frame reached.
  virtual bool SeekInternal(std::int64_t& SampleNum) = 0;

  TStream* Stream_ = nullptr;
  bool StreamAssigned_ = false;
  std::int64_t StartSample_ = 0;
  std::int64_t EndSample_ = -1;
  std::atomic<bool> Loop_{false};
  std::atomic<std::int64_t> TotalSamples_{0};
  // The last block of a looped pass went out; the next call starts the new pass.
  bool LoopRestartPending_ = false;

 private:
  void Pull(const std::uint8_t*& Buffer, std::uint32_t& Bytes);
  // Starts the next pass of a looped range; false when the restart left nothing to deliver.
  bool RestartLoop();
};

// A source that reads a named file (or a handed-in stream) and knows its PCM format.
// Descendants free their own decoder state with their members; the base frees its stream.
class TAuFileIn : public TAuStreamedInput {
 public:
  std::uint32_t GetBitsPerSample() override;
  std::uint32_t GetChannels() override;
  std::uint32_t GetSampleRate() override;
  std::int32_t GetTotalTime() override;
  std::int64_t GetTotalSamples() override;

  void SetStream(TStream* stream) override;

  // Setting a name or a stream closes the file; during a run they raise "The component is Busy".
  const std::string& FileName() const { return FileName_; }
  void SetFileName(const std::string& name);
  const std::u16string& WideFileName() const { return WideFileName_; }
  void SetWideFileName(const std::u16string& name);

  bool Valid();

  // Before a run: the next run starts at frame SampleNum. During a run: moves to frame
  // SampleNum of the play range. False when the frame is out of reach.
  bool Seek(std::int64_t SampleNum);

 protected:
  void InitInternal() override;
  void FlushInternal() override;

  // Open the source and read its header (once: a no-op while OpenCount is non-zero), and
  // close it. Both run under FileLock; descendants use OpenSourceStream and
  // CloseSourceStream for the stream itself.
  virtual void OpenFile() = 0;
  virtual void CloseFile() = 0;

  // The handed-in stream, or a new read-only file stream on WideFileName kept as Stream.
  TStream* OpenSourceStream();
  // Frees our own stream; a handed-in one is rewound if it can be.
  void CloseSourceStream();
  // Whether the format can be delivered: non-zero rate, channels and a whole-byte frame.
  bool FormatUsable() const;
  // Raises "The component is Busy" during a run.
  void RefuseWhileBusy() const;
  // A format field, read with the file open (getters may run before any Init).
  template <class T>
  T ReadFormat(const T& field) {
    std::lock_guard lock(FileLock);
    OpenFile();
    return field;
  }

  std::recursive_mutex FileLock;
  std::string FileName_;
  std::u16string WideFileName_;
  std::int32_t OpenCount = 0;
  bool Valid_ = false;
  std::uint32_t BitsPerSample_ = 0;
  std::uint32_t SampleRate_ = 0;
  std::uint32_t Channels_ = 0;
  std::atomic<std::int32_t> TotalTime_{0};

 private:
  std::unique_ptr<TStream> OwnedStream_;
};

}  // namespace melvanto
