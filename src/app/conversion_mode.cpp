#include "conversion_mode.h"

#include <array>
#include <exception>

#include "mp3_in.h"
#include "text_codec.h"
#include "wave_in.h"
#include "wm_in.h"

namespace melvanto {

namespace {

struct TDirection {
  TConversionMode Mode;
  TSourceFormat Source;
  TTargetFormat Target;
  const char* Extension;
  const char* Name;
};

constexpr std::array<TDirection, 7> kDirections = {{
    {TConversionMode::cmWavToMp3, TSourceFormat::sfWav, TTargetFormat::tfMp3, ".mp3", "wav-mp3"},
    {TConversionMode::cmWavToWma, TSourceFormat::sfWav, TTargetFormat::tfWma, ".wma", "wav-wma"},
    {TConversionMode::cmMp3ToWav, TSourceFormat::sfMp3, TTargetFormat::tfWav, ".wav", "mp3-wav"},
    {TConversionMode::cmWmaToWav, TSourceFormat::sfWma, TTargetFormat::tfWav, ".wav", "wma-wav"},
    {TConversionMode::cmMp3ToWma, TSourceFormat::sfMp3, TTargetFormat::tfWma, ".wma", "mp3-wma"},
    {TConversionMode::cmWmaToMp3, TSourceFormat::sfWma, TTargetFormat::tfMp3, ".mp3", "wma-mp3"},
    {TConversionMode::cmWavToWav, TSourceFormat::sfWav, TTargetFormat::tfWav, ".wav", "wav-wav"},
}};

const TDirection& DirectionOf(TConversionMode mode) {
  for (const TDirection& d : kDirections)
    if (d.Mode == mode) return d;
  // Only a value cast from outside the enumeration gets here; treat it as the first button.
  return kDirections[0];
}

// Where the extension of a name starts, or npos. A leading dot (a hidden file's name) is
// part of the name, not an extension.
std::string::size_type ExtensionStart(const std::string& name) {
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? std::string::npos : dot;
}

}  // namespace

TSourceFormat SourceFormatOf(TConversionMode mode) {
  return DirectionOf(mode).Source;
}
TTargetFormat TargetFormatOf(TConversionMode mode) {
  return DirectionOf(mode).Target;
}
const char* TargetExtension(TConversionMode mode) {
  return DirectionOf(mode).Extension;
}
const char* DirectionName(TConversionMode mode) {
  return DirectionOf(mode).Name;
}
std::vector<TConversionMode> ConversionModes() {
  std::vector<TConversionMode> modes;
  for (const TDirection& d : kDirections) modes.push_back(d.Mode);
  return modes;
}

std::optional<TConversionMode> ConversionModeFromValue(std::int32_t value) {
  for (const TDirection& d : kDirections)
    if (static_cast<std::int32_t>(d.Mode) == value) return d.Mode;
  return std::nullopt;
}

std::string NameWithoutFolder(const std::string& F) {
  const auto slash = F.find_last_of('/');
  return slash == std::string::npos ? F : F.substr(slash + 1);
}

std::string NameWithoutExtension(const std::string& F) {
  std::string name = NameWithoutFolder(F);
  const auto dot = ExtensionStart(name);
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

std::string FolderOf(const std::string& F) {
  const auto slash = F.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : F.substr(0, slash + 1);
}

std::string OutputFileName(const std::string& D, const std::string& F, std::string_view extension) {
  std::string result = D;
  if (!result.empty() && result.back() != '/') result.push_back('/');
  result += NameWithoutExtension(F);
  result += extension;
  return result;
}

namespace {
TFileTags FileTagsOf(const TId3v2Tags& tags) { return {TagInfoOf(tags), tags.Genre()}; }
}  // namespace

std::optional<TFileTags> ReadFileTags(const std::string& F, TSourceFormat source) {
  try {
    if (source == TSourceFormat::sfWav) {
      TWaveIn wav;
      wav.SetFileName(F);
      if (!wav.Valid()) return std::nullopt;
      // Without tags the editor starts as it always has (no genre chosen either).
      if (wav.Id3v2Tags()->Empty()) return TFileTags{};
      return FileTagsOf(*wav.Id3v2Tags());
    }
    // The MP3 reader is a WM reader too; only the file opening differs.
    TMP3In mp3;
    TWMIn wma;
    TWMIn& input = source == TSourceFormat::sfMp3 ? static_cast<TWMIn&>(mp3) : wma;
    input.SetFileName(F);
    // Taken whole or not at all: a read that fails half way leaves no mixture.
    TFileTags read = FileTagsOf(*input.Id3v2Tags());
    input.SetFileName({});
    return read;
  } catch (const std::exception&) {
    // The runner reports a file that cannot be read.
    return std::nullopt;
  }
}

void PrepareBatchTags(const std::vector<std::string>& files, TConversionMode mode, TTagInfo& tags) {
  tags.Clear();
  if (files.size() != 1) return;
  const std::string& F = files.front();
  tags.Title = Utf8ToWide(NameWithoutExtension(F));
  // The editor shows a source's own values where the output carries tags.
  if (mode != TConversionMode::cmWavToMp3 && mode != TConversionMode::cmWavToWma &&
      mode != TConversionMode::cmMp3ToWma && mode != TConversionMode::cmWmaToMp3)
    return;
  std::optional<TFileTags> read = ReadFileTags(F, SourceFormatOf(mode));
  // A file that cannot be read keeps the title from its name.
  if (!read) return;
  if (read->Info.Title.empty()) read->Info.Title = tags.Title;
  tags = read->Info;
}

}  // namespace melvanto
