#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert_options.h"
#include "printable.h"
#include "runner.h"
#include "step_loop.h"

namespace melvanto::cli {

// What all jobs of a batch share on the terminal: one progress line redrawn in place (only
// when it is on), the finished count, and the overwrite policy.
class TTerminal {
 public:
  TTerminal(bool showProgress, std::size_t files, std::size_t jobs, TOverwritePolicy policy);

  void SetJobFile(std::size_t job, const std::string& name);
  void SetJobProgress(std::size_t job, std::int32_t percent);
  void JobFileFinished(std::size_t job);
  // The policy's answer (--overwrite and --no-overwrite are "to all" answers given at the
  // start); asking needs a terminal on stdin, else the answer is no.
  TOverwriteAnswer AskOverwrite(const std::string& question);
  // A descriptor that becomes readable when the batch is interrupted: a question waiting
  // for its answer then takes no.
  void SetInterruptFd(int fd) { InterruptFd_ = fd; }
  // Removes the progress line, so that other text starts on a clean line.
  void ClearLine();

  // The progress line for the current state, cut to width characters.
  std::string Line(std::size_t width) const;

 private:
  struct TJob {
    std::string File;
    std::int32_t Percent = 0;
  };
  void Redraw();

  bool ShowProgress_;
  std::size_t Files_;
  std::size_t Finished_ = 0;
  std::vector<TJob> Jobs_;
  TOverwritePolicy Policy_;
  std::string Drawn_;
  int InterruptFd_ = -1;
};

// One job's view: turns the runner's calls into terminal updates and loop posts.
class TJobView : public TRunnerView {
 public:
  TJobView(TTerminal& terminal, TStepLoop& loop, std::size_t job)
      : Terminal_(terminal), Loop_(loop), Job_(job) {}

  // The runner is made after its view (its constructor already posts the first step).
  void Attach(TConversionRunner& runner) { Runner_ = &runner; }

  void SetInputFileName(const std::string& text) override { Terminal_.SetJobFile(Job_, text); }
  void SetProgress(std::int32_t position) override { Terminal_.SetJobProgress(Job_, position); }
  void FileFinished(const TFileResult&) override { Terminal_.JobFileFinished(Job_); }
  TOverwriteAnswer AskOverwrite(const std::string& Question, const std::string&) override {
    return Terminal_.AskOverwrite(Question);
  }
  void PostBatchStep(TBatchStep Param) override;
  void CloseWindow() override;

 private:
  TTerminal& Terminal_;
  TStepLoop& Loop_;
  std::size_t Job_;
  TConversionRunner* Runner_ = nullptr;
};

}  // namespace melvanto::cli
