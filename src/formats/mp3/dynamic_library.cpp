#include "dynamic_library.h"

#include <link.h>

#include <cstdlib>
#include <memory>

namespace melvanto {

namespace {

std::string_view BaseName(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool IsLibraryOf(std::string_view name, std::string_view stem) {
  if (name.substr(0, stem.size()) != stem) return false;
  name.remove_prefix(stem.size());
  return name == ".so" || name.substr(0, 4) == ".so.";
}

}  // namespace

std::string LoadedLibraryFile(std::string_view stem) {
  struct Search {
    std::string_view Stem;
    std::string Found;
  } search{stem, {}};
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto& s = *static_cast<Search*>(data);
        if (info->dlpi_name == nullptr || !IsLibraryOf(BaseName(info->dlpi_name), s.Stem)) return 0;
        // The name loaded is usually the soname, a link; the real file's name carries the full version.
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(info->dlpi_name, nullptr), &std::free);
        s.Found = real ? real.get() : info->dlpi_name;
        return 1;
      },
      &search);
  return search.Found;
}

std::string LibraryFileVersion(std::string_view path, std::string_view stem) {
  std::string_view name = BaseName(path);
  const std::string prefix = std::string(stem) + ".so.";
  if (name.substr(0, prefix.size()) != prefix) return {};
  name.remove_prefix(prefix.size());
  // Numbers separated by single dots, nothing else.
  bool digitBefore = false;
  for (const char c : name) {
    if (c >= '0' && c <= '9') {
      digitBefore = true;
    } else if (c == '.' && digitBefore) {
      digitBefore = false;
    } else {
      return {};
    }
  }
  return digitBefore ? std::string(name) : std::string();
}

}  // namespace melvanto
