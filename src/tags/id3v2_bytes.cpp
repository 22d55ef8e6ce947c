#include "id3v2_bytes.h"

#include <sys/mman.h>
#include <unistd.h>

#include "file_access.h"
#include "unique_fd.h"

namespace melvanto {

// The bytes go into an anonymous in-memory file, so the one parser (which works on a file
// handle) reads them and no second parser over a buffer has to be kept in step with it.
bool ReadId3v2FromBytes(TId3v2Tags& tags, std::span<const std::uint8_t> bytes) {
  const UniqueFd file(::memfd_create("melvanto-id3", MFD_CLOEXEC));
  if (!file.Valid() || !file_access::WriteAll(file.Get(), bytes.data(), bytes.size()) ||
      !file_access::Seek(file.Get(), 0, SEEK_SET))
    return false;
  return tags.ReadFromFile(file.Get());
}

}  // namespace melvanto
