#pragma once

// Whether ASF data is protected: its header object has a content-encryption child.

#include "wm_stream_io.h"

namespace melvanto::wmf {

// Reads the header object's children (GUID and size each) from the start of io; false for
// data that is not ASF. Leaves io's position anywhere.
bool AsfIsProtected(TStreamIo& io);

}  // namespace melvanto::wmf
