#pragma once

#include <cstdint>
#include <string>

#include "stream.h"
#include "unique_fd.h"

namespace melvanto {

// The mode that creates (or empties) a file for reading and writing.
constexpr std::uint16_t kFileModeCreate = 0xFFFF;

// Our own mode for appending: opens the file for reading and writing, creating it when it
// does not exist, never truncating it.
constexpr std::uint16_t kFileModeOpenOrCreate = 0xFFFE;

// Mode bits of an existing file: access in bits 0-1, sharing in bits 4-7.
constexpr std::uint16_t kFileModeRead = 0x0000;
constexpr std::uint16_t kFileModeWrite = 0x0001;
constexpr std::uint16_t kFileModeReadWrite = 0x0002;
constexpr std::uint16_t kFileShareExclusive = 0x0010;
constexpr std::uint16_t kFileShareDenyWrite = 0x0020;
constexpr std::uint16_t kFileShareDenyRead = 0x0030;
constexpr std::uint16_t kFileShareDenyNone = 0x0040;

// A file stream opened by UTF-16 name. Sharing is decoded and kept but not enforced:
// Linux has no mandatory sharing modes.
class TAuFileStream : public TStream {
 public:
  // Raises EAuException with the system's text when the file cannot be opened or created.
  TAuFileStream(const std::u16string& fileName, std::uint16_t mode, std::uint32_t rights = 0);

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;

  int Handle() const { return fd_.Get(); }
  std::uint16_t ShareMode() const { return shareMode_; }

 private:
  UniqueFd fd_;
  std::uint16_t shareMode_ = 0;
};

// Raises EAuException carrying the system's text for errno.
[[noreturn]] void RaiseLastOSError();

}  // namespace melvanto
