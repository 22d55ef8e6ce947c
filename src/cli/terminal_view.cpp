#include "terminal_view.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace melvanto::cli {
namespace {

std::size_t TerminalWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// The first letter decides (anything else is the default, no); "none" is spelt out too.
TOverwriteAnswer AnswerOf(const std::string& line) {
  if (line == "none" || line == "None") return TOverwriteAnswer::oaNoToAll;
  switch (line.empty() ? '\0' : line[0]) {
    case 'y':
    case 'Y':
      return TOverwriteAnswer::oaYes;
    case 'a':
    case 'A':
      return TOverwriteAnswer::oaYesToAll;
    case 'o':
    case 'O':
      return TOverwriteAnswer::oaNoToAll;
    default:
      return TOverwriteAnswer::oaNo;
  }
}

}  // namespace

TTerminal::TTerminal(bool showProgress, std::size_t files, std::size_t jobs, TOverwritePolicy policy)
    : ShowProgress_(showProgress), Files_(files), Jobs_(jobs), Policy_(policy) {}

void TTerminal::SetJobFile(std::size_t job, const std::string& name) {
  Jobs_[job] = {name, 0};
  Redraw();
}

void TTerminal::SetJobProgress(std::size_t job, std::int32_t percent) {
  Jobs_[job].Percent = percent;
  Redraw();
}

void TTerminal::JobFileFinished(std::size_t job) {
  ++Finished_;
  Jobs_[job] = {};
  Redraw();
}

TOverwriteAnswer TTerminal::AskOverwrite(const std::string& question) {
  if (Policy_ == TOverwritePolicy::Always) return TOverwriteAnswer::oaYesToAll;
  if (Policy_ == TOverwritePolicy::Never) return TOverwriteAnswer::oaNoToAll;
  if (!::isatty(STDIN_FILENO)) return TOverwriteAnswer::oaNo;
  ClearLine();
  // A question that cannot be shown (stderr a closed pipe) is not answered blindly.
  if (std::fprintf(stderr, "%s [y]es/[N]o/[a]ll/n[o]ne ", Printable(question).c_str()) < 0 ||
      std::fflush(stderr) != 0) {
    std::clearerr(stderr);
    return TOverwriteAnswer::oaNo;
  }
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {InterruptFd_, POLLIN, 0}};
    if (::poll(fds, InterruptFd_ >= 0 ? 2 : 1, -1) < 0) continue;  // a signal came in: look again
    if (InterruptFd_ >= 0 && (fds[1].revents & POLLIN) != 0) {
      std::fputs("\n", stderr);
      return TOverwriteAnswer::oaNo;
    }
    if (fds[0].revents != 0) break;
  }
  // The whole line is the answer, however long, so nothing of it spills into the next
  // question; an earlier Ctrl-D must not answer every later question.
  std::clearerr(stdin);
  std::string answer;
  for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) answer.push_back(static_cast<char>(c));
  Redraw();
  return AnswerOf(answer);
}

std::string TTerminal::Line(std::size_t width) const {
  // Built by appending: GCC 12 warns (wrongly) on a literal + a temporary string here.
  std::string line(1, '[');
  line.append(std::to_string(Finished_)).append("/").append(std::to_string(Files_)).append("]");
  for (const TJob& job : Jobs_) {
    if (job.File.empty()) continue;
    line.append(" ").append(Printable(job.File)).append(" ").append(std::to_string(job.Percent)).append("%");
  }
  // A line that wraps could no longer be redrawn in place. Width counts characters, so the
  // cut falls between UTF-8 sequences.
  std::size_t chars = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) continue;
    if (++chars == width) {
      line.resize(i);
      break;
    }
  }
  return line;
}

void TTerminal::ClearLine() {
  if (!ShowProgress_ || Drawn_.empty()) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  Drawn_.clear();
}

void TTerminal::Redraw() {
  if (!ShowProgress_) return;
  const std::string line = Line(TerminalWidth());
  if (line == Drawn_) return;
  std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
  std::fflush(stderr);
  Drawn_ = line;
}

void TJobView::PostBatchStep(TBatchStep Param) {
  Loop_.Post([this, Param] {
    if (Runner_ != nullptr && !Runner_->Closed()) Runner_->BatchStep(Param);
  });
}

void TJobView::CloseWindow() {
  Loop_.Post([this] {
    if (Runner_ != nullptr) Runner_->Close();
  });
}

}  // namespace melvanto::cli
