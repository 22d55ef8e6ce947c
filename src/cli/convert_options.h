#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli_args.h"
#include "conversion_mode.h"
#include "name_pattern.h"
#include "runner.h"
#include "settings.h"

namespace melvanto::cli {

enum class TOverwritePolicy { Ask, Always, Never };

// What `convert` was asked to do, as given; nothing here touches the settings yet.
struct TConvertRequest {
  TConversionMode Mode = TConversionMode::cmWavToMp3;
  std::vector<std::string> Files;
  std::optional<std::string> OutputFolder;
  bool SameFolder = false;
  std::optional<TNamePattern> Name;  // --name, with --portable-names in it
  bool Update = false;
  TOverwritePolicy Overwrite = TOverwritePolicy::Ask;
  bool OverwriteGiven = false;
  std::optional<std::int32_t> Jobs;
  bool Quiet = false;
  bool Help = false;

  // Tag values (UTF-8 as typed); Genre is a position in the display genre list.
  std::optional<std::string> Title, Artist, Album, Year, Comment, Track;
  std::optional<std::int32_t> Genre;

  std::optional<std::int32_t> Mp3ConstantIndex;  // index into 48 ... 320
  std::optional<std::int32_t> Mp3VbrQuality;
  std::optional<std::int32_t> Mp3MinKbps, Mp3MaxKbps;
  std::optional<std::int32_t> Mp3StereoMode;
  bool Mp3NoReservoir = false;

  std::optional<std::int32_t> WmaCodec, WmaFormat;
  bool WmaVbr = false;

  TWaveOutputOptions Wave;

  bool AnyTag() const { return Title || Artist || Album || Year || Comment || Track || Genre; }
};

// "wav-mp3" ... "wav-wav", or the direction's number.
std::optional<TConversionMode> ParseDirection(std::string_view text);

// The lists the usage texts show, from the tables the parsing uses: "wav-mp3 wav-wma ...",
// "2 4 ...", "48 56 ... 320", "stereo, joint, dual or mono".
std::string DirectionNameList();
std::string DirectionNumberList();
std::string ConstantBitRateList();
std::string StereoModeList();

// The arguments after "convert". Throws TUsageError. With --help anywhere, only Help is
// meaningful.
TConvertRequest ParseConvertArgs(const std::vector<std::string>& args);

// The rules that hold for the files of the batch: run again once folders are searched.
void CheckFileCount(const TConvertRequest& request);

// The request laid over the loaded settings and the batch's tag values (already prepared for
// its files), the way the options dialog and the tag editor would change them.
void ApplyRequest(const TConvertRequest& request, TOptionsSetting& settings, TTagInfo& tags);

// Takes a (and its value from cursor) into r when it is one of the WMA options; false when
// it is none of them. For every command that encodes WMA.
bool TakeWmaOption(const std::string& a, TArgCursor& cursor, TConvertRequest& r);

// The main window's start without its widgets: the settings file (the defaults when it
// cannot be used, the user told why on stderr) with its WMA choice made. Never saved.
TOptionsSetting StartingSettings();

// Why the WMA codec and format the settings choose are not among those the output picks from,
// or nothing when they are.
std::optional<std::string> WmaChoiceProblem(const TOptionsSetting& settings);
// Whether settings (with request applied) can encode WMA. A typed choice that cannot raises
// TUsageError; the settings file's own is reported on stderr and gives false.
bool CheckWmaChoice(const TConvertRequest& request, const TOptionsSetting& settings);

// The number of runners: -j, else the processor count; at least 1, at most one per file.
std::int32_t JobCount(const TConvertRequest& request, std::uint32_t processors);

}  // namespace melvanto::cli
