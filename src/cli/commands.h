#pragma once

#include <string>
#include <vector>

namespace melvanto::cli {

// Each takes the arguments after its name and returns the exit status; usage errors are
// raised as TUsageError.
int RunConvert(const std::vector<std::string>& args);
int RunInfo(const std::vector<std::string>& args);
int RunCodecs(const std::vector<std::string>& args);
int RunGenres(const std::vector<std::string>& args);
int RunStream(const std::vector<std::string>& args);

}  // namespace melvanto::cli
