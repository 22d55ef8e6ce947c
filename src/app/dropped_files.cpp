#include "dropped_files.h"

#include <filesystem>
#include <system_error>

namespace melvanto {

namespace {

constexpr TSourceFormat kSources[] = {TSourceFormat::sfWav, TSourceFormat::sfMp3, TSourceFormat::sfWma};

bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

}  // namespace

TDroppedFiles SortDroppedPaths(const std::vector<std::string>& paths) {
  TDroppedFiles dropped;
  std::vector<bool> folder;
  folder.reserve(paths.size());
  for (const std::string& path : paths) folder.push_back(IsFolder(path));
  for (TSourceFormat source : kSources) {
    std::vector<std::string> mine;
    for (std::size_t i = 0; i < paths.size(); ++i)
      if (folder[i] || HasSourceExtension(paths[i], source)) mine.push_back(paths[i]);
    TInputList inputs = CollectInputs(mine, source);
    if (!inputs.Files.empty()) dropped.Groups.push_back({source, std::move(inputs)});
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    bool known = folder[i];
    for (TSourceFormat source : kSources) known = known || HasSourceExtension(paths[i], source);
    if (!known) dropped.Unused.push_back(paths[i]);
  }
  return dropped;
}

std::vector<TConversionMode> DirectionsFrom(TSourceFormat source) {
  using M = TConversionMode;
  switch (source) {
    case TSourceFormat::sfMp3:
      return {M::cmMp3ToWav, M::cmMp3ToWma};
    case TSourceFormat::sfWma:
      return {M::cmWmaToWav, M::cmWmaToMp3};
    case TSourceFormat::sfWav:
      break;
  }
  return {M::cmWavToMp3, M::cmWavToWma};
}

}  // namespace melvanto
