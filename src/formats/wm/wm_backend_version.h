#pragma once

// The version of the media libraries the WMA and MP3 readers and the WMA writer run on,
// for the programs' version reports (which reach the platform only through here).

#include <string>

namespace melvanto {

// FFmpeg's release and its codec and container library versions, as loaded.
std::string WmBackendVersion();

}  // namespace melvanto
