#pragma once

// The libraries the conversions run on, with their versions as this process loads them
// and their licences, for --version and the about box.

#include <string>
#include <vector>

namespace melvanto {

struct TLibraryVersion {
  std::string Name;     // "LAME"
  std::string Version;  // "3.100", or kLibraryNotFound
  std::string Licence;  // "LGPL 2"
};

inline constexpr const char* kLibraryNotFound = "not found";

// LAME, FFmpeg and TagLib, in that order. LAME and TagLib are loaded here when no
// conversion has loaded them yet; one that cannot be loaded is "not found".
std::vector<TLibraryVersion> LibraryVersions();

// "NAME VERSION", one per line, as melvanto-cli --version prints them.
std::string LibraryVersionLines(const std::vector<TLibraryVersion>& libraries);

}  // namespace melvanto
