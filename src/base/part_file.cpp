#include "part_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "unique_fd.h"

namespace melvanto {

namespace {

constexpr const char* kMarker = ".melvanto-";
constexpr const char* kSuffix = ".part";

// The folder part of a name with its trailing slash ("" for a bare name), and the rest.
std::string FolderPart(const std::string& name) {
  const auto slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

std::string NamePart(const std::string& name) {
  const auto slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// ".part" and the final name's extension: whatever tells a file's type by its name (the tag
// library does) still sees what it is.
std::string PartSuffix(const std::string& name) {
  const std::string bare = NamePart(name);
  const auto dot = bare.rfind('.');
  return std::string(kSuffix) + (dot == std::string::npos || dot == 0 ? std::string() : bare.substr(dot));
}

UniqueFd OpenNoInterrupt(const char* path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return UniqueFd(fd);
}

// The process id in a part file's name of ours for one of finalNames, or 0.
pid_t PartFilePid(const std::string& entry, const std::set<std::string>& finalNames) {
  const std::size_t marker = entry.rfind(kMarker);
  if (entry.empty() || entry[0] != '.' || marker == std::string::npos || marker < 2) return 0;
  const std::string name = entry.substr(1, marker - 1);
  if (finalNames.count(name) == 0) return 0;
  const std::size_t start = marker + std::char_traits<char>::length(kMarker);
  const std::size_t end = entry.find_first_not_of("0123456789", start);
  if (end == std::string::npos || end == start || end - start > 9 || entry.substr(end) != PartSuffix(name))
    return 0;
  return static_cast<pid_t>(std::atol(entry.substr(start, end - start).c_str()));
}

}  // namespace

std::string PartFileName(const std::string& finalName, pid_t pid) {
  return FolderPart(finalName) + "." + NamePart(finalName) + kMarker + std::to_string(pid) +
         PartSuffix(finalName);
}

int CreatePartFile(const std::string& partName) {
  const UniqueFd fd(::open(partName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  return fd.Valid() ? 0 : errno;
}

int PublishPartFile(const std::string& partName, const std::string& finalName) {
  {
    const UniqueFd file = OpenNoInterrupt(partName.c_str(), O_RDONLY | O_NOFOLLOW);
    if (!file.Valid() || ::fsync(file.Get()) != 0) return errno;
  }
  if (::rename(partName.c_str(), finalName.c_str()) != 0) return errno;
  FlushFolder(FolderPart(finalName));
  return 0;
}

void FlushFolder(const std::string& folder) {
  const UniqueFd dir = OpenNoInterrupt(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir.Valid()) ::fsync(dir.Get());
}

void DiscardPartFile(const std::string& partName) {
  ::unlink(partName.c_str());
}

int RemoveDeadPartFiles(const std::string& folder, const std::set<std::string>& finalNames) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()),
                                                &::closedir);
  if (!dir) return 0;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + '/';
  int removed = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const pid_t pid = PartFilePid(entry->d_name, finalNames);
    if (pid <= 0) continue;
    // Only a process that is gone: one we may not signal (EPERM) is alive.
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
    if (::unlink((prefix + entry->d_name).c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace melvanto
