#pragma once

// Running the other tools that interop tests check our files with.

#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "require_tool.h"

namespace melvanto::testing {

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool HaveMp3Encoder() {
  return HaveTool("ffmpeg") && std::system("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libmp3lame") == 0;
}

#define MELVANTO_REQUIRE_COMMAND(name) MELVANTO_REQUIRE_TOOL(::melvanto::testing::HaveTool(name), name)

inline bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// A Python with mutagen (a tagging library nobody here wrote), to read and write the tags of
// files; empty when there is none. The first python3 on the path may lack it.
inline std::string MutagenPython() {
  for (const char* python : {"python3", "/usr/bin/python3"})
    if (Shell(std::string(python) + " -c 'import mutagen.asf' >/dev/null 2>&1")) return python;
  return {};
}
#define MELVANTO_REQUIRE_MUTAGEN() \
  MELVANTO_REQUIRE_TOOL(!::melvanto::testing::MutagenPython().empty(), "python3-mutagen")

// Standard output of a command; nothing when it fails.
inline std::optional<std::vector<std::uint8_t>> Capture(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return std::nullopt;
  std::vector<std::uint8_t> out;
  std::uint8_t buf[65536];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.insert(out.end(), buf, buf + n);
  if (pclose(p) != 0) return std::nullopt;
  return out;
}

// A Python that has mutagen (the one on the path may be another than the system's), or empty.
inline std::string PythonWithMutagen() {
  for (const char* python : {"python3", "/usr/bin/python3"})
    if (Shell(std::string(python) + " -c 'import mutagen.id3' >/dev/null 2>&1")) return python;
  return {};
}

// Standard output of a command as text, empty when it fails; its errors are dropped.
inline std::string CaptureText(const std::string& command) {
  const auto out = Capture(command + " 2>/dev/null");
  return out ? std::string(out->begin(), out->end()) : std::string();
}

}  // namespace melvanto::testing
