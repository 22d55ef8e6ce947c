#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace melvanto {

// Settings files are a few hundred bytes; a larger one is refused, never read into memory.
inline constexpr std::size_t kMaxIniFileBytes = 1024 * 1024;

// What reading a file came to; Error is the errno of a failure to open or read.
struct TReadResult {
  enum TStatus { rsRead, rsMissing, rsUnreadable, rsTooLarge };
  TStatus Status = rsMissing;
  int Error = 0;
  explicit operator bool() const { return Status == rsRead; }
};

// A regular file of at most limit bytes, whole; contents empty unless it was read.
TReadResult ReadFileUpTo(const std::string& path, std::size_t limit, std::string& contents);

// An INI file in memory: sections of "key=value" lines, UTF-8. Section and key names
// compare without regard to ASCII letter case; order, comments and everything this program
// does not know are kept when the file is written back.
class TIniFile {
 public:
  // Reads the file (at most kMaxIniFileBytes); a missing, unreadable or larger one gives an
  // empty set, and the result says which.
  TReadResult Load(const std::string& path);
  std::string ReadString(std::string_view section, std::string_view key, const std::string& fallback) const;
  // Decimal (optionally signed, surrounding blanks allowed); anything else gives fallback.
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;
  // True when the integer value is non-zero.
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  void WriteString(std::string_view section, std::string_view key, const std::string& value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  // 1 or 0.
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Writes a new file beside path and renames it over path, so a crash never leaves a
  // half-written file. False (and path untouched) on any failure.
  bool SaveAtomically(const std::string& path) const;

 private:
  // The line of the first entry of key in any section of that name.
  std::optional<std::size_t> FindKey(std::string_view section, std::string_view key) const;

  std::vector<std::string> Lines_;
};

// Replaces whatever is at path with a regular file holding contents, through a temporary file
// in the same folder renamed over the name; a symbolic link there is replaced, never followed,
// so nothing is written outside that folder. A regular file's permission bits are kept. False,
// and path untouched, on any failure.
bool WriteFileAtomically(const std::string& path, std::string_view contents);

}  // namespace melvanto
