#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio_stream.h"
#include "tagged_file.h"
#include "wm_reader.h"

namespace melvanto {

// The channel layout an input asks the runtime for.
enum class TChannelsNumber : std::int32_t { cnMaxAvailable = -1, cnMonoOrStereo = 0, cn5dot1 = 6, cn7dot1 = 8 };

// The input for WMA files (and, through TMP3In, MP3): decodes through the runtime's sync
// reader and hands out its samples without copying. Attributes fill the tag containers.
class TWMIn : public TAuTaggedFileIn {
 public:
  TWMIn();
  ~TWMIn() override;

  // Ignored during a run and while OutputChannels is not cnMonoOrStereo; an open file is
  // opened again with the new request.
  bool HighPrecision() const { return HighPrecision_; }
  void SetHighPrecision(bool value);
  // Ignored during a run; anything but cnMonoOrStereo also asks for full precision.
  TChannelsNumber OutputChannels() const { return OutputChannels_; }
  void SetOutputChannels(TChannelsNumber value);

  // Opens the file first, so the container holds the file's attributes.
  TId3v2Tags* Id3v2Tags() override;
  // The file's own length in frames, without the delivery allowance an MP3 reader
  // adds to TotalSamples; opens the file.
  std::int64_t FileSamples() { return ReadFormat(FileSamples_); }
  // The bytes a run would deliver were the file as long as its header states (its Info frame,
  // its ASF play time): more than Size() for a cut or damaged file, whose missing part a
  // caller should warn about. Size() when the file states no length; opens the file.
  std::int64_t StatedSize() { return ReadFormat(StatedSize_); }

 protected:
  void OpenFile() override;
  void CloseFile() override;
  void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override;
  bool SeekInternal(std::int64_t& SampleNum) override;

  // Fills the tag containers from the runtime's attributes; called as the file opens.
  virtual void ReadTags();

  // The file's own frame count from its duration (before any play range narrows it).
  std::int64_t FileSamples_ = 0;

 private:
  struct TReaderContext {
    std::shared_ptr<TAudioStream> AudioStream;
    std::shared_ptr<wmf::IWMSyncReader> Reader;
    std::shared_ptr<wmf::IWMHeaderInfo> HeaderInfo;
    std::shared_ptr<wmf::INSSBuffer> Sample;  // being delivered
    std::uint32_t Offset = 0;                 // bytes of Sample already handed out
    std::uint32_t OutputNumber = 0;
    std::uint16_t StreamNumber = 0;
    bool FormatFound = false;
    bool Protected = false;
    std::uint32_t Channels = 0;
    std::uint32_t SampleRate = 0;
    std::uint32_t BitsPerSample = 0;
    std::uint64_t Duration = 0;  // 100-ns units
    std::uint64_t StatedDuration = 0;
  };

  void OpenReader(TStream* stream);
  void ChooseFormat(std::uint32_t outputs);
  void ReleaseReader();
  std::u16string Attribute(const std::u16string& name);
  std::uint64_t Length(const std::u16string& name);
  // Closes and opens again an open file, so a new request takes effect.
  void Reopen();
  // The tag values that need more than one attribute's text.
  std::string TrackNumber();
  std::vector<TTagPicture> Pictures();

  TReaderContext Ctx;
  std::int64_t StatedSize_ = 0;
  std::atomic<bool> HighPrecision_{false};
  std::atomic<TChannelsNumber> OutputChannels_{TChannelsNumber::cnMonoOrStereo};
};

}  // namespace melvanto
