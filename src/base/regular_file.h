#pragma once

#include <string>

#include "unique_fd.h"

namespace melvanto {

// Error of OpenRegularFile for a name that opens but is no regular file (a FIFO, a device,
// a socket): no errno value says that.
constexpr int kNotRegularFile = -1;

struct TOpenedFile {
  UniqueFd Fd;
  int Error = 0;  // errno (EISDIR for a folder) or kNotRegularFile; 0 when Fd is valid
};

// Opens a file by UTF-16 name with open(2) flags (O_CLOEXEC is added), and keeps it only
// when it is a regular file. A FIFO must not hang us until its other end shows up, so the
// open does not block; the descriptor is blocking again once it is known to be a file.
TOpenedFile OpenRegularFile(const std::u16string& fileName, int flags);

}  // namespace melvanto
