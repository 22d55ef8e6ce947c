// `stream`: one file served as a live WMA stream until it ends or Ctrl-C stops it.
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "cli_args.h"
#include "commands.h"
#include "help_text.h"
#include "interrupt_watch.h"
#include "printable.h"
#include "step_loop.h"
#include "stream_options.h"
#include "stream_session.h"

namespace melvanto::cli {
namespace {

// One line a listener, flushed at once: whoever reads stdout through a pipe sees it live.
class TPrintedStreamView final : public TStreamView {
 public:
  void ClientConnected(const std::string& Address) override { Print("connected", Address); }
  void ClientLeft(const std::string& Address) override { Print("left", Address); }

 private:
  static void Print(const char* what, const std::string& address) {
    std::printf("Listener %s %s\n", Printable(address).c_str(), what);
    std::fflush(stdout);
  }
};

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace

int RunStream(const std::vector<std::string>& args) {
  const TStreamArgs parsed = ParseStreamArgs(args);
  if (parsed.Help) {
    std::fputs(kStreamHelp, stdout);
    return kExitOk;
  }
  TOptionsSetting settings = StartingSettings();
  TTagInfo unused;
  ApplyRequest(parsed.Wma, settings, unused);
  if (!CheckWmaChoice(parsed.Wma, settings)) return kExitFailed;

  // A listener that hangs up must not end the process; its socket's write fails instead.
  ::signal(SIGPIPE, SIG_IGN);
  const std::string file = Printable(parsed.Stream.File);
  TStepLoop loop;
  TInterruptWatch interrupt;
  TPrintedStreamView view;
  TStreamSession session(view, parsed.Stream, settings);
  if (const std::string problem = session.Start(); !problem.empty()) {
    std::fprintf(stderr, "melvanto-cli: %s: %s\n", file.c_str(), Printable(problem).c_str());
    return kExitFailed;
  }
  loop.RunUntil([&] { return interrupt.Interrupted() || session.Ended() || session.Serving(); });
  if (session.Serving()) {
    std::printf("Streaming %s at %s (WMA, %u kbit/s; Ctrl-C stops)\n", file.c_str(),
                StreamUrl(parsed.Stream.BindAddress, HostName(), session.Port()).c_str(),
                session.BitRate() / 1000);
    std::fflush(stdout);
    loop.RunUntil([&] { return interrupt.Interrupted() || session.Ended(); });
  }
  if (!session.Ended()) {
    session.Stop();
    std::printf("Stopped\n");
    return kExitOk;
  }
  if (!session.Failure().empty()) {
    std::fprintf(stderr, "melvanto-cli: %s: %s\n", file.c_str(), Printable(session.Failure()).c_str());
    return kExitFailed;
  }
  std::printf("The end of %s: the stream is over\n", file.c_str());
  return kExitOk;
}

}  // namespace melvanto::cli
