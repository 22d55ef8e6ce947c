#pragma once

#include <string>
#include <string_view>

namespace melvanto::cli {

// text as a JSON string literal, quotes included. Bytes that are not UTF-8 (a file name
// may hold any) become U+FFFD, so the result is always valid JSON.
std::string JsonString(std::string_view text);

}  // namespace melvanto::cli
