#pragma once

#include <string>
#include <string_view>

namespace melvanto::cli {

// text as it may go to a terminal: control characters (C0, DEL, and C1 in UTF-8) escaped as
// \n, \r, \t, \xHH or \u00HH, and every byte that is not part of valid UTF-8 as \xHH. Any
// other character, of whatever script, is left as it is. For everything that came from a file
// or the file system: tags, names, messages that quote them.
std::string Printable(std::string_view text);

}  // namespace melvanto::cli
