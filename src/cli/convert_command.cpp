// `convert`: the settings, overridden by the options, then N runners on one batch, driven by
// one step loop on this thread until they have all closed or Ctrl-C stops them.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "cli_args.h"
#include "commands.h"
#include "convert_options.h"
#include "help_text.h"
#include "input_files.h"
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

// The source files in the folders among the request's paths; nothing (after saying why)
// when a folder was named and none was found.
std::optional<TInputList> CollectFiles(const TConvertRequest& request) {
  TInputList list = CollectInputs(request.Files, SourceFormatOf(request.Mode));
  for (const std::string& problem : list.Problems)
    std::fprintf(stderr, "melvanto-cli: warning: %s\n", Printable(problem).c_str());
  if (list.Files.empty()) {
    const std::string where =
        request.Files.size() == 1 ? "the folder " + request.Files.front() : "the folders named";
    std::fprintf(stderr, "melvanto-cli: no source files (%s) were found in %s\n",
                 SourceExtensions(SourceFormatOf(request.Mode)).front().c_str(), Printable(where).c_str());
    return std::nullopt;
  }
  return list;
}

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
  TConvertRequest request = ParseConvertArgs(args);
  if (request.Help) {
    std::fputs(ConvertHelp().c_str(), stdout);
    return kExitOk;
  }
  const std::optional<TInputList> inputs = CollectFiles(request);
  if (!inputs) return kExitFailed;
  request.Files = PathsOf(inputs->Files);
  CheckFileCount(request);

  TOptionsSetting settings = StartingSettings();
  TTagInfo tags;
  PrepareBatchTags(request.Files, request.Mode, tags);
  ApplyRequest(request, settings, tags);
  if (TargetFormatOf(request.Mode) == TTargetFormat::tfWma && !CheckWmaChoice(request, settings))
    return kExitFailed;

  const auto jobs = static_cast<std::size_t>(JobCount(request, std::thread::hardware_concurrency()));
  TOverwritePolicy policy = request.Overwrite;
  // Appending is what an existing output is there for; an older output is what --update
  // replaces.
  if (!request.OverwriteGiven && (request.Wave.Append || request.Update)) policy = TOverwritePolicy::Always;

  // A closed pipe on stdout or stderr must not end the process with outputs half written:
  // the write fails instead, and the batch goes on.
  ::signal(SIGPIPE, SIG_IGN);
  TStepLoop loop;
  TTerminal terminal(!request.Quiet && ::isatty(STDERR_FILENO), request.Files.size(), jobs, policy);
  auto batch = std::make_shared<TBatchFiles>();
  SetBatchInputs(*batch, inputs->Files);
  batch->NamePattern = request.Name;
  batch->SkipUpToDate = request.Update;
  TInterruptWatch interrupt;
  terminal.SetInterruptFd(interrupt.NotifyFd());
  batch->Stopping = [&interrupt] { return interrupt.Interrupted(); };

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
  // A plan cut short closes the runners, but the batch was interrupted all the same.
  const bool interrupted = !allClosed() || batch->Plan.size() != batch->Files.size();
  // Each output being written is stopped; its final name keeps what it had before.
  for (const auto& runner : runners) runner->Close();
  terminal.ClearLine();

  std::vector<TFileResult> results;
  for (const auto& runner : runners)
    results.insert(results.end(), runner->Results().begin(), runner->Results().end());
  const std::vector<std::string> notStarted = NotStarted(request.Files, results);
  const TCommonOptions& common = settings.CommonOptions;
  PrintSummary(results, notStarted, request.Quiet, stdout, stderr,
               common.SameAsInputFolder ? "next to their inputs" : "in " + common.OutputFolder);
  if (interrupted) return kExitInterrupted;
  if (inputs->Incomplete) {
    // The files converted are fine, but the batch is not all the user asked for.
    std::fputs(
        "melvanto-cli: some folders or files could not be read (see the warnings above); "
        "their source files were not converted\n",
        stderr);
    return kExitFailed;
  }
  return ExitStatusOf(CountResults(results, notStarted.size()));
}

}  // namespace melvanto::cli
