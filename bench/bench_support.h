#pragma once

// What every benchmark program needs: timing, running a peer tool, and running one
// conversion through the pipeline to its end.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "components.h"

namespace melvanto::bench {

using Clock = std::chrono::steady_clock;

// The wall time of one run of work, in seconds.
inline double Seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of several runs: the least disturbed by whatever else the machine does.
inline double BestSeconds(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) best = std::min(best, Seconds(work));
  return best;
}

// Runs a shell command; a failure ends the program, whose numbers would mean nothing.
inline void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

// What a command prints.
inline std::string Output(const std::string& command) {
  std::string text;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p) != nullptr) text += buffer;
    pclose(p);
  }
  return text;
}

// Runs out on in until its done event, on this (the user-interface) thread; an error ends
// the program.
inline void RunToEnd(TAuOutput& out, TAuInput& in) {
  out.SetInput(&in);
  bool done = false;
  out.SetOnDone([&](TComponent*) { done = true; });
  out.Run();
  while (!done) CheckSynchronize(std::chrono::milliseconds(1));
  out.SetOnDone(nullptr);
  if (!out.ExceptionMessage().empty()) {
    std::fprintf(stderr, "conversion failed: %s\n", out.ExceptionMessage().c_str());
    std::exit(1);
  }
}

}  // namespace melvanto::bench
