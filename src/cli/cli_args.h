#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace melvanto::cli {

// Exit statuses of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// A command line the program cannot act on; what() says why, for stderr.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Walks the arguments of one command.
class TArgCursor {
 public:
  explicit TArgCursor(std::vector<std::string> args) : Args_(std::move(args)) {}

  bool AtEnd() const { return Pos_ >= Args_.size(); }
  const std::string& Peek() const { return Args_[Pos_]; }
  std::string Next() { return Args_[Pos_++]; }
  // The value given with option ("--output=DIR"), else the argument after it; a usage error
  // when there is none.
  std::string Value(const std::string& option);
  // "--name=value" gives "--name" and keeps value for Value(); anything else is given back
  // as it is.
  std::string SplitAttachedValue(const std::string& arg);
  // A value attached to an option that took none.
  bool AttachedValueLeft() const { return Attached_.has_value(); }

 private:
  std::vector<std::string> Args_;
  std::size_t Pos_ = 0;
  std::optional<std::string> Attached_;
};

// text as a whole decimal number in [min, max]; a usage error naming option otherwise.
std::int32_t ParseNumber(const std::string& text, const std::string& option, std::int32_t min,
                         std::int32_t max);

// Whether text looks like an option ("-x", "--xyz"), not a file ("-" alone is a file name).
bool IsOption(const std::string& text);

}  // namespace melvanto::cli
