#include "convert_options.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "cli_args.h"
#include "printable.h"
#include "wma_choice.h"
#include "text_codec.h"

namespace melvanto::cli {
namespace {

// The channel modes by the number StereoMode stores.
constexpr std::array<std::string_view, 4> kStereoModes = {"stereo", "joint", "dual", "mono"};

// "a, b or c".
std::string ListInWords(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " or " : ", ";
    text += items[i];
  }
  return text;
}

template <typename Range>
std::string JoinedNumbers(const Range& numbers) {
  std::string text;
  for (const auto n : numbers) {
    if (!text.empty()) text += ' ';
    text += std::to_string(n);
  }
  return text;
}

std::int32_t ConstantIndex(const std::string& text) {
  const std::int32_t kbps = ParseNumber(text, "--mp3-cbr", 0, 100000);
  for (std::size_t i = 0; i < kConstantBitRates.size(); ++i)
    if (kConstantBitRates[i] == kbps) return static_cast<std::int32_t>(i);
  throw TUsageError("--mp3-cbr: " + text + " is not one of " + ConstantBitRateList());
}

std::int32_t VbrLimit(const std::string& text, const std::string& option) {
  const std::int32_t kbps = ParseNumber(text, option, 0, 100000);
  if (std::find(kMP3BitRates.begin(), kMP3BitRates.end(), kbps) == kMP3BitRates.end())
    throw TUsageError(option + ": " + text + " is not one of " + JoinedNumbers(kMP3BitRates));
  return kbps;
}

std::int32_t StereoMode(const std::string& text) {
  for (std::size_t i = 0; i < kStereoModes.size(); ++i)
    if (kStereoModes[i] == text) return static_cast<std::int32_t>(i);
  throw TUsageError("--mp3-mode: '" + text + "' is not " + StereoModeList());
}

TConversionMode ParseMode(TArgCursor& cursor) {
  if (cursor.AtEnd()) throw TUsageError("convert needs a direction and files");
  const std::string direction = cursor.Next();
  const auto mode = ParseDirection(direction);
  if (!mode)
    throw TUsageError("unknown direction '" + direction + "' (one of " + DirectionNameList() + ", or " +
                      DirectionNumberList() + ")");
  return *mode;
}

// Each of these takes the option a (and its value) when it is one of its group's.
bool TakeOutputOption(const std::string& a, TArgCursor& cursor, TConvertRequest& r, bool& portableNames) {
  if (a == "-o" || a == "--output") {
    r.OutputFolder = cursor.Value(a);
    // An unset variable in a script ("-o $DEST") would mean the current folder.
    if (r.OutputFolder->empty()) throw TUsageError(a + " needs a folder, not an empty value");
  } else if (a == "--same-folder") {
    r.SameFolder = true;
  } else if (a == "--name") {
    std::string problem;
    r.Name = ParseNamePattern(cursor.Value(a), problem);
    if (!r.Name) throw TUsageError("--name: " + problem);
  } else if (a == "--portable-names") {
    portableNames = true;
  } else if (a == "--update") {
    r.Update = true;
  } else if (a == "--overwrite" || a == "--no-overwrite") {
    const auto policy = a == "--overwrite" ? TOverwritePolicy::Always : TOverwritePolicy::Never;
    if (r.OverwriteGiven && r.Overwrite != policy)
      throw TUsageError("--overwrite and --no-overwrite exclude each other");
    r.Overwrite = policy;
    r.OverwriteGiven = true;
  } else if (a == "-j" || a == "--jobs") {
    r.Jobs = ParseNumber(cursor.Value(a), a, 1, 1024);
  } else if (a == "-q" || a == "--quiet") {
    r.Quiet = true;
  } else {
    return false;
  }
  return true;
}

bool TakeTagOption(const std::string& a, TArgCursor& cursor, TConvertRequest& r) {
  const std::pair<const char*, std::optional<std::string>*> texts[] = {
      {"--title", &r.Title}, {"--artist", &r.Artist},   {"--album", &r.Album},
      {"--year", &r.Year},   {"--comment", &r.Comment}, {"--track", &r.Track},
  };
  for (const auto& [option, field] : texts) {
    if (a != option) continue;
    *field = cursor.Value(a);
    return true;
  }
  if (a != "--genre") return false;
  const std::string name = cursor.Value(a);
  const std::int32_t index = GenreIndex(Utf8ToWide(name));
  if (index < 0) throw TUsageError("unknown genre '" + name + "' ('melvanto-cli genres' lists the names)");
  r.Genre = index;
  return true;
}

bool TakeMp3Option(const std::string& a, TArgCursor& cursor, TConvertRequest& r) {
  if (a == "--mp3-cbr") {
    r.Mp3ConstantIndex = ConstantIndex(cursor.Value(a));
  } else if (a == "--mp3-vbr") {
    r.Mp3VbrQuality = ParseNumber(cursor.Value(a), a, 0, 9);
  } else if (a == "--mp3-min") {
    r.Mp3MinKbps = VbrLimit(cursor.Value(a), a);
  } else if (a == "--mp3-max") {
    r.Mp3MaxKbps = VbrLimit(cursor.Value(a), a);
  } else if (a == "--mp3-mode") {
    r.Mp3StereoMode = StereoMode(cursor.Value(a));
  } else if (a == "--mp3-no-reservoir") {
    r.Mp3NoReservoir = true;
  } else {
    return false;
  }
  return true;
}

bool TakeWavOption(const std::string& a, TArgCursor& cursor, TConvertRequest& r) {
  if (a == "--wav-type") {
    const std::string type = cursor.Value(a);
    if (type == "pcm")
      r.Wave.Encoding = TWaveEncoding::wePCM;
    else if (type == "ima-adpcm")
      r.Wave.Encoding = TWaveEncoding::weIMAADPCM;
    else
      throw TUsageError("--wav-type: '" + type + "' is not pcm or ima-adpcm");
  } else if (a == "--block-size") {
    const std::int32_t size = ParseNumber(cursor.Value(a), a, 4, 65532);
    if (size % 4 != 0) throw TUsageError("--block-size: " + std::to_string(size) + " is not a multiple of 4");
    r.Wave.BlockSize = static_cast<std::uint16_t>(size);
  } else if (a == "--extensible") {
    r.Wave.Extensible = true;
  } else if (a == "--append") {
    r.Wave.Append = true;
  } else {
    return false;
  }
  return true;
}

// The rules between options, once all are read.
void CheckRequest(const TConvertRequest& r) {
  if (r.Files.empty()) throw TUsageError("convert needs at least one file");
  if (r.OutputFolder && r.SameFolder) throw TUsageError("-o and --same-folder exclude each other");
  CheckFileCount(r);
  // An appended output is newer than its input, so each run would append the same audio again.
  if (r.Update && r.Wave.Append) throw TUsageError("--update and --append exclude each other");
  if (r.Mp3ConstantIndex && r.Mp3VbrQuality) throw TUsageError("--mp3-cbr and --mp3-vbr exclude each other");
  if (r.AnyTag() && TargetFormatOf(r.Mode) == TTargetFormat::tfWav)
    throw TUsageError("tag options do not apply to WAV output");
  // Not ignored: --append also stands for "no question", which must not replace an MP3 or WMA.
  if (TargetFormatOf(r.Mode) != TTargetFormat::tfWav) {
    for (const auto& [given, option] :
         {std::pair{r.Wave.Encoding.has_value(), "--wav-type"}, std::pair{r.Wave.BlockSize.has_value(), "--block-size"},
          std::pair{r.Wave.Extensible, "--extensible"}, std::pair{r.Wave.Append, "--append"}})
      if (given) throw TUsageError(std::string(option) + " is for WAV output");
  }
}

}  // namespace

void CheckFileCount(const TConvertRequest& r) {
  // The tag editor disables the title when one set of values serves several files.
  if (r.Title && r.Files.size() > 1) throw TUsageError("--title is for a single file");
}

bool TakeWmaOption(const std::string& a, TArgCursor& cursor, TConvertRequest& r) {
  if (a == "--wma-codec") {
    r.WmaCodec = ParseNumber(cursor.Value(a), a, 0, 1000);
  } else if (a == "--wma-format") {
    r.WmaFormat = ParseNumber(cursor.Value(a), a, 0, 100000);
  } else if (a == "--wma-vbr") {
    r.WmaVbr = true;
  } else {
    return false;
  }
  return true;
}

std::optional<std::string> WmaChoiceProblem(const TOptionsSetting& s) {
  const std::vector<TWMACodec> codecs = ListWMACodecs(s.VBR);
  if (s.CodecIndex < 0 || s.CodecIndex >= static_cast<std::int32_t>(codecs.size()))
    return "there is no WMA codec " + std::to_string(s.CodecIndex) + " ('melvanto-cli codecs' lists them)";
  const auto formats = static_cast<std::int32_t>(codecs[static_cast<std::size_t>(s.CodecIndex)].Formats.size());
  if (s.FormatIndex < 0 || s.FormatIndex >= formats)
    return "codec " + std::to_string(s.CodecIndex) + " has no " + (s.VBR ? "VBR " : "") + "format " +
           std::to_string(s.FormatIndex) + " ('melvanto-cli codecs" + (s.VBR ? " --vbr" : "") +
           "' lists them)";
  return std::nullopt;
}

TOptionsSetting StartingSettings() {
  TOptionsSetting settings;
  // The defaults do for a settings file that cannot be used; the user hears why, once.
  if (const TSettingsStatus loaded = LoadSettings(settings); !loaded)
    std::fprintf(stderr, "melvanto-cli: %s\n", Printable(loaded.Message).c_str());
  ChooseDefaultWMAFormat(ListWMACodecs(false), settings);
  return settings;
}

bool CheckWmaChoice(const TConvertRequest& request, const TOptionsSetting& settings) {
  const auto problem = WmaChoiceProblem(settings);
  if (!problem) return true;
  // Typed by the user, it is a usage error; read from options.ini, nothing typed was wrong.
  if (request.WmaCodec || request.WmaFormat || request.WmaVbr) throw TUsageError(*problem);
  std::fprintf(stderr,
               "melvanto-cli: the WMA choice in %s cannot be used: %s; choose one with --wma-codec and "
               "--wma-format\n",
               Printable(SettingsFilePath()).c_str(), Printable(*problem).c_str());
  return false;
}

std::string DirectionNameList() {
  std::string text;
  for (const TConversionMode mode : ConversionModes()) {
    if (!text.empty()) text += ' ';
    text += DirectionName(mode);
  }
  return text;
}

std::string DirectionNumberList() {
  std::vector<std::int32_t> numbers;
  for (const TConversionMode mode : ConversionModes()) numbers.push_back(static_cast<std::int32_t>(mode));
  return JoinedNumbers(numbers);
}

std::string ConstantBitRateList() { return JoinedNumbers(kConstantBitRates); }

std::string StereoModeList() { return ListInWords({kStereoModes.begin(), kStereoModes.end()}); }

std::optional<TConversionMode> ParseDirection(std::string_view text) {
  for (const TConversionMode mode : ConversionModes())
    if (DirectionName(mode) == text) return mode;
  std::int32_t value = 0;
  try {
    value = ParseNumber(std::string(text), "direction", 0, 100);
  } catch (const TUsageError&) {
    return std::nullopt;
  }
  return ConversionModeFromValue(value);
}

TConvertRequest ParseConvertArgs(const std::vector<std::string>& args) {
  TConvertRequest r;
  if (std::find(args.begin(), args.end(), "--help") != args.end() ||
      std::find(args.begin(), args.end(), "-h") != args.end()) {
    r.Help = true;
    return r;
  }
  TArgCursor cursor(args);
  r.Mode = ParseMode(cursor);
  bool filesOnly = false;
  bool portableNames = false;
  while (!cursor.AtEnd()) {
    const std::string a = cursor.Next();
    if (filesOnly || !IsOption(a)) {
      r.Files.push_back(a);
    } else if (a == "--") {
      filesOnly = true;
    } else {
      const std::string option = cursor.SplitAttachedValue(a);
      if (!TakeOutputOption(option, cursor, r, portableNames) && !TakeTagOption(option, cursor, r) &&
          !TakeMp3Option(option, cursor, r) && !TakeWmaOption(option, cursor, r) &&
          !TakeWavOption(option, cursor, r))
        throw TUsageError("unknown option '" + a + "' for convert");
      if (cursor.AttachedValueLeft()) throw TUsageError(option + " takes no value");
    }
  }
  if (portableNames) {
    if (!r.Name) throw TUsageError("--portable-names is for --name");
    r.Name->Portable = true;
  }
  CheckRequest(r);
  return r;
}

void ApplyRequest(const TConvertRequest& r, TOptionsSetting& s, TTagInfo& tags) {
  if (r.OutputFolder) {
    s.CommonOptions.OutputFolder = *r.OutputFolder;
    s.CommonOptions.SameAsInputFolder = false;
  }
  if (r.SameFolder) s.CommonOptions.SameAsInputFolder = true;

  const auto put = [](const std::optional<std::string>& value, std::u16string& field) {
    if (value) field = Utf8ToWide(*value);
  };
  put(r.Title, tags.Title);
  put(r.Artist, tags.Artist);
  put(r.Album, tags.Album);
  put(r.Year, tags.Year);
  put(r.Comment, tags.Comment);
  put(r.Track, tags.Track);
  if (r.Genre) tags.Genre = *r.Genre;
  if (r.AnyTag()) {
    // As if the tag editor had been shown: its values then reach the outputs, and for a
    // batch they are one set for every file.
    s.CommonOptions.IsShowTagEditor = true;
    if (r.Files.size() > 1) s.CommonOptions.IsSameTag = true;
  }

  if (r.Mp3ConstantIndex) {
    s.ConstantBitRate = *r.Mp3ConstantIndex;
    s.IsSelectVBR = false;
  }
  if (r.Mp3VbrQuality) {
    s.VBRQuality = *r.Mp3VbrQuality;
    s.IsSelectVBR = true;
  }
  if (r.Mp3MinKbps) s.BitRate = *r.Mp3MinKbps;
  if (r.Mp3MaxKbps) s.MaxBitRate = *r.Mp3MaxKbps;
  if (r.Mp3StereoMode) s.StereoMode = *r.Mp3StereoMode;
  if (r.Mp3NoReservoir) s.BitReservoir = false;

  if (r.WmaCodec) s.CodecIndex = *r.WmaCodec;
  if (r.WmaFormat) s.FormatIndex = *r.WmaFormat;
  // Typed numbers name entries of one list: the VBR list with --wma-vbr, else the CBR list.
  if (r.WmaVbr || r.WmaCodec || r.WmaFormat) s.VBR = r.WmaVbr;
}

std::int32_t JobCount(const TConvertRequest& r, std::uint32_t processors) {
  std::int64_t jobs = r.Jobs ? *r.Jobs : static_cast<std::int64_t>(processors);
  if (jobs > static_cast<std::int64_t>(r.Files.size())) jobs = static_cast<std::int64_t>(r.Files.size());
  if (jobs < 1) jobs = 1;
  return static_cast<std::int32_t>(jobs);
}

}  // namespace melvanto::cli
