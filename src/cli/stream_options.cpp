#include "stream_options.h"

#include <arpa/inet.h>

#include <algorithm>

#include "cli_args.h"

namespace melvanto::cli {
namespace {

constexpr char kEveryAddress[] = "0.0.0.0";

bool TakeStreamOption(const std::string& a, TArgCursor& cursor, TStreamRequest& r) {
  if (a == "--port") {
    r.Port = static_cast<std::uint32_t>(ParseNumber(cursor.Value(a), a, 0, 65535));
  } else if (a == "--bind") {
    r.BindAddress = cursor.Value(a);
    in_addr parsed{};
    if (::inet_pton(AF_INET, r.BindAddress.c_str(), &parsed) != 1)
      throw TUsageError("--bind: '" + r.BindAddress + "' is not an IPv4 address (like 127.0.0.1 or 0.0.0.0)");
  } else if (a == "--max-clients") {
    r.MaxClients = static_cast<std::uint32_t>(ParseNumber(cursor.Value(a), a, 1, 1000));
  } else if (a == "--loop") {
    r.Loop = true;
  } else {
    return false;
  }
  return true;
}

}  // namespace

TStreamArgs ParseStreamArgs(const std::vector<std::string>& args) {
  TStreamArgs parsed;
  if (std::find(args.begin(), args.end(), "--help") != args.end() ||
      std::find(args.begin(), args.end(), "-h") != args.end()) {
    parsed.Help = true;
    return parsed;
  }
  TArgCursor cursor(args);
  std::vector<std::string> files;
  bool filesOnly = false;
  while (!cursor.AtEnd()) {
    const std::string a = cursor.Next();
    if (filesOnly || !IsOption(a)) {
      files.push_back(a);
    } else if (a == "--") {
      filesOnly = true;
    } else {
      const std::string option = cursor.SplitAttachedValue(a);
      if (!TakeStreamOption(option, cursor, parsed.Stream) && !TakeWmaOption(option, cursor, parsed.Wma))
        throw TUsageError("unknown option '" + a + "' for stream");
      if (cursor.AttachedValueLeft()) throw TUsageError(option + " takes no value");
    }
  }
  if (files.size() != 1) throw TUsageError("stream takes one file");
  parsed.Stream.File = files.front();
  return parsed;
}

std::string StreamUrl(const std::string& bindAddress, const std::string& hostName, std::uint32_t port) {
  const std::string host = bindAddress == kEveryAddress && !hostName.empty() ? hostName : bindAddress;
  return "http://" + host + ":" + std::to_string(port) + "/";
}

}  // namespace melvanto::cli
