#include "audio_stream.h"

#include <exception>
#include <limits>

namespace melvanto {

using wmf::HRESULT;
using wmf::S_OK;

// The stream may raise (a failing file); the runtime only understands result codes.
HRESULT TAudioStream::Read(void* pv, std::uint32_t cb, std::uint32_t* pcbRead) {
  std::int64_t n = 0;
  try {
    n = Stream->Read(pv, cb);
  } catch (const std::exception&) {
    n = 0;
  }
  if (n < 0) n = 0;
  if (pcbRead != nullptr) *pcbRead = static_cast<std::uint32_t>(n);
  return n > 0 ? S_OK : kFailure;
}

HRESULT TAudioStream::Write(const void* pv, std::uint32_t cb, std::uint32_t* pcbWritten) {
  std::int64_t n = 0;
  try {
    n = Stream->Write(pv, cb);
  } catch (const std::exception&) {
    n = 0;
  }
  if (n < 0) n = 0;
  if (pcbWritten != nullptr) *pcbWritten = static_cast<std::uint32_t>(n);
  return n > 0 ? S_OK : kFailure;
}

HRESULT TAudioStream::Seek(std::int64_t move, std::uint32_t origin, std::uint64_t* newPosition) {
  const TSeekOrigin from = origin == wmf::STREAM_SEEK_CUR   ? TSeekOrigin::soCurrent
                           : origin == wmf::STREAM_SEEK_END ? TSeekOrigin::soEnd
                                                            : TSeekOrigin::soBeginning;
  try {
    const std::int64_t at = Stream->Seek(move, from);
    if (newPosition != nullptr) *newPosition = static_cast<std::uint64_t>(at < 0 ? 0 : at);
  } catch (const std::exception&) {
    return kFailure;
  }
  return S_OK;
}

HRESULT TAudioStream::SetSize(std::uint64_t newSize) {
  if (newSize > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return kFailure;
  try {
    Stream->Seek(static_cast<std::int64_t>(newSize), TSeekOrigin::soBeginning);
  } catch (const std::exception&) {
    return kFailure;
  }
  return S_OK;
}

HRESULT TAudioStream::CopyTo(wmf::IStream*, std::uint64_t, std::uint64_t*, std::uint64_t*) { return kFailure; }
HRESULT TAudioStream::Commit(std::uint32_t) { return kFailure; }
HRESULT TAudioStream::Revert() { return kFailure; }
HRESULT TAudioStream::LockRegion(std::uint64_t, std::uint64_t, std::uint32_t) { return kFailure; }
HRESULT TAudioStream::UnlockRegion(std::uint64_t, std::uint64_t, std::uint32_t) { return kFailure; }

HRESULT TAudioStream::Stat(wmf::STATSTG* stat, std::uint32_t) {
  if (stat == nullptr) return kFailure;
  try {
    const std::int64_t size = Stream->Size();
    stat->cbSize = static_cast<std::uint64_t>(size < 0 ? 0 : size);
  } catch (const std::exception&) {
    return kFailure;
  }
  stat->grfLocksSupported = 0;
  return S_OK;
}

HRESULT TAudioStream::Clone(std::shared_ptr<wmf::IStream>* stream) {
  if (stream != nullptr) stream->reset();
  return kFailure;
}

}  // namespace melvanto
