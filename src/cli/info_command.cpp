// `info`: what the readers see in each file, as text or as a JSON array.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_args.h"
#include "commands.h"
#include "help_text.h"
#include "json_text.h"
#include "media_probe.h"
#include "printable.h"

namespace melvanto::cli {
namespace {

struct TTagField {
  const char* Name;
  const std::string TMediaInfo::*Field;
};
constexpr TTagField kTagFields[] = {
    {"title", &TMediaInfo::Title},     {"artist", &TMediaInfo::Artist}, {"album", &TMediaInfo::Album},
    {"year", &TMediaInfo::Year},       {"genre", &TMediaInfo::Genre},   {"track", &TMediaInfo::Track},
    {"comment", &TMediaInfo::Comment},
};

void PrintText(const TMediaInfo& m) {
  std::printf("%s\n", Printable(m.Path).c_str());
  std::printf("  container:       %s\n", m.Container.c_str());
  if (!m.Encoding.empty()) std::printf("  encoding:        %s\n", m.Encoding.c_str());
  std::printf("  channels:        %u\n", m.Channels);
  std::printf("  sample rate:     %u Hz\n", m.SampleRate);
  std::printf("  bits per sample: %u\n", m.BitsPerSample);
  std::printf("  frames:          %lld\n", static_cast<long long>(m.Frames));
  std::printf("  duration:        %.3f s\n", m.Seconds());
  if (!m.HasTags) return;
  for (const TTagField& t : kTagFields)
    if (!(m.*t.Field).empty())
      std::printf("  %-16s %s\n", (std::string(t.Name) + ":").c_str(), Printable(m.*t.Field).c_str());
}

std::string JsonObject(const TMediaInfo& m) {
  std::string o = "{\"file\": " + JsonString(m.Path);
  if (!m.Error.empty()) return o + ", \"error\": " + JsonString(m.Error) + "}";
  o += ", \"container\": " + JsonString(m.Container);
  if (!m.Encoding.empty()) o += ", \"encoding\": " + JsonString(m.Encoding);
  char numbers[256];
  std::snprintf(numbers, sizeof numbers,
                ", \"channels\": %u, \"sample_rate\": %u, \"bits_per_sample\": %u, \"frames\": %lld, "
                "\"duration\": %.3f",
                m.Channels, m.SampleRate, m.BitsPerSample, static_cast<long long>(m.Frames), m.Seconds());
  o += numbers;
  if (m.HasTags) {
    o += ", \"tags\": {";
    bool first = true;
    for (const TTagField& t : kTagFields) {
      o += (first ? "\"" : ", \"") + std::string(t.Name) + "\": " + JsonString(m.*t.Field);
      first = false;
    }
    o += "}";
  }
  return o + "}";
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  bool json = false;
  std::vector<std::string> files;
  bool filesOnly = false;
  for (const std::string& a : args) {
    if (!filesOnly && (a == "--help" || a == "-h")) {
      std::fputs(kInfoHelp, stdout);
      return kExitOk;
    }
    if (!filesOnly && a == "--json")
      json = true;
    else if (!filesOnly && a == "--")
      filesOnly = true;
    else if (!filesOnly && IsOption(a))
      throw TUsageError("unknown option '" + a + "' for info");
    else
      files.push_back(a);
  }
  if (files.empty()) throw TUsageError("info needs at least one file");

  int status = kExitOk;
  if (json) std::fputs("[", stdout);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const TMediaInfo m = ProbeMedia(files[i]);
    if (!m.Error.empty()) {
      std::fprintf(stderr, "melvanto-cli: %s: %s\n", Printable(m.Path).c_str(), Printable(m.Error).c_str());
      status = kExitFailed;
    }
    if (json) {
      // A file that failed keeps its place in the array, with its message.
      std::printf("%s\n  %s", i == 0 ? "" : ",", JsonObject(m).c_str());
    } else if (m.Error.empty()) {
      PrintText(m);
    }
  }
  if (json) std::fputs("\n]\n", stdout);
  return status;
}

}  // namespace melvanto::cli
