#include "library_versions.h"

#include "lame_enc.h"
#include "taglib_binding.h"
#include "wm_backend_version.h"

namespace melvanto {

namespace {

std::string OrNotFound(std::string version) { return version.empty() ? kLibraryNotFound : version; }

}  // namespace

std::vector<TLibraryVersion> LibraryVersions() {
  return {
      {"LAME", OrNotFound(LameVersion()), "LGPL 2"},
      // Linked, so always there. Debian builds it with its GPL parts enabled.
      {"FFmpeg", WmBackendVersion(), "LGPL 2.1 or later; GPL 2 or later as Debian builds it"},
      {"TagLib", OrNotFound(TagLibVersion()), "LGPL 2.1 / MPL 1.1"},
  };
}

std::string LibraryVersionLines(const std::vector<TLibraryVersion>& libraries) {
  std::string lines;
  for (const TLibraryVersion& library : libraries) lines += library.Name + " " + library.Version + "\n";
  return lines;
}

}  // namespace melvanto
