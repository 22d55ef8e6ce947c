// `codecs` and `genres`: the lists that the numbers of convert's options index.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_args.h"
#include "commands.h"
#include "help_text.h"
#include "id3.h"
#include "wma_choice.h"

namespace melvanto::cli {

int RunCodecs(const std::vector<std::string>& args) {
  bool vbr = false;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kCodecsHelp, stdout);
      return kExitOk;
    }
    if (a != "--vbr") throw TUsageError("unknown argument '" + a + "' for codecs");
    vbr = true;
  }
  const std::vector<TWMACodec> codecs = ListWMACodecs(vbr);
  for (std::size_t c = 0; c < codecs.size(); ++c) {
    std::printf("codec %zu: %s\n", c, codecs[c].Name.c_str());
    const std::vector<std::string>& formats = codecs[c].Formats;
    if (formats.empty()) std::printf("  (no %sformats)\n", vbr ? "VBR " : "");
    for (std::size_t f = 0; f < formats.size(); ++f) std::printf("  format %zu: %s\n", f, formats[f].c_str());
  }
  return kExitOk;
}

int RunGenres(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kGenresHelp, stdout);
      return kExitOk;
    }
    throw TUsageError("unknown argument '" + a + "' for genres");
  }
  // Entry 0 is the empty "no genre".
  for (std::size_t i = 1; i < kDisplayGenreCount; ++i)
    std::printf("%.*s\n", static_cast<int>(kDisplayGenres[i].size()), kDisplayGenres[i].data());
  return kExitOk;
}

}  // namespace melvanto::cli
