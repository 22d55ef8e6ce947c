#include "input_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

#include "text_codec.h"

namespace melvanto {

namespace {

using TFolderId = std::pair<dev_t, ino_t>;

struct TDirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using UniqueDir = std::unique_ptr<DIR, TDirCloser>;

std::string WithSlash(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder : folder + '/';
}

// A folder's entry names, sorted, without "." and ".." and hidden names; false when it
// cannot be read.
bool ReadFolder(const std::string& folder, std::vector<std::string>& names) {
  UniqueDir dir(::opendir(folder.c_str()));
  if (!dir) return false;
  errno = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    errno = 0;
  }
  if (errno != 0) return false;
  std::sort(names.begin(), names.end());
  return true;
}

class TFolderSearch {
 public:
  TFolderSearch(TSourceFormat source, TInputList& list) : Source_(source), List_(list) {}

  // folder: as named (its trailing '/' optional); subfolder: relative to the named folder.
  void Search(const std::string& folder, const std::string& subfolder, const struct stat& info) {
    if (!Searched_.insert({info.st_dev, info.st_ino}).second) {
      List_.Problems.push_back(folder + ": already searched (a link leads back to it, or it was named twice); skipped");
      return;
    }
    std::vector<std::string> names;
    if (!ReadFolder(folder, names)) {
      Unreadable(folder, "cannot read this folder");
      return;
    }
    const std::string prefix = WithSlash(folder);
    for (const std::string& name : names) {
      const std::string path = prefix + name;
      struct stat entry {};
      // Follows links: a link to a folder is searched like the folder, once.
      if (::stat(path.c_str(), &entry) != 0) {
        // A dangling link or a link loop names nothing to convert; anything else (a folder
        // that can be listed but not entered) hides what the user meant.
        if (errno != ENOENT && errno != ELOOP) Unreadable(path, "cannot read");
        continue;
      }
      if (S_ISDIR(entry.st_mode))
        Search(path, subfolder + name + '/', entry);
      else if (S_ISREG(entry.st_mode) && HasSourceExtension(name, Source_))
        List_.Files.push_back({path, subfolder});
    }
  }

 private:
  // Reports errno's reason.
  void Unreadable(const std::string& path, const char* what) {
    const int error = errno;
    List_.Problems.push_back(path + ": " + what + ": " + std::strerror(error));
    List_.Incomplete = true;
  }

  TSourceFormat Source_;
  TInputList& List_;
  std::set<TFolderId> Searched_;
};

}  // namespace

std::vector<std::string> SourceExtensions(TSourceFormat source) {
  switch (source) {
    case TSourceFormat::sfMp3:
      return {".mp3"};
    case TSourceFormat::sfWma:
      return {".wma"};
    case TSourceFormat::sfWav:
      break;
  }
  return {".wav"};
}

bool HasSourceExtension(const std::string& F, TSourceFormat source) {
  const std::string name = NameWithoutFolder(F);
  const std::string_view extension = std::string_view(name).substr(NameWithoutExtension(F).size());
  const std::vector<std::string> extensions = SourceExtensions(source);
  return std::any_of(extensions.begin(), extensions.end(),
                     [&](const std::string& e) { return SameText(extension, e); });
}

TInputList CollectInputs(const std::vector<std::string>& paths, TSourceFormat source) {
  TInputList list;
  TFolderSearch search(source, list);
  for (const std::string& path : paths) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
      search.Search(path, {}, info);
    else
      list.Files.push_back({path, {}});
  }
  return list;
}

std::vector<std::string> PathsOf(const std::vector<TInputFile>& files) {
  std::vector<std::string> paths;
  paths.reserve(files.size());
  for (const TInputFile& f : files) paths.push_back(f.Path);
  return paths;
}

}  // namespace melvanto
