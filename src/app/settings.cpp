// Where options.ini lives, and moving the settings to and from it.
#include "settings.h"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "ini_file.h"

namespace melvanto {

namespace {

constexpr const char* kDefaultsNotSaved = "the default settings are used and changes are not saved.";
// Below the configuration folder; the maker's name and then the product's, with a trailing slash.
constexpr const char* kSettingsSubfolder = "Quorvane/Melvanto/";

std::mutex ProgramFolderLock;
std::string ProgramFolderOverride;  // empty: the running executable's folder

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string WithoutSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string EnvOrEmpty(const char* name) {
  const char* value = ::getenv(name);
  return value ? std::string(value) : std::string();
}

// $HOME, else the passwd entry's home (a service started without HOME still has one).
std::string HomeFolder() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return WithoutSlash(home);
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
    return WithoutSlash(found->pw_dir);
  return {};
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Creates folder and every missing parent; 0 when it is a folder afterwards, else the errno
// of what went wrong.
int CreateFolders(const std::string& folder, mode_t mode) {
  const std::string path = WithoutSlash(folder);
  if (path.empty()) return ENOENT;
  for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = path.substr(0, at);
    if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return errno;
    if (at == std::string::npos) break;
  }
  return IsFolder(path) ? 0 : ENOTDIR;
}

std::string Reason(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// Where options.ini is, or why there is no place for it.
struct TSettingsPlace {
  std::string File;     // empty when the folder could not be made
  std::string Problem;  // for the user, when File is empty
};

// The per-user folder, made with its parents, and options.ini in it, seeded from the
// program's copy when missing. Never the program's own folder: an installed program's is
// "bin", and the settings of one user have no place there.
TSettingsPlace LocateSettings() {
  const std::string settings = SettingsFolder();
  const std::string folder = settings.empty() ? std::string() : settings + kSettingsSubfolder;
  if (folder.empty())
    return {{},
            "There is no settings folder (neither XDG_CONFIG_HOME nor a home folder is known); " +
                std::string(kDefaultsNotSaved)};
  if (const int error = CreateFolders(folder, 0700); error != 0)
    return {{},
            "The settings folder " + WithoutSlash(folder) + " cannot be made (" + Reason(error) + "); " +
                kDefaultsNotSaved};
  const std::string file = folder + "options.ini";
  // A dangling link reads as missing here; the copy then replaces the link, never its target.
  if (!Exists(file)) {
    const std::string program = ProgramFolder();
    for (const std::string& seed : {program + "options.ini", program + "../share/melvanto/options.ini"}) {
      std::string contents;
      if (!ReadFileUpTo(seed, kMaxIniFileBytes, contents)) continue;
      // A failed copy leaves no file, and the defaults apply.
      WriteFileAtomically(file, contents);
      break;
    }
  }
  return {file, {}};
}

// Why a settings file that is there could not be read.
std::string ReadProblem(const TReadResult& read) {
  return read.Status == TReadResult::rsTooLarge ? "it is larger than 1 MB"
                                                : "it cannot be read: " + Reason(read.Error);
}

// XDG_MUSIC_DIR from user-dirs.dirs ("$HOME/Music" or an absolute path), else ~/Music.
std::string MusicFolder() {
  const std::string home = HomeFolder();
  std::string text;
  if (ReadFileUpTo(SettingsFolder() + "user-dirs.dirs", kMaxIniFileBytes, text)) {
    std::size_t start = 0;
    while (start < text.size()) {
      auto eol = text.find('\n', start);
      if (eol == std::string::npos) eol = text.size();
      std::string_view line(text.data() + start, eol - start);
      start = eol + 1;
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
      constexpr std::string_view kKey = "XDG_MUSIC_DIR=";
      if (line.substr(0, kKey.size()) != kKey) continue;
      std::string value(line.substr(kKey.size()));
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
        value.pop_back();
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
      value = WithoutSlash(value);
      // A music folder set to home itself means "none" to the XDG tools.
      if (!value.empty() && value.front() == '/' && value != home) return value;
    }
  }
  return home + "/Music";
}

// Every key in the order of the file, both ways: saving writes the field, loading reads it
// with the default for a missing key.
void Transfer(TIniFile& ini, TOptionsSetting& s, bool saving) {
  const TOptionsSetting defaults;
  auto text = [&](const char* section, const char* key, std::string& field, const std::string& fallback) {
    if (saving)
      ini.WriteString(section, key, field);
    else
      field = ini.ReadString(section, key, fallback);
  };
  auto integer = [&](const char* section, const char* key, std::int32_t& field, std::int32_t fallback) {
    if (saving)
      ini.WriteInteger(section, key, field);
    else
      field = ini.ReadInteger(section, key, fallback);
  };
  auto boolean = [&](const char* section, const char* key, bool& field, bool fallback) {
    if (saving)
      ini.WriteBool(section, key, field);
    else
      field = ini.ReadBool(section, key, fallback);
  };

  TCommonOptions& c = s.CommonOptions;
  text("CommonOptions", "OutputFolder", c.OutputFolder, saving ? std::string() : DefaultOutputFolder());
  integer("CommonOptions", "OutputFormat", c.OutputFormat, defaults.CommonOptions.OutputFormat);
  boolean("CommonOptions", "SameAsInputFolder", c.SameAsInputFolder,
          defaults.CommonOptions.SameAsInputFolder);
  boolean("CommonOptions", "IsShowTagEditor", c.IsShowTagEditor, defaults.CommonOptions.IsShowTagEditor);
  boolean("CommonOptions", "IsSameTag", c.IsSameTag, defaults.CommonOptions.IsSameTag);
  integer("CommonOptions", "ParallelFiles", c.ParallelFiles, defaults.CommonOptions.ParallelFiles);
  // A hand-edited count outside what the window can run.
  if (!saving) c.ParallelFiles = std::clamp(c.ParallelFiles, 1, kMaxParallelFiles);
  boolean("Mp3Options", "IsSelectVBR", s.IsSelectVBR, defaults.IsSelectVBR);
  boolean("Mp3Options", "IsVBRHead", s.IsVBRHead, defaults.IsVBRHead);
  integer("Mp3Options", "BitRate", s.BitRate, defaults.BitRate);
  integer("Mp3Options", "MaxBitRate", s.MaxBitRate, defaults.MaxBitRate);
  integer("Mp3Options", "VBRQuality", s.VBRQuality, defaults.VBRQuality);
  integer("Mp3Options", "StereoMode", s.StereoMode, defaults.StereoMode);
  integer("Mp3Options", "CPU", s.CPU, defaults.CPU);
  integer("Mp3Options", "ConstantBitRate", s.ConstantBitRate, defaults.ConstantBitRate);
  boolean("Mp3Options", "BitReservoir", s.BitReservoir, defaults.BitReservoir);
  integer("WMAOptions", "CodecIndex", s.CodecIndex, defaults.CodecIndex);
  integer("WMAOptions", "FormatIndex", s.FormatIndex, defaults.FormatIndex);
  boolean("WMAOptions", "VBR", s.VBR, defaults.VBR);
}

}  // namespace

std::int32_t DefaultParallelFiles() {
  const auto cores = static_cast<std::int64_t>(std::thread::hardware_concurrency());
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(cores, 1, kMaxParallelFiles));
}

std::string SettingsFolder() {
  const std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
  // The XDG rules ignore a relative value.
  if (!config.empty() && config.front() == '/') return WithSlash(config);
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  return WithSlash(home + "/.config");
}

std::string ProgramFolder() {
  {
    std::lock_guard<std::mutex> lock(ProgramFolderLock);
    if (!ProgramFolderOverride.empty()) return ProgramFolderOverride;
  }
  std::string exe(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= exe.size()) return "./";
  exe.resize(static_cast<std::size_t>(n));
  return exe.substr(0, exe.find_last_of('/') + 1);
}

void SetProgramFolderForTesting(const std::string& folder) {
  std::lock_guard<std::mutex> lock(ProgramFolderLock);
  ProgramFolderOverride = WithSlash(folder);
}

std::string DefaultOutputFolder() {
  const std::string program = ProgramFolder();
  // A build tree is writable and keeps its output beside the program; an installed
  // program's folder (a "bin" folder, writable to root all the same) is not the place for
  // music, so the output goes with the user's.
  const bool installed = program.size() >= 5 && program.compare(program.size() - 5, 5, "/bin/") == 0;
  if (!installed && ::access(program.c_str(), W_OK) == 0) return program + "Output";
  return MusicFolder() + "/Melvanto";
}

std::string SettingsFileLocation() {
  const std::string settings = SettingsFolder();
  return settings.empty() ? std::string() : settings + kSettingsSubfolder + "options.ini";
}

std::string SettingsFilePath() {
  return LocateSettings().File;
}

TSettingsStatus LoadSettings(TOptionsSetting& settings) {
  const TSettingsPlace place = LocateSettings();
  TIniFile ini;
  TSettingsStatus status;
  if (place.File.empty()) {
    status = {false, true, place.Problem};
  } else if (const TReadResult read = ini.Load(place.File); !read && read.Status != TReadResult::rsMissing) {
    status = {false, false,
              "The settings file " + place.File + " was not read (" + ReadProblem(read) +
                  "); the default settings are used."};
  }
  // Whatever could not be read leaves every key at its default.
  Transfer(ini, settings, false);
  // A new user's first batch must not fail on a folder that nobody made yet.
  const std::string& output = settings.CommonOptions.OutputFolder;
  if (WithoutSlash(output) == DefaultOutputFolder() && !Exists(output)) CreateFolders(output, 0777);
  return status;
}

TSettingsStatus SaveSettings(const TOptionsSetting& settings) {
  const TSettingsPlace place = LocateSettings();
  if (place.File.empty()) return {false, true, place.Problem};
  TIniFile ini;
  // Written over what is there, so keys, sections and comments of others survive; a file that
  // is there but could not be read is not replaced by one without them.
  if (const TReadResult read = ini.Load(place.File); !read && read.Status != TReadResult::rsMissing)
    return {false, false,
            "The settings could not be saved to " + place.File + " (" + ReadProblem(read) + ")."};
  // Transfer goes both ways through one reference; saving only reads it.
  TOptionsSetting written = settings;
  Transfer(ini, written, true);
  if (!ini.SaveAtomically(place.File))
    return {false, false, "The settings could not be saved to " + place.File + "."};
  return {};
}

}  // namespace melvanto
