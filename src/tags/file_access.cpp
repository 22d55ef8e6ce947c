#include "file_access.h"

#include <sys/mman.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace melvanto::file_access {

std::optional<std::int64_t> Seek(int fd, std::int64_t offset, int whence) {
  if (fd < 0) return std::nullopt;
  const off_t pos = ::lseek(fd, static_cast<off_t>(offset), whence);
  if (pos < 0) return std::nullopt;
  return static_cast<std::int64_t>(pos);
}

std::optional<std::int64_t> Position(int fd) { return Seek(fd, 0, SEEK_CUR); }

std::optional<std::int64_t> Size(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

std::size_t Read(int fd, void* buffer, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd, out + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool WriteAll(int fd, const void* buffer, std::size_t count) {
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, in + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Truncate(int fd, std::int64_t length) {
  int rc;
  do rc = ::ftruncate(fd, static_cast<off_t>(length));
  while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool Reserve(int fd, std::int64_t offset, std::int64_t length) {
  int rc;
  do rc = ::posix_fallocate(fd, static_cast<off_t>(offset), static_cast<off_t>(length));
  while (rc == EINTR);
  return rc == 0;
}

WritableMapping::WritableMapping(int fd, std::size_t length) : Length(length) {
  if (length == 0) return;
  void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p != MAP_FAILED) Data_ = static_cast<std::uint8_t*>(p);
}

WritableMapping::~WritableMapping() {
  if (Data_ != nullptr) ::munmap(Data_, Length);
}

bool WritableMapping::Flush() { return Data_ != nullptr && ::msync(Data_, Length, MS_SYNC) == 0; }

}  // namespace melvanto::file_access
