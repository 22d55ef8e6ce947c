#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert_options.h"
#include "stream_session.h"

namespace melvanto::cli {

// What `stream` was asked to do.
struct TStreamArgs {
  TStreamRequest Stream;
  // Only the WMA options are taken into it, with the parsing `convert` has for them.
  TConvertRequest Wma;
  bool Help = false;
};

// The arguments after "stream". Throws TUsageError. With --help anywhere, only Help is
// meaningful.
TStreamArgs ParseStreamArgs(const std::vector<std::string>& args);

// What a player opens: the address listened on, or hostName for every address (0.0.0.0).
std::string StreamUrl(const std::string& bindAddress, const std::string& hostName, std::uint32_t port);

}  // namespace melvanto::cli
