#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace melvanto::file_access {

// What the tag containers need of an open POSIX file. Failures are results, never throws.

std::optional<std::int64_t> Position(int fd);
// From SEEK_SET, SEEK_CUR or SEEK_END; the new position, or nothing.
std::optional<std::int64_t> Seek(int fd, std::int64_t offset, int whence);
std::optional<std::int64_t> Size(int fd);
// Reads until `count` bytes or the end of the file; the bytes read (short on error too).
std::size_t Read(int fd, void* buffer, std::size_t count);
bool WriteAll(int fd, const void* buffer, std::size_t count);
bool Truncate(int fd, std::int64_t length);
// Allocates [offset, offset + length) on disk, lengthening the file as needed.
bool Reserve(int fd, std::int64_t offset, std::int64_t length);

// A shared, writable view of a whole file; unmapped when it goes.
class WritableMapping {
 public:
  WritableMapping(int fd, std::size_t length);
  ~WritableMapping();
  WritableMapping(const WritableMapping&) = delete;
  WritableMapping& operator=(const WritableMapping&) = delete;

  bool Valid() const { return Data_ != nullptr; }
  std::uint8_t* Data() const { return Data_; }
  bool Flush();

 private:
  std::uint8_t* Data_ = nullptr;
  std::size_t Length = 0;
};

}  // namespace melvanto::file_access
