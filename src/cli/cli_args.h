#pragma once

#include <cstddef>
#include <cstdint>
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
  // The argument after option; a usage error when there is none.
  std::string Value(const std::string& option);

 private:
  std::vector<std::string> Args_;
  std::size_t Pos_ = 0;
};

// text as a whole decimal number in [min, max]; a usage error naming option otherwise.
std::int32_t ParseNumber(const std::string& text, const std::string& option, std::int32_t min,
                         std::int32_t max);

// Whether text looks like an option ("-x", "--xyz"), not a file ("-" alone is a file name).
bool IsOption(const std::string& text);

}  // namespace melvanto::cli
