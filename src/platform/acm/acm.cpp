#include "acm.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "mpeg_audio_decoder.h"

namespace melvanto::acm {

struct AcmStream {
  WAVEFORMATEX source{};
  WAVEFORMATEX target{};
  MpegAudioDecoder decoder;
  std::size_t pendingAt = 0;  // PCM before this in the decoder's pending bytes is handed out
  bool finished = false;
  // The source piece handed to the parser, with the zero padding it reads past the end.
  std::array<std::uint8_t, 1024 + MpegAudioDecoder::kPadding> piece{};
};

namespace {

// The largest record this manager reads or writes: the MPEG Layer-3 format with its extra bytes.
constexpr std::uint32_t kMaxFormatSize = sizeof(WAVEFORMATEX) + 12;
// Source fed to the decoder at a time: small, so what one piece decodes to stays small even
// when a header claims a far higher rate than its frames have.
constexpr std::size_t kPiece = 1024;

bool IsMpegSource(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_MPEGLAYER3 && (f.nChannels == 1 || f.nChannels == 2) &&
         f.nSamplesPerSec >= 8000 && f.nSamplesPerSec <= 48000;
}

bool IsPcmTargetFor(const WAVEFORMATEX& t, const WAVEFORMATEX& s) {
  return t.wFormatTag == WAVE_FORMAT_PCM && t.wBitsPerSample == 16 && t.nChannels == s.nChannels &&
         t.nSamplesPerSec == s.nSamplesPerSec;
}

// Moves pending PCM into the destination; true when the destination is full.
bool HandOut(AcmStream& s, ACMSTREAMHEADER& h) {
  std::vector<std::uint8_t>& pending = s.decoder.Pending();
  const std::size_t n = std::min<std::size_t>(pending.size() - s.pendingAt, h.cbDstLength - h.cbDstLengthUsed);
  if (n > 0) std::memcpy(h.pbDst + h.cbDstLengthUsed, pending.data() + s.pendingAt, n);
  h.cbDstLengthUsed += static_cast<std::uint32_t>(n);
  s.pendingAt += n;
  if (s.pendingAt == pending.size()) {
    pending.clear();
    s.pendingAt = 0;
  }
  return h.cbDstLengthUsed == h.cbDstLength;
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
  if (!stream->decoder.Open(stream->target.nChannels, static_cast<int>(stream->target.nSamplesPerSec)))
    return ACMERR_NOTPOSSIBLE;
  // The handle is the stream itself; acmStreamClose takes ownership back.
  *phas = stream.release();
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, std::uint32_t cbInput, std::uint32_t* pdwOutputBytes, std::uint32_t fdwSize) {
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (pdwOutputBytes == nullptr) return MMSYSERR_INVALPARAM;
  if (fdwSize != ACM_STREAMSIZEF_SOURCE) return MMSYSERR_INVALFLAG;
  // Without decoding only the byte rates can tell, plus one frame of slack.
  const std::uint64_t rateIn = std::max<std::uint32_t>(has->source.nAvgBytesPerSec, 1);
  const std::uint64_t estimate = std::uint64_t{cbInput} * has->target.nAvgBytesPerSec / rateIn + 1152u * 2u * 2u;
  *pdwOutputBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(estimate, 0xFFFFFFFFu));
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t) {
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (pash == nullptr || pash->cbStruct < sizeof(ACMSTREAMHEADER) ||
      (pash->pbSrc == nullptr && pash->cbSrcLength > 0) || (pash->pbDst == nullptr && pash->cbDstLength > 0))
    return MMSYSERR_INVALPARAM;
  pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, std::uint32_t fdwConvert) {
  if (has == nullptr) return MMSYSERR_INVALHANDLE;
  if (pash == nullptr) return MMSYSERR_INVALPARAM;
  if ((fdwConvert & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END)) != 0) return MMSYSERR_INVALFLAG;
  if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  AcmStream& s = *has;
  ACMSTREAMHEADER& h = *pash;
  h.cbSrcLengthUsed = 0;
  h.cbDstLengthUsed = 0;
  h.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  try {
    while (!HandOut(s, h) && h.cbSrcLengthUsed < h.cbSrcLength) {
      const std::size_t n = std::min<std::size_t>(kPiece, h.cbSrcLength - h.cbSrcLengthUsed);
      std::memcpy(s.piece.data(), h.pbSrc + h.cbSrcLengthUsed, n);
      std::memset(s.piece.data() + n, 0, MpegAudioDecoder::kPadding);
      if (!s.decoder.Feed(s.piece.data(), n)) return ACMERR_NOTPOSSIBLE;
      h.cbSrcLengthUsed += static_cast<std::uint32_t>(n);
    }
    if ((fdwConvert & ACM_STREAMCONVERTF_END) && h.cbSrcLengthUsed == h.cbSrcLength && !s.finished &&
        h.cbDstLengthUsed < h.cbDstLength) {
      s.finished = true;
      if (!s.decoder.Finish()) return ACMERR_NOTPOSSIBLE;
      HandOut(s, h);
    }
  } catch (const std::bad_alloc&) {
    return MMSYSERR_NOMEM;
  }
  h.fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
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
