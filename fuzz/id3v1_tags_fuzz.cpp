// Arbitrary bytes as a file ending in an ID3v1 record: reading never fails unsafely, and
// what was read writes back as one record.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "tags.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace melvanto;
  const int fd = memfd_create("id3v1", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size == 0 || write(fd, data, size) == static_cast<ssize_t>(size)) {
    TId3v1Tags tags;
    const bool detected = tags.Detect(fd);
    if (tags.ReadFromFile(fd) != detected) __builtin_trap();
    if (detected) {
      if (!tags.WriteToFile(fd, false) || lseek(fd, 0, SEEK_END) != static_cast<off_t>(size + 128)) __builtin_trap();
      TId3v1Tags back;
      if (!back.ReadFromFile(fd) || back.Title() != tags.Title() || back.Track() != tags.Track() ||
          back.GenreId() != tags.GenreId())
        __builtin_trap();
    }
  }
  close(fd);
  return 0;
}
