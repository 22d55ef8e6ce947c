#pragma once

// Edits of an ASF header that FFmpeg leaves to us: its muxer writes text attributes only, and
// its demuxer skips the pictures over 64 KiB, which only the Metadata Library can hold.

#include <cstdint>
#include <string>
#include <vector>

#include "wm_stream_io.h"
#include "wm_types.h"

namespace melvanto::wmf {

struct TAsfBinaryAttribute {
  std::u16string Name;
  std::vector<std::uint8_t> Value;
};

// Adds the attributes to the whole ASF file open for reading and writing on fd. Values that
// fit 16 bits of length go into the Extended Content Description object, larger ones into
// the Header Extension's Metadata Library object; either object is made when missing. The
// header grows and everything after it moves back by as much: the data packets and the index
// count from the data object, so only the header's size and object count and the File
// Properties' file size change. S_FALSE leaves the file untouched (not a header this can
// edit, or nothing to add); a failure part way leaves it damaged and is NS_E_FILE_WRITE.
HRESULT AddAsfAttributes(int fd, const std::vector<TAsfBinaryAttribute>& attributes);

// The WM/Picture values of the Header Extension's Metadata Library, as stored; nothing for a
// header that is not whole. The stream's position is kept.
std::vector<std::vector<std::uint8_t>> AsfLibraryPictures(TStreamIo& io);

}  // namespace melvanto::wmf
