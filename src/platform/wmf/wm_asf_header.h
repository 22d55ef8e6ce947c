#pragma once

// What the ASF header object's children say: whether the data is protected (a
// content-encryption child) and the play time its File Properties state.

#include <cstdint>
#include <optional>

#include "wm_stream_io.h"

namespace melvanto::wmf {

// Read from the start of io; false for data that is not ASF. Leaves io's position anywhere.
bool AsfIsProtected(TStreamIo& io);

// The play time less the preroll, in 100 ns, as the File Properties Object states it for a
// file (not a broadcast); nothing for data that is not ASF or states none. A cut file states
// more than it holds. Leaves io's position anywhere.
std::optional<std::uint64_t> AsfStatedDuration(TStreamIo& io);

}  // namespace melvanto::wmf
