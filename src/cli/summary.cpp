#include "summary.h"

#include "cli_args.h"
#include "printable.h"

namespace melvanto::cli {

TBatchCounts CountResults(const std::vector<TFileResult>& results, std::size_t notStarted) {
  TBatchCounts c;
  for (const TFileResult& r : results) {
    switch (r.Status) {
      case TFileResult::frConverted:
        ++c.Converted;
        if (!r.Warning.empty()) ++c.Warned;
        break;
      case TFileResult::frSkipped:
        ++c.Skipped;
        break;
      case TFileResult::frFailed:
        ++c.Failed;
        break;
      case TFileResult::frStopped:
        ++c.Stopped;
        break;
    }
  }
  c.NotStarted = notStarted;
  return c;
}

int ExitStatusOf(const TBatchCounts& c) {
  return c.Failed > 0 || c.Stopped > 0 || c.NotStarted > 0 ? kExitFailed : kExitOk;
}

void PrintSummary(const std::vector<TFileResult>& results, const std::vector<std::string>& notStarted,
                  bool quiet, std::FILE* out, std::FILE* errors, const std::string& where) {
  for (const TFileResult& r : results) {
    const char* what = nullptr;
    std::FILE* to = errors;
    std::string text = r.Message;
    switch (r.Status) {
      case TFileResult::frConverted:
        if (r.Warning.empty()) continue;
        what = "warning";
        text = r.Warning;
        break;
      case TFileResult::frFailed:
        what = "failed";
        break;
      case TFileResult::frStopped:
        what = "stopped";
        break;
      case TFileResult::frSkipped:
        if (quiet) continue;
        what = "skipped";
        to = out;
        break;
    }
    std::fprintf(to, "%s: %s: %s\n", what, Printable(r.Input).c_str(), Printable(text).c_str());
  }
  for (const std::string& file : notStarted)
    std::fprintf(errors, "not started: %s\n", Printable(file).c_str());

  const TBatchCounts c = CountResults(results, notStarted.size());
  if (quiet) return;
  std::fprintf(out, "converted %zu, skipped %zu, failed %zu", c.Converted, c.Skipped, c.Failed);
  if (c.Stopped > 0) std::fprintf(out, ", stopped %zu", c.Stopped);
  if (c.Warned > 0) std::fprintf(out, ", with a warning %zu", c.Warned);
  if (c.NotStarted > 0) std::fprintf(out, ", not started %zu", c.NotStarted);
  std::fputs("\n", out);
  if (!where.empty()) std::fprintf(out, "outputs %s\n", Printable(where).c_str());
  std::fflush(out);
}

}  // namespace melvanto::cli
