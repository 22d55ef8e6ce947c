#include "cli_args.h"

#include <charconv>

namespace melvanto::cli {

std::string TArgCursor::Value(const std::string& option) {
  if (Attached_) {
    std::string value = std::move(*Attached_);
    Attached_.reset();
    return value;
  }
  if (AtEnd()) throw TUsageError(option + " needs a value");
  return Next();
}

std::string TArgCursor::SplitAttachedValue(const std::string& arg) {
  Attached_.reset();
  const std::size_t equals = arg.find('=');
  if (!arg.starts_with("--") || equals == std::string::npos) return arg;
  Attached_ = arg.substr(equals + 1);
  return arg.substr(0, equals);
}

std::int32_t ParseNumber(const std::string& text, const std::string& option, std::int32_t min,
                         std::int32_t max) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end || value < min || value > max)
    throw TUsageError(option + ": '" + text + "' is not a number from " + std::to_string(min) + " to " +
                      std::to_string(max));
  return static_cast<std::int32_t>(value);
}

bool IsOption(const std::string& text) {
  return text.size() > 1 && text[0] == '-';
}

}  // namespace melvanto::cli
