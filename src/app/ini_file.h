#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace melvanto {

// An INI file in memory: sections of "key=value" lines, UTF-8. Section and key names
// compare without regard to ASCII letter case; order, comments and everything this program
// does not know are kept when the file is written back.
class TIniFile {
 public:
  // Reads the file; a missing or unreadable one gives an empty set (false).
  bool Load(const std::string& path);
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

// The whole of a regular file; false (and contents empty) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& contents);
// Replaces path (or, for a symbolic link, its target) with contents through a temporary file
// in the same folder, keeping the old file's permission bits. False, and path untouched, on
// any failure.
bool WriteFileAtomically(const std::string& path, std::string_view contents);

}  // namespace melvanto
