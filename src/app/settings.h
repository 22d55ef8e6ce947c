#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace melvanto {

class TId3v2Tags;

// How many files the progress window converts at once: 1 up to this.
inline constexpr std::int32_t kMaxParallelFiles = 64;
// The default count: one file per processor core.
std::int32_t DefaultParallelFiles();

struct TCommonOptions {
  std::string OutputFolder;  // UTF-8; the default is filled by DefaultOutputFolder()
  std::int32_t OutputFormat = 0;
  bool SameAsInputFolder = false;
  bool IsShowTagEditor = true;
  bool IsSameTag = false;
  std::int32_t ParallelFiles = DefaultParallelFiles();  // 1..kMaxParallelFiles
};

struct TOptionsSetting {
  TCommonOptions CommonOptions;
  bool IsSelectVBR = false;
  bool IsVBRHead = false;
  std::int32_t BitRate = 128;
  std::int32_t MaxBitRate = 320;
  std::int32_t VBRQuality = 4;
  std::int32_t StereoMode = 1;
  std::int32_t CPU = 3;
  std::int32_t ConstantBitRate = 5;
  bool BitReservoir = true;  // off only for frames that must stand alone
  std::int32_t CodecIndex = -1;
  std::int32_t FormatIndex = -1;
  bool VBR = false;
};

// The tag values of the current batch; never stored in a file. Genre is a position in
// kDisplayGenres, -1 for none.
struct TTagInfo {
  std::u16string Title, Artist, Album, Year;
  std::int32_t Genre = -1;
  std::u16string Track, Comment;

  // All strings empty, Genre -1: what every batch starts from.
  void Clear() { *this = TTagInfo(); }
  bool operator==(const TTagInfo&) const = default;
};

// The per-user configuration folder ($XDG_CONFIG_HOME, else ~/.config), with a trailing '/'.
std::string SettingsFolder();
// The folder of the running program, with a trailing '/'.
std::string ProgramFolder();
// Tests point the program's folder somewhere else; an empty path restores the real one.
void SetProgramFolderForTesting(const std::string& folder);
// Where options.ini lives: in the folder below SettingsFolder (created with its parents); a
// seed options.ini beside the program (or in <prefix>/share/melvanto) is copied there first
// when the file is missing. Empty when that folder cannot be made: nothing is then read or
// written, least of all beside the program.
std::string SettingsFilePath();
// Where options.ini is or would be, for telling the user; makes nothing. Empty when there is
// no settings folder.
std::string SettingsFileLocation();
// The default OutputFolder: ProgramFolder + "Output" where the user can write there (a
// build tree), else "Melvanto" in the user's XDG music folder. No trailing '/'.
std::string DefaultOutputFolder();

// What loading or saving the settings came to, for the caller to show: this layer prints
// nothing.
struct TSettingsStatus {
  bool Ok = true;         // read (or none there yet) / written
  bool NoFolder = false;  // the settings folder cannot be made: defaults, nothing saved
  std::string Message;    // for the user when not Ok: names the file or folder and what is used
  explicit operator bool() const { return Ok; }
};

// Reads options.ini into settings (defaults for missing keys, and for a file that is too large
// or unreadable, which the status then reports), and creates the default output folder when
// that is the one in use.
TSettingsStatus LoadSettings(TOptionsSetting& settings);
// Writes every key of settings to options.ini, replacing the file atomically (new file, then
// rename); keys and sections of other programs' making are kept. Not Ok when the file could
// not be written (the old one is then untouched), and when there is no settings folder
// (NoFolder: the same notice that loading gave).
TSettingsStatus SaveSettings(const TOptionsSetting& settings);

// The constant bit rates in kbps, by the position ConstantBitRate stores.
inline constexpr std::array<std::int32_t, 9> kConstantBitRates = {48, 56, 64, 80, 96, 128, 192, 256, 320};

// Every bit rate in kbps an MP3 output can be set to, in the order of TMP3BitRate's values
// (the VBR limits must be one of them).
inline constexpr std::array<std::int32_t, 15> kMP3BitRates = {32,  40,  48,  56,  64,  80,  96, 112,
                                                              128, 144, 160, 192, 224, 256, 320};
// A source file's own values as batch tag values (the genre as its position in the list).
TTagInfo TagInfoOf(const TId3v2Tags& source);
// Position of name in kDisplayGenres without regard to letter case; -1 when absent.
std::int32_t GenreIndex(std::u16string_view name);

}  // namespace melvanto
