// melvanto-cli: picks the command and turns usage errors and failures into exit statuses.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli_args.h"
#include "commands.h"
#include "help_text.h"
#include "library_versions.h"
#include "printable.h"
#include "program_version.h"

using namespace melvanto::cli;

int main(int argc, char** argv) {
  // Past a file-size limit a write then fails (and the file is reported) instead of the
  // signal ending the process with files half written.
  ::signal(SIGXFSZ, SIG_IGN);
  const std::vector<std::string> all(argv + 1, argv + argc);
  if (all.empty()) {
    std::fputs(ProgramHelp().c_str(), stderr);
    return kExitUsage;
  }
  const std::string& command = all.front();
  const std::vector<std::string> args(all.begin() + 1, all.end());
  try {
    if (command == "--help" || command == "-h" || command == "help") {
      std::fputs(ProgramHelp().c_str(), stdout);
      return kExitOk;
    }
    if (command == "--version") {
      std::printf("melvanto-cli %s (built %s)\n", melvanto::ProgramVersion(), melvanto::BuildDate());
      std::fputs(melvanto::LibraryVersionLines(melvanto::LibraryVersions()).c_str(), stdout);
      return kExitOk;
    }
    if (command == "convert") return RunConvert(args);
    if (command == "info") return RunInfo(args);
    if (command == "codecs") return RunCodecs(args);
    if (command == "genres") return RunGenres(args);
    if (command == "stream") return RunStream(args);
    throw TUsageError("unknown command '" + command + "'");
  } catch (const TUsageError& e) {
    // A usage error may quote an argument, a file name among them.
    std::fprintf(stderr, "melvanto-cli: %s\n", Printable(e.what()).c_str());
    const bool known =
        command == "convert" || command == "info" || command == "codecs" || command == "genres" || command == "stream";
    std::fprintf(stderr, "'melvanto-cli %s--help' shows the usage\n", known ? (command + " ").c_str() : "");
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "melvanto-cli: %s\n", Printable(e.what()).c_str());
    return kExitFailed;
  }
}
