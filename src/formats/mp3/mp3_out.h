#pragma once

#include <cstdint>
#include <vector>

#include "id3v1_record.h"
#include "lame_enc.h"
#include "tagged_file.h"
#include "taglib_binding.h"

namespace melvanto {

enum class TMP3Mode { mmStereo, mmJointStereo, mmDual, mmMono };
enum class TMP3Quality { mp3ql0, mp3ql1, mp3ql2, mp3ql3, mp3ql4, mp3ql5, mp3ql6, mp3ql7, mp3ql8, mp3ql9 };
enum class TMP3BitRate {
  mbrAuto, mbr32, mbr40, mbr48, mbr56, mbr64, mbr80, mbr96,
  mbr112, mbr128, mbr144, mbr160, mbr192, mbr224, mbr256, mbr320
};

// The bit rate in kbit/s that a value stands for (0 for mbrAuto).
std::uint32_t BitRateKbps(TMP3BitRate rate);

// Encodes the PCM of its input into an MP3 file through LAME, appends an ID3v1 record,
// writes LAME's Info/Xing frame into the finished file and then the ID3v2 tags through
// TagLib.
class TMP3Out : public TAuTaggedFileOut {
 public:
  TMP3Out();
  ~TMP3Out() override;

  TMP3BitRate BitRate() const { return BitRate_; }
  void SetBitRate(TMP3BitRate value) { BitRate_ = value; }
  TMP3Mode Mode() const { return Mode_; }
  void SetMode(TMP3Mode value) { Mode_ = value; }
  bool CRC() const { return CRC_; }
  void SetCRC(bool value) { CRC_ = value; }
  bool Copyright() const { return Copyright_; }
  void SetCopyright(bool value) { Copyright_ = value; }
  bool Original() const { return Original_; }
  void SetOriginal(bool value) { Original_ = value; }
  bool EnableBitReservoir() const { return EnableBitReservoir_; }
  void SetEnableBitReservoir(bool value) { EnableBitReservoir_ = value; }
  bool StrictISO() const { return StrictISO_; }
  void SetStrictISO(bool value) { StrictISO_ = value; }
  TMP3Quality VBRQuality() const { return VBRQuality_; }
  void SetVBRQuality(TMP3Quality value) { VBRQuality_ = value; }
  bool EnableVBR() const { return EnableVBR_; }
  void SetEnableVBR(bool value) { EnableVBR_ = value; }
  TMP3BitRate AverageBitrate() const { return AverageBitrate_; }
  void SetAverageBitrate(TMP3BitRate value) { AverageBitrate_ = value; }
  TMP3BitRate MaximumBitrate() const { return MaximumBitrate_; }
  void SetMaximumBitrate(TMP3BitRate value) { MaximumBitrate_ = value; }

  // The encoder configuration record these settings give for an input of this format.
  TLameConfig MakeConfig(std::uint32_t sampleRate, std::uint32_t channels) const;

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

 private:
  void WriteAll(const void* data, std::uint32_t bytes, const char* failure);
  // A file we write ourselves, by name: the only kind the Info frame and TagLib can reach.
  bool OwnNamedFile() const { return !StreamAssigned() && !FileName().empty(); }

  TMP3BitRate BitRate_ = TMP3BitRate::mbr128;
  TMP3Mode Mode_ = TMP3Mode::mmStereo;
  bool CRC_ = false;
  bool Copyright_ = false;
  bool Original_ = true;
  bool EnableBitReservoir_ = true;  // LAME's own default: better sound for the same bits
  bool StrictISO_ = false;
  TMP3Quality VBRQuality_ = TMP3Quality::mp3ql0;
  bool EnableVBR_ = false;
  TMP3BitRate AverageBitrate_ = TMP3BitRate::mbrAuto;
  TMP3BitRate MaximumBitrate_ = TMP3BitRate::mbrAuto;

  // One run's state, from Prepare to Done.
  TLameEncBinding Lame;
  HBE_STREAM Encoder = 0;
  std::uint32_t InputFrameBytes = 0;
  std::uint32_t EncoderChannels = 2;
  unsigned InputBits = 16;
  unsigned InputChannels = 2;
  std::vector<std::uint8_t> PcmBuffer;
  std::vector<std::int16_t> Samples;
  std::vector<std::uint8_t> Mp3Buffer;
  std::string RunFileName;  // empty when the target is a caller's stream
  TId3v1Record Record{};
  TId3v2Tags RunId3v2Tags;
};

}  // namespace melvanto
