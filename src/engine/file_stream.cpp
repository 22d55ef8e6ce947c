#include "file_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "au_exception.h"
#include "regular_file.h"

namespace melvanto {

void RaiseLastOSError() { throw EAuException(std::strerror(errno)); }

TAuFileStream::TAuFileStream(const std::u16string& fileName, std::uint16_t mode, std::uint32_t) {
  int flags = 0;
  if (mode == kFileModeCreate) {
    // Never through a link: a link planted at the name must not make us write elsewhere.
    flags |= O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
  } else if (mode == kFileModeOpenOrCreate) {
    flags |= O_RDWR | O_CREAT;
  } else {
    switch (mode & 3) {
      case 0: flags |= O_RDONLY; break;
      case 1: flags |= O_WRONLY; break;
      case 2: flags |= O_RDWR; break;
      default: errno = EINVAL; RaiseLastOSError();
    }
    shareMode_ = static_cast<std::uint16_t>(mode & 0xF0);
  }
  TOpenedFile opened = OpenRegularFile(fileName, flags);
  if (opened.Error == kNotRegularFile) throw EAuException("Not a regular file");
  if (opened.Error != 0) {
    errno = opened.Error;
    RaiseLastOSError();
  }
  fd_ = std::move(opened.Fd);
}

std::int64_t TAuFileStream::Read(void* buffer, std::int64_t count) {
  auto* p = static_cast<char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd_.Get(), p + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseLastOSError();
    if (n == 0) break;
    done += n;
  }
  return done;
}

std::int64_t TAuFileStream::Write(const void* buffer, std::int64_t count) {
  const auto* p = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_.Get(), p + done, static_cast<std::size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseLastOSError();
    if (n == 0) break;  // nothing more will go: a short write
    done += n;
  }
  return done;
}

std::int64_t TAuFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t r = ::lseek(fd_.Get(), static_cast<off_t>(offset), whence);
  if (r < 0) RaiseLastOSError();
  return r;
}

void TAuFileStream::SetSize(std::int64_t size) {
  if (::ftruncate(fd_.Get(), static_cast<off_t>(size)) != 0) RaiseLastOSError();
  if (Position() > size) SetPosition(size);
}

}  // namespace melvanto
