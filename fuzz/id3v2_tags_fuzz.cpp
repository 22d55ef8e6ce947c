// Arbitrary bytes as a file with an ID3v2 tag: reading must stay inside the tag and the
// file, and what was read must write and read again.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "tags.h"

namespace {

// A file in memory with the given bytes, positioned at `at`.
int MemoryFile(const std::uint8_t* data, std::size_t size) {
  const int fd = memfd_create("id3v2", MFD_CLOEXEC);
  if (fd < 0) return -1;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace melvanto;
  const int fd = MemoryFile(data, size);
  if (fd < 0) return 0;
  lseek(fd, 0, SEEK_SET);
  TId3v2Tags tags;
  (void)tags.Detect(fd);
  if (tags.ReadFromFile(fd)) {
    // Whatever was read must survive our own writer.
    const int out = MemoryFile(nullptr, 0);
    if (out >= 0) {
      if (tags.WriteToFile(out, size % 2 == 0)) {
        lseek(out, 0, SEEK_SET);
        TId3v2Tags back;
        if (!back.ReadFromFile(out)) __builtin_trap();
        if (back.Track() != tags.Track()) __builtin_trap();
        // Pictures are bytes: they come back whole, whatever the text encoding.
        if (back.Pictures().size() != tags.Pictures().size()) __builtin_trap();
        for (std::size_t i = 0; i < tags.Pictures().size(); ++i)
          if (back.Pictures()[i].Data != tags.Pictures()[i].Data) __builtin_trap();
      }
      close(out);
    }
  }
  close(fd);
  return 0;
}
