#include "wm_backend_version.h"

#include "ffmpeg_version.h"

namespace melvanto {

std::string WmBackendVersion() { return ffmpeg::RuntimeVersion(); }

}  // namespace melvanto
