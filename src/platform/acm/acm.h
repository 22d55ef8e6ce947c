#pragma once

// The compressed-audio conversion manager the WAV reader relies on, standing in for the
// system service of the classic desktop: MPEG Layer-3 data (format tag 0x55) to 16-bit PCM,
// converted piece by piece, through FFmpeg's MPEG audio decoder. Only the calls, records and
// results the reader's converter uses exist.

#include <cstdint>

namespace melvanto::acm {

using MMRESULT = std::uint32_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_UNPREPARED = 514;

constexpr std::uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;
constexpr std::uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr std::uint32_t ACM_STREAMOPENF_NONREALTIME = 0x00000004;
constexpr std::uint32_t ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr std::uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr std::uint32_t ACM_STREAMCONVERTF_END = 0x00000020;
constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr std::uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x55;

#pragma pack(push, 1)
struct WAVEFORMATEX {
  std::uint16_t wFormatTag;
  std::uint16_t nChannels;
  std::uint32_t nSamplesPerSec;
  std::uint32_t nAvgBytesPerSec;
  std::uint16_t nBlockAlign;
  std::uint16_t wBitsPerSample;
  std::uint16_t cbSize;
};
#pragma pack(pop)

struct ACMSTREAMHEADER {
  std::uint32_t cbStruct;
  std::uint32_t fdwStatus;
  std::uintptr_t dwUser;
  std::uint8_t* pbSrc;
  std::uint32_t cbSrcLength;
  std::uint32_t cbSrcLengthUsed;
  std::uintptr_t dwSrcUser;
  std::uint8_t* pbDst;
  std::uint32_t cbDstLength;
  std::uint32_t cbDstLengthUsed;
  std::uintptr_t dwDstUser;
};

struct AcmStream;
using HACMSTREAM = AcmStream*;

// ACM_METRIC_MAX_SIZE_FORMAT: the largest format record this manager uses, as a uint32_t.
MMRESULT acmMetrics(void* hao, std::uint32_t uMetric, void* pMetric);

// Completes dst (whose format tag asks for PCM) as the 16-bit PCM the source decodes to.
MMRESULT acmFormatSuggest(void* had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst, std::uint32_t cbwfxDst,
                          std::uint32_t fdwSuggest);

MMRESULT acmStreamOpen(HACMSTREAM* phas, void* had, const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst,
                       void* pwfltr, std::uintptr_t dwCallback, std::uintptr_t dwInstance, std::uint32_t fdwOpen);

// Destination bytes that cbInput source bytes convert to: an estimate from the average byte rates.
MMRESULT acmStreamSize(HACMSTREAM has, std::uint32_t cbInput, std::uint32_t* pdwOutputBytes, std::uint32_t fdwSize);

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwPrepare);
// Converts source until the destination is full or the source is used up (cbSrcLengthUsed,
// cbDstLengthUsed tell how far). PCM that did not fit is kept for the next call, so the
// stream holds at most what one small piece of source decodes to. ACM_STREAMCONVERTF_END
// marks the last source: once it is used up the decoder's last frames follow, and a call
// that returns no bytes with it set means the stream has ended.
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwConvert);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwUnprepare);
MMRESULT acmStreamClose(HACMSTREAM has, std::uint32_t fdwClose);

}  // namespace melvanto::acm
