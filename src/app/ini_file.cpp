#include "ini_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <optional>
#include <utility>

#include "part_file.h"
#include "unique_fd.h"
#include "text_codec.h"

namespace melvanto {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The name of a "[Section]" line, or nothing for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

struct TEntry {
  std::string_view Key;
  std::string_view Value;
};

// The key and value of a "key=value" line; comments, headers and anything else give nothing.
std::optional<TEntry> EntryOf(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() == ';' || line.front() == '#' || line.front() == '[') return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view key = Trim(line.substr(0, eq));
  if (key.empty()) return std::nullopt;
  std::string_view value = Trim(line.substr(eq + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return TEntry{key, value};
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The process's umask without changing it (umask() itself would race with other threads).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  return 022;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Removes the temporary file unless it has been renamed into place.
class TTempFileGuard {
 public:
  explicit TTempFileGuard(std::string path) : path_(std::move(path)) {}
  TTempFileGuard(const TTempFileGuard&) = delete;
  TTempFileGuard& operator=(const TTempFileGuard&) = delete;
  ~TTempFileGuard() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view contents) {
  if (path.empty()) return false;
  const std::string folder = DirectoryOf(path);
  std::string temp = folder + "/." + path.substr(path.find_last_of('/') + 1) + ".XXXXXX";
  UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.Valid()) return false;
  TTempFileGuard guard(temp);

  // lstat: a link's target, perhaps outside the folder, lends nothing, not even its mode.
  struct stat old {};
  const bool regular = ::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  const mode_t mode = regular ? (old.st_mode & 07777) : (0644 & ~CurrentUmask());
  if (::fchmod(fd.Get(), mode) != 0) return false;
  if (!WriteAll(fd.Get(), contents) || ::fsync(fd.Get()) != 0) return false;
  if (::close(fd.Release()) != 0) return false;
  // rename replaces a link at path itself, not the file it names.
  if (::rename(temp.c_str(), path.c_str()) != 0) return false;
  guard.Keep();
  FlushFolder(folder);
  return true;
}

TReadResult ReadFileUpTo(const std::string& path, std::size_t limit, std::string& contents) {
  contents.clear();
  const auto failed = [&](TReadResult::TStatus status, int error) {
    contents.clear();
    return TReadResult{status, error};
  };
  // Non-blocking, so that a named pipe in the file's place is refused instead of waiting
  // for a writer; a regular file reads the same either way.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) return failed(errno == ENOENT ? TReadResult::rsMissing : TReadResult::rsUnreadable, errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return failed(TReadResult::rsUnreadable, errno);
  if (!S_ISREG(st.st_mode)) return failed(TReadResult::rsUnreadable, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  if (static_cast<std::uintmax_t>(st.st_size) > limit) return failed(TReadResult::rsTooLarge, EFBIG);
  // The file may grow while it is read: the read stops one buffer past the limit.
  char buffer[8192];
  while (contents.size() <= limit) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(TReadResult::rsUnreadable, errno);
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  if (contents.size() > limit) return failed(TReadResult::rsTooLarge, EFBIG);
  return {TReadResult::rsRead, 0};
}

TReadResult TIniFile::Load(const std::string& path) {
  Lines_.clear();
  std::string text;
  const TReadResult read = ReadFileUpTo(path, kMaxIniFileBytes, text);
  if (!read) return read;
  // A byte-order mark from a Windows editor would otherwise hide the first section.
  std::string_view rest = text;
  // All of them: a second one left on the first line would vanish on the next load, turning
  // that line into a section header the file did not have.
  while (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  while (!rest.empty()) {
    const auto eol = rest.find('\n');
    Lines_.emplace_back(rest.substr(0, eol));
    if (eol == std::string_view::npos) break;
    rest.remove_prefix(eol + 1);
  }
  return read;
}

std::optional<std::size_t> TIniFile::FindKey(std::string_view section, std::string_view key) const {
  bool inSection = false;
  for (std::size_t i = 0; i < Lines_.size(); ++i) {
    if (const auto name = SectionOf(Lines_[i])) {
      inSection = SameText(*name, section);
    } else if (inSection) {
      const auto entry = EntryOf(Lines_[i]);
      if (entry && SameText(entry->Key, key)) return i;
    }
  }
  return std::nullopt;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 const std::string& fallback) const {
  const auto line = FindKey(section, key);
  if (!line) return fallback;
  return std::string(EntryOf(Lines_[*line])->Value);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t fallback) const {
  const auto line = FindKey(section, key);
  if (!line) return fallback;
  // Trimmed again: a quoted value may carry blanks inside its quotes.
  return ParseInteger(Trim(EntryOf(Lines_[*line])->Value)).value_or(fallback);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, const std::string& value) {
  // A line break would split the value into a second, foreign line.
  std::string text = value;
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  // Quotes keep what reading would strip: outer blanks, or a pair of quotes of the value's own.
  const bool quote = !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()) ||
                                       (text.size() >= 2 && text.front() == '"' && text.back() == '"'));
  std::string line = std::string(key) + "=" + (quote ? "\"" + text + "\"" : text);

  if (const auto at = FindKey(section, key)) {
    Lines_[*at] = std::move(line);
    return;
  }
  // After the last entry of the section's last occurrence, so blank lines before the next
  // header stay where they are.
  std::optional<std::size_t> insertAt;
  bool inSection = false;
  for (std::size_t i = 0; i < Lines_.size(); ++i) {
    if (const auto name = SectionOf(Lines_[i])) {
      inSection = SameText(*name, section);
      if (inSection) insertAt = i + 1;
    } else if (inSection && !Trim(Lines_[i]).empty()) {
      insertAt = i + 1;
    }
  }
  if (insertAt) {
    Lines_.insert(Lines_.begin() + static_cast<std::ptrdiff_t>(*insertAt), std::move(line));
    return;
  }
  if (!Lines_.empty() && !Trim(Lines_.back()).empty()) Lines_.emplace_back();
  std::string header(1, '[');
  header.append(section).push_back(']');
  Lines_.push_back(std::move(header));
  Lines_.push_back(std::move(line));
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::SaveAtomically(const std::string& path) const {
  std::string text;
  for (const std::string& line : Lines_) {
    text += line;
    text += '\n';
  }
  return WriteFileAtomically(path, text);
}

}  // namespace melvanto
