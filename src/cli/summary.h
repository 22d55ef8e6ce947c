#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "runner.h"

namespace melvanto::cli {

struct TBatchCounts {
  std::size_t Converted = 0, Warned = 0, Skipped = 0, Failed = 0, Stopped = 0, NotStarted = 0;
};

// The results of all jobs, and the files no job reached (a batch ended by Ctrl-C).
TBatchCounts CountResults(const std::vector<TFileResult>& results, std::size_t notStarted);

// The exit status the counts call for (interruption aside).
int ExitStatusOf(const TBatchCounts& counts);

// Failed and stopped files with their messages, and files converted with a warning, on
// errors; skipped files and the line "converted N, skipped N, failed N" (", with a warning N"
// when any) on out, unless quiet, then "outputs " and where, when given ("in DIR").
void PrintSummary(const std::vector<TFileResult>& results, const std::vector<std::string>& notStarted,
                  bool quiet, std::FILE* out, std::FILE* errors, const std::string& where = {});

}  // namespace melvanto::cli
