#include "acm.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "mpeg_audio_decoder.h"

namespace melvanto::acm {

struct AcmStream {
  WAVEFORMATEX source{};
  WAVEFORMATEX target{};
  // The decode of the last source the size query was given, kept for the conversion.
  const std::uint8_t* cachedSource = nullptr;
  std::uint32_t cachedLength = 0;
  bool cached = false;
  std::vector<std::uint8_t> pcm;
};

namespace {

// The largest record this manager reads or writes: the MPEG Layer-3 format with its extra bytes.
constexpr std::uint32_t kMaxFormatSize = sizeof(WAVEFORMATEX) + 12;

bool IsMpegSource(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_MPEGLAYER3 && (f.nChannels == 1 || f.nChannels == 2) &&
         f.nSamplesPerSec >= 8000 && f.nSamplesPerSec <= 48000;
}

bool IsPcmTargetFor(const WAVEFORMATEX& t, const WAVEFORMATEX& s) {
  return t.wFormatTag == WAVE_FORMAT_PCM && t.wBitsPerSample == 16 && t.nChannels == s.nChannels &&
         t.nSamplesPerSec == s.nSamplesPerSec;
}

MMRESULT Decode(AcmStream& s, const std::uint8_t* data, std::uint32_t length) {
  if (s.cached && s.cachedSource == data && s.cachedLength == length) return MMSYSERR_NOERROR;
  s.cached = false;
  try {
    if (!DecodeMpegAudio(data, length, s.target.nChannels, static_cast<int>(s.target.nSamplesPerSec), s.pcm))
      return ACMERR_NOTPOSSIBLE;
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  }
  if (s.pcm.size() > 0xFFFFFFFFu) return ACMERR_NOTPOSSIBLE;
  s.cachedSource = data;
  s.cachedLength = length;
  s.cached = true;
  return MMSYSERR_NOERROR;
}

}  // namespace

MMRESULT acmMetrics(void* hao, std::uint32_t uMetric, void* pMetric) {
  if (hao != nullptr) return MMSYSERR_INVALHANDLE;
  if (pMetric == nullptr) return MMSYSERR_INVALPARAM;
  if (uMetric != ACM_METRIC_MAX_SIZE_FORMAT) return ACMERR_NOTPOSSIBLE;
  std::memcpy(pMetric, &kMaxFormatSize, sizeof kMaxFormatSize);
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(void*, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst, std::uint32_t cbwfxDst,
                          std::uint32_t fdwSuggest) {
  if (pwfxSrc == nullptr || pwfxDst == nullptr || cbwfxDst < 16) return MMSYSERR_INVALPARAM;
  if ((fdwSuggest & ~ACM_FORMATSUGGESTF_WFORMATTAG) != 0) return MMSYSERR_INVALFLAG;
  if (!IsMpegSource(*pwfxSrc)) return ACMERR_NOTPOSSIBLE;
  if ((fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) && pwfxDst->wFormatTag != WAVE_FORMAT_PCM)
    return ACMERR_NOTPOSSIBLE;
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = pwfxSrc->nChannels;
  pcm.nSamplesPerSec = pwfxSrc->nSamplesPerSec;
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<std::uint16_t>(2 * pcm.nChannels);
  pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
  std::memcpy(pwfxDst, &pcm, std::min<std::uint32_t>(cbwfxDst, sizeof pcm));
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* phas, void*, const WAVEFORMATEX* pwfxSrc, const WAVEFORMATEX* pwfxDst, void* pwfltr,
                       std::uintptr_t, std::uintptr_t, std::uint32_t fdwOpen) {
  if (phas == nullptr || pwfxSrc == nullptr || pwfxDst == nullptr || pwfltr != nullptr) return MMSYSERR_INVALPARAM;
  *phas = nullptr;
  if ((fdwOpen & ~ACM_STREAMOPENF_NONREALTIME) != 0) return MMSYSERR_INVALFLAG;
  if (!IsMpegSource(*pwfxSrc) || !IsPcmTargetFor(*pwfxDst, *pwfxSrc)) return ACMERR_NOTPOSSIBLE;
  auto stream = std::make_unique<AcmStream>();
  stream->source = *pwfxSrc;
  stream->target = *pwfxDst;
  // The handle is the stream itself; acmStreamClose takes ownership back.
  *phas = stream.release();
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, std::uint32_t cbInput, std::uint32_t* pdwOutputBytes, std::uint32_t fdwSize,
                       const std::uint8_t* pbSource) {
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (pdwOutputBytes == nullptr) return MMSYSERR_INVALPARAM;
  if (fdwSize != ACM_STREAMSIZEF_SOURCE) return MMSYSERR_INVALFLAG;
  if (pbSource != nullptr) {
    if (const MMRESULT r = Decode(*has, pbSource, cbInput); r != MMSYSERR_NOERROR) return r;
    *pdwOutputBytes = static_cast<std::uint32_t>(has->pcm.size());
    return MMSYSERR_NOERROR;
  }
  // Without the data only the byte rates can tell, plus one frame of slack.
  const std::uint64_t rateIn = std::max<std::uint32_t>(has->source.nAvgBytesPerSec, 1);
  const std::uint64_t estimate = std::uint64_t{cbInput} * has->target.nAvgBytesPerSec / rateIn + 1152u * 2u * 2u;
  *pdwOutputBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(estimate, 0xFFFFFFFFu));
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t) {
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (pash == nullptr || pash->cbStruct < sizeof(ACMSTREAMHEADER) || pash->pbSrc == nullptr ||
      (pash->pbDst == nullptr && pash->cbDstLength > 0))
    return MMSYSERR_INVALPARAM;
  pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwConvert) {
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (pash == nullptr) return MMSYSERR_INVALPARAM;
  if ((fdwConvert & ~ACM_STREAMCONVERTF_BLOCKALIGN) != 0) return MMSYSERR_INVALFLAG;
  if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (const MMRESULT r = Decode(*has, pash->pbSrc, pash->cbSrcLength); r != MMSYSERR_NOERROR) return r;
  const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(has->pcm.size(), pash->cbDstLength));
  if (n > 0) std::memcpy(pash->pbDst, has->pcm.data(), n);
  pash->cbSrcLengthUsed = pash->cbSrcLength;
  pash->cbDstLengthUsed = n;
  // The decode has been handed over: do not hold a second copy of a long file's PCM.
  std::vector<std::uint8_t>().swap(has->pcm);
  has->cached = false;
  pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t) {
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (pash == nullptr) return MMSYSERR_INVALPARAM;
  if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, std::uint32_t fdwClose) {
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (fdwClose != 0) return MMSYSERR_INVALFLAG;
  std::unique_ptr<AcmStream> owned(has);
  return MMSYSERR_NOERROR;
}

}  // namespace melvanto::acm
