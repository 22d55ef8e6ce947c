// `convert`: the settings, overridden by the options, then N runners on one batch, driven by
// one step loop on this thread until they have all closed or Ctrl-C stops them.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "cli_args.h"
#include "commands.h"
#include "convert_options.h"
#include "help_text.h"
#include "interrupt_watch.h"
#include "printable.h"
#include "runner.h"
#include "settings.h"
#include "step_loop.h"
#include "summary.h"
#include "terminal_view.h"
#include "wma_choice.h"

namespace melvanto::cli {
namespace {

// The batch's files that no result mentions: never reached because the batch was stopped.
std::vector<std::string> NotStarted(const std::vector<std::string>& files,
                                    const std::vector<TFileResult>& results) {
  std::map<std::string, int> finished;
  for (const TFileResult& r : results) ++finished[r.Input];
  std::vector<std::string> left;
  for (const std::string& f : files)
    if (finished[f]-- <= 0) left.push_back(f);
  return left;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
  const TConvertRequest request = ParseConvertArgs(args);
  if (request.Help) {
    std::fputs(ConvertHelp().c_str(), stdout);
    return kExitOk;
  }

  TOptionsSetting settings = StartingSettings();
  TTagInfo tags;
  PrepareBatchTags(request.Files, request.Mode, tags);
  ApplyRequest(request, settings, tags);
  if (TargetFormatOf(request.Mode) == TTargetFormat::tfWma && !CheckWmaChoice(request, settings))
    return kExitFailed;

  const TCommonOptions& common = settings.CommonOptions;
  if (!common.SameAsInputFolder) {
    std::error_code error;
    if (!std::filesystem::is_directory(common.OutputFolder, error)) {
      std::fprintf(stderr, "melvanto-cli: the output folder does not exist: %s\n",
                   Printable(common.OutputFolder).c_str());
      return kExitFailed;
    }
  }

  const auto jobs = static_cast<std::size_t>(JobCount(request, std::thread::hardware_concurrency()));
  TOverwritePolicy policy = request.Overwrite;
  // Appending is what an existing output is there for.
  if (!request.OverwriteGiven && request.Wave.Append) policy = TOverwritePolicy::Always;

  // A closed pipe on stdout or stderr must not end the process with outputs half written:
  // the write fails instead, and the batch goes on.
  ::signal(SIGPIPE, SIG_IGN);
  TStepLoop loop;
  TTerminal terminal(!request.Quiet && ::isatty(STDERR_FILENO), request.Files.size(), jobs, policy);
  auto batch = std::make_shared<TBatchFiles>();
  batch->Files = request.Files;
  TInterruptWatch interrupt;
  terminal.SetInterruptFd(interrupt.NotifyFd());

  const TRunnerContext context{settings, tags, request.Wave};
  std::vector<std::unique_ptr<TJobView>> views;
  std::vector<std::unique_ptr<TConversionRunner>> runners;
  for (std::size_t j = 0; j < jobs; ++j) {
    views.push_back(std::make_unique<TJobView>(terminal, loop, j));
    runners.push_back(std::make_unique<TConversionRunner>(*views.back(), batch, context));
    TConversionRunner& runner = *runners.back();
    runner.SetMode(request.Mode);
    views.back()->Attach(runner);
  }

  const auto allClosed = [&] {
    for (const auto& runner : runners)
      if (!runner->Closed()) return false;
    return true;
  };
  loop.RunUntil([&] { return interrupt.Interrupted() || allClosed(); });
  const bool interrupted = !allClosed();
  // Each output being written is stopped; its final name keeps what it had before.
  for (const auto& runner : runners) runner->Close();
  terminal.ClearLine();

  std::vector<TFileResult> results;
  for (const auto& runner : runners)
    results.insert(results.end(), runner->Results().begin(), runner->Results().end());
  const std::vector<std::string> notStarted = NotStarted(request.Files, results);
  PrintSummary(results, notStarted, request.Quiet, stdout, stderr);
  if (interrupted) return kExitInterrupted;
  return ExitStatusOf(CountResults(results, notStarted.size()));
}

}  // namespace melvanto::cli
