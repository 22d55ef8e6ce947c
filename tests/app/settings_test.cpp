// Settings: where options.ini lives, what a first start, a seed and a hand-edited file give,
// saving without loss, and the settings turned into output properties.

#include "settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "file_size_limit.h"
#include "id3.h"
#include "ini_file.h"
#include "settings_apply.h"
#include "temp_dir.h"
#include "text_file.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

// An INI reader of the test's own, so the written file is not judged by the code that wrote
// it: sections in order, each with its "key=value" lines in order.
using ParsedIni = std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>;
ParsedIni ParseIni(const std::string& text) {
  ParsedIni sections;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      sections.push_back({line.substr(1, line.size() - 2), {}});
    } else if (const auto eq = line.find('='); eq != std::string::npos && !sections.empty()) {
      sections.back().second.push_back({line.substr(0, eq), line.substr(eq + 1)});
    }
  }
  return sections;
}

class ScopedEnv {
 public:
  explicit ScopedEnv(const char* name) : name_(name) {
    if (const char* v = ::getenv(name)) old_ = v;
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  void Set(const std::string& value) { ::setenv(name_, value.c_str(), 1); }
  void Unset() { ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Each test gets its own home, configuration folder and program folder, and records of its own.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    home_.Set(root_.String() + "/home");
    config_.Set(root_.String() + "/config");
    fs::create_directories(root_ / "home");
    fs::create_directories(root_ / "program");
    SetProgramFolderForTesting(Program().string());
  }
  void TearDown() override { SetProgramFolderForTesting(""); }

  fs::path Program() const { return root_ / "program"; }
  fs::path UserFolder() const { return root_ / "config" / "Quorvane" / "Melvanto"; }
  fs::path UserFile() const { return UserFolder() / "options.ini"; }

  TempDir root_;
  ScopedEnv home_{"HOME"};
  ScopedEnv config_{"XDG_CONFIG_HOME"};
  TOptionsSetting OptionsSetting;
  TTagInfo TagInfo;
};

const ParsedIni kDefaultFile = {
    {"CommonOptions",
     {{"OutputFolder", ""},  // filled in by the test
      {"OutputFormat", "0"},
      {"SameAsInputFolder", "0"},
      {"IsShowTagEditor", "1"},
      {"IsSameTag", "0"},
      {"ParallelFiles", std::to_string(DefaultParallelFiles())}}},
    {"Mp3Options",
     {{"IsSelectVBR", "0"},
      {"IsVBRHead", "0"},
      {"BitRate", "128"},
      {"MaxBitRate", "320"},
      {"VBRQuality", "4"},
      {"StereoMode", "1"},
      {"CPU", "3"},
      {"ConstantBitRate", "5"},
      {"BitReservoir", "1"}}},
    {"WMAOptions", {{"CodecIndex", "-1"}, {"FormatIndex", "-1"}, {"VBR", "0"}}},
};

TEST_F(Settings, FirstStartCreatesTheFolderAndSavesEveryDefault) {
  EXPECT_EQ(SettingsFilePath(), UserFile().string());
  EXPECT_TRUE(fs::is_directory(UserFolder()));
  EXPECT_FALSE(fs::exists(UserFile())) << "finding the place writes nothing";

  OptionsSetting.BitRate = 999;  // whatever was in memory, a load replaces it
  LoadSettings(OptionsSetting);
  const std::string output = (Program() / "Output").string();
  EXPECT_EQ(DefaultOutputFolder(), output);
  TOptionsSetting expected;
  expected.CommonOptions.OutputFolder = output;
  const TOptionsSetting& s = OptionsSetting;
  EXPECT_EQ(s.CommonOptions.OutputFolder, output);
  EXPECT_EQ(s.BitRate, expected.BitRate);
  EXPECT_EQ(s.CodecIndex, -1);
  EXPECT_TRUE(s.CommonOptions.IsShowTagEditor);
  EXPECT_TRUE(fs::is_directory(output)) << "the first batch needs its output folder";

  ASSERT_TRUE(SaveSettings(OptionsSetting));
  ParsedIni want = kDefaultFile;
  want[0].second[0].second = output;
  EXPECT_EQ(ParseIni(ReadText(UserFile())), want);
}

TEST_F(Settings, SettingsFolderFollowsTheXdgRules) {
  EXPECT_EQ(SettingsFolder(), root_.String() + "/config/");
  config_.Set(root_.String() + "/config///");
  EXPECT_EQ(SettingsFolder().back(), '/');
  config_.Set("relative/config");  // ignored, as the XDG rules say
  EXPECT_EQ(SettingsFolder(), root_.String() + "/home/.config/");
  config_.Unset();
  EXPECT_EQ(SettingsFolder(), root_.String() + "/home/.config/");
  home_.Unset();
  const std::string fromPasswd = SettingsFolder();
  EXPECT_EQ(fromPasswd.front(), '/');
  EXPECT_NE(fromPasswd.find("/.config/"), std::string::npos) << fromPasswd;

  // The real program folder is the test program's own.
  SetProgramFolderForTesting("");
  EXPECT_TRUE(fs::is_regular_file(ProgramFolder() + "app_tests")) << ProgramFolder();
}

TEST_F(Settings, SeedBesideTheProgramIsCopiedOnceThenUsed) {
  WriteText(Program() / "options.ini", "; shipped\n[Mp3Options]\nBitRate=192\n[Extra]\nKept=yes\n");
  LoadSettings(OptionsSetting);
  EXPECT_EQ(OptionsSetting.BitRate, 192);
  EXPECT_EQ(OptionsSetting.MaxBitRate, 320) << "keys the seed lacks keep their defaults";
  EXPECT_EQ(ReadText(UserFile()), ReadText(Program() / "options.ini")) << "copied byte for byte";

  // Later changes to the seed are not picked up: the user's own file now rules.
  WriteText(Program() / "options.ini", "[Mp3Options]\nBitRate=64\n");
  LoadSettings(OptionsSetting);
  EXPECT_EQ(OptionsSetting.BitRate, 192);
  OptionsSetting.BitRate = 256;
  ASSERT_TRUE(SaveSettings(OptionsSetting));
  LoadSettings(OptionsSetting);
  EXPECT_EQ(OptionsSetting.BitRate, 256);
  const std::string saved = ReadText(UserFile());
  EXPECT_NE(saved.find("; shipped"), std::string::npos);
  EXPECT_NE(saved.find("Kept=yes"), std::string::npos);
  EXPECT_EQ(ReadText(Program() / "options.ini"), "[Mp3Options]\nBitRate=64\n") << "the seed is never written";
}

TEST_F(Settings, SeedOfAnInstalledProgramComesFromItsShareFolder) {
  const fs::path prefix = root_ / "usr";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "share" / "melvanto");
  SetProgramFolderForTesting((prefix / "bin").string());
  WriteText(prefix / "share" / "melvanto" / "options.ini", "[WMAOptions]\nCodecIndex=1\n");
  LoadSettings(OptionsSetting);
  EXPECT_EQ(OptionsSetting.CodecIndex, 1);
  EXPECT_EQ(ReadText(UserFile()), "[WMAOptions]\nCodecIndex=1\n");

  // One beside the program wins over the shared one.
  fs::remove(UserFile());
  WriteText(prefix / "bin" / "options.ini", "[WMAOptions]\nCodecIndex=0\n");
  LoadSettings(OptionsSetting);
  EXPECT_EQ(OptionsSetting.CodecIndex, 0);
}

TEST_F(Settings, EveryValueReadsBackAsSaved) {
  TOptionsSetting& s = OptionsSetting;
  s.CommonOptions.OutputFolder = root_.String() + "/ Müsik mit Leerzeichen/Ausgabe ♪ ";
  s.CommonOptions.OutputFormat = 7;
  s.CommonOptions.SameAsInputFolder = true;
  s.CommonOptions.IsShowTagEditor = false;
  s.CommonOptions.IsSameTag = true;
  s.CommonOptions.ParallelFiles = kMaxParallelFiles - 1;
  s.IsSelectVBR = true;
  s.IsVBRHead = true;
  s.BitRate = 144;
  s.MaxBitRate = 999;  // no range check either way
  s.VBRQuality = 12;
  s.StereoMode = 3;
  s.CPU = -4;
  s.ConstantBitRate = 0;
  s.BitReservoir = false;
  s.CodecIndex = -7;
  s.FormatIndex = 2147483647;
  s.VBR = true;
  const TOptionsSetting saved = s;
  ASSERT_TRUE(SaveSettings(OptionsSetting));

  s = TOptionsSetting();
  LoadSettings(OptionsSetting);
  EXPECT_EQ(s.CommonOptions.OutputFolder, saved.CommonOptions.OutputFolder);
  EXPECT_FALSE(fs::exists(saved.CommonOptions.OutputFolder)) << "only the default folder is made";
  EXPECT_EQ(s.CommonOptions.OutputFormat, 7);
  EXPECT_TRUE(s.CommonOptions.SameAsInputFolder);
  EXPECT_FALSE(s.CommonOptions.IsShowTagEditor);
  EXPECT_TRUE(s.CommonOptions.IsSameTag);
  EXPECT_EQ(s.CommonOptions.ParallelFiles, kMaxParallelFiles - 1);
  EXPECT_TRUE(s.IsSelectVBR);
  EXPECT_TRUE(s.IsVBRHead);
  EXPECT_EQ(s.BitRate, 144);
  EXPECT_EQ(s.MaxBitRate, 999);
  EXPECT_EQ(s.VBRQuality, 12);
  EXPECT_EQ(s.StereoMode, 3);
  EXPECT_EQ(s.CPU, -4);
  EXPECT_EQ(s.ConstantBitRate, 0);
  EXPECT_FALSE(s.BitReservoir);
  EXPECT_EQ(s.CodecIndex, -7);
  EXPECT_EQ(s.FormatIndex, 2147483647);
  EXPECT_TRUE(s.VBR);

  // Booleans as 1/0 and integers in decimal, whatever was read before.
  const ParsedIni file = ParseIni(ReadText(UserFile()));
  ASSERT_EQ(file.size(), 3u);
  EXPECT_EQ(file[0].second[2], (std::pair<std::string, std::string>{"SameAsInputFolder", "1"}));
  EXPECT_EQ(file[2].second[0], (std::pair<std::string, std::string>{"CodecIndex", "-7"}));
}

// The count of files converted at once: an older file without the key gets one per core,
// and a hand-edited count the window could not run is brought into 1..kMaxParallelFiles.
TEST_F(Settings, ParallelFilesDefaultsToTheCoresAndIsClampedOnLoad) {
  EXPECT_GE(DefaultParallelFiles(), 1);
  EXPECT_LE(DefaultParallelFiles(), kMaxParallelFiles);
  fs::create_directories(UserFolder());
  const struct {
    const char* line;
    std::int32_t loaded;
  } cases[] = {{"", DefaultParallelFiles()},
               {"ParallelFiles=1\n", 1},
               {"ParallelFiles=0\n", 1},
               {"ParallelFiles=-3\n", 1},
               {"ParallelFiles=65\n", kMaxParallelFiles},
               {"ParallelFiles=2147483647\n", kMaxParallelFiles},
               {"ParallelFiles=lots\n", DefaultParallelFiles()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    WriteText(UserFile(), std::string("[CommonOptions]\nIsSameTag=1\n") + c.line);
    OptionsSetting.CommonOptions.ParallelFiles = 7;  // a load replaces it
    LoadSettings(OptionsSetting);
    EXPECT_EQ(OptionsSetting.CommonOptions.ParallelFiles, c.loaded);
    EXPECT_TRUE(OptionsSetting.CommonOptions.IsSameTag);
  }
}

TEST_F(Settings, HandEditedValuesThatAreNoNumbersGiveDefaults) {
  fs::create_directories(UserFolder());
  WriteText(UserFile(),
            "[commonoptions]\n"
            "OutputFolder=\n"
            "OutputFormat=abc\n"
            "IsShowTagEditor=\n"
            "IsSameTag=2\n"
            "SameAsInputFolder=-1\n"
            "[Mp3Options]\n"
            "BitRate=12abc\n"
            "MaxBitRate= 160 \n"
            "CPU=99999999999\n"
            "StereoMode=+2\n"
            "IsSelectVBR=true\n"
            "[WMAOptions]\n"
            "VBR=0x1\n");
  OptionsSetting.BitReservoir = false;  // a load replaces it too
  LoadSettings(OptionsSetting);
  const TOptionsSetting& s = OptionsSetting;
  EXPECT_EQ(s.CommonOptions.OutputFolder, "") << "a present key is taken as read";
  EXPECT_EQ(s.CommonOptions.OutputFormat, 0);
  EXPECT_TRUE(s.CommonOptions.IsShowTagEditor) << "empty: the default";
  EXPECT_TRUE(s.CommonOptions.IsSameTag) << "non-zero is true";
  EXPECT_TRUE(s.CommonOptions.SameAsInputFolder);
  EXPECT_EQ(s.BitRate, 128);
  EXPECT_EQ(s.MaxBitRate, 160);
  EXPECT_EQ(s.CPU, 3);
  EXPECT_EQ(s.StereoMode, 2);
  EXPECT_FALSE(s.IsSelectVBR);
  EXPECT_FALSE(s.VBR);
  EXPECT_EQ(s.VBRQuality, 4) << "missing";
  EXPECT_TRUE(s.BitReservoir) << "missing, as in the files of older versions: on";
  EXPECT_FALSE(fs::exists(Program() / "Output")) << "not the folder in use";
}

TEST_F(Settings, UnreadableFileGivesEveryDefaultAndIsReported) {
  fs::create_directories(UserFile());  // a folder where the file should be
  OptionsSetting.CPU = 0;
  OptionsSetting.CommonOptions.IsShowTagEditor = false;
  const TSettingsStatus loaded = LoadSettings(OptionsSetting);
  EXPECT_FALSE(loaded.Ok);
  EXPECT_FALSE(loaded.NoFolder);
  EXPECT_NE(loaded.Message.find(UserFile().string()), std::string::npos) << loaded.Message;
  EXPECT_NE(loaded.Message.find("default settings are used"), std::string::npos) << loaded.Message;
  EXPECT_EQ(OptionsSetting.CPU, 3);
  EXPECT_TRUE(OptionsSetting.CommonOptions.IsShowTagEditor);
  EXPECT_EQ(OptionsSetting.CommonOptions.OutputFolder, (Program() / "Output").string());

  // Unreadable by permission (root reads everything, so only for others).
  if (::geteuid() != 0) {
    fs::remove(UserFile());
    WriteText(UserFile(), "[Mp3Options]\nCPU=1\n");
    fs::permissions(UserFile(), fs::perms::none);
    const TSettingsStatus denied = LoadSettings(OptionsSetting);
    EXPECT_FALSE(denied.Ok);
    EXPECT_NE(denied.Message.find("cannot be read"), std::string::npos) << denied.Message;
    EXPECT_EQ(OptionsSetting.CPU, 3);
  }
}

TEST_F(Settings, FileOverAMegabyteIsRefusedWithTheDefaults_NotOverwritten) {
  fs::create_directories(UserFolder());
  WriteText(UserFile(), "[Mp3Options]\nCPU=1\n;");
  fs::resize_file(UserFile(), 1024 * 1024);  // sparse: the comment runs to the end
  TSettingsStatus loaded = LoadSettings(OptionsSetting);
  EXPECT_TRUE(loaded.Ok) << loaded.Message;
  EXPECT_EQ(loaded.Message, "");
  EXPECT_EQ(OptionsSetting.CPU, 1) << "exactly a megabyte is read";

  fs::resize_file(UserFile(), 1024 * 1024 + 1);
  loaded = LoadSettings(OptionsSetting);
  EXPECT_FALSE(loaded.Ok);
  EXPECT_NE(loaded.Message.find(UserFile().string()), std::string::npos) << loaded.Message;
  EXPECT_NE(loaded.Message.find("larger than 1 MB"), std::string::npos) << loaded.Message;
  EXPECT_NE(loaded.Message.find("default settings are used"), std::string::npos) << loaded.Message;
  EXPECT_EQ(OptionsSetting.CPU, 3);
  // Saving would put a file of the defaults alone in place of the user's.
  const TSettingsStatus saved = SaveSettings(OptionsSetting);
  EXPECT_FALSE(saved.Ok);
  EXPECT_NE(saved.Message.find("could not be saved"), std::string::npos) << saved.Message;
  EXPECT_EQ(fs::file_size(UserFile()), 1024u * 1024u + 1u);
}

TEST_F(Settings, UncreatableSettingsFolderUsesTheDefaultsAndWritesNothingBesideTheProgram) {
  WriteText(Program() / "options.ini", "[Mp3Options]\nCPU=1\n");  // a seed: copied only into a user's folder
  WriteText(root_ / "plain-file", "");
  config_.Set((root_ / "plain-file" / "config").string());
  EXPECT_EQ(SettingsFilePath(), "");
  OptionsSetting.CPU = 2;
  const TSettingsStatus loaded = LoadSettings(OptionsSetting);
  EXPECT_FALSE(loaded.Ok);
  EXPECT_TRUE(loaded.NoFolder);
  EXPECT_NE(loaded.Message.find((root_ / "plain-file" / "config" / "Quorvane" / "Melvanto").string()),
            std::string::npos)
      << loaded.Message;
  EXPECT_NE(loaded.Message.find("default settings are used"), std::string::npos) << loaded.Message;
  EXPECT_EQ(OptionsSetting.CPU, 3);

  OptionsSetting.CPU = 0;
  const TSettingsStatus saved = SaveSettings(OptionsSetting);
  EXPECT_FALSE(saved.Ok);
  EXPECT_TRUE(saved.NoFolder) << "a caller told at load has nothing new to say";
  std::vector<std::string> names;
  // (The Output folder there is the default output of a build tree, made at load.)
  for (const auto& entry : fs::directory_iterator(Program()))
    if (!entry.is_directory()) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"options.ini"});
  EXPECT_EQ(ReadText(Program() / "options.ini"), "[Mp3Options]\nCPU=1\n");

  // With the folder there again, the program's file seeds the per-user one.
  config_.Set((root_ / "config").string());
  EXPECT_TRUE(LoadSettings(OptionsSetting).Ok);
  EXPECT_EQ(OptionsSetting.CPU, 1);
  EXPECT_TRUE(fs::is_regular_file(UserFile()));
}

// A link at options.ini's place, dangling or not, is replaced by a regular file in the folder
// when seeding and saving; nothing is written where it points.
TEST_F(Settings, ALinkInTheFilesPlaceIsReplacedNeverFollowed) {
  WriteText(Program() / "options.ini", "[Mp3Options]\nCPU=1\n");
  fs::create_directories(UserFolder());
  fs::create_directories(root_ / "outside");
  const fs::path away = root_ / "outside" / "options.ini";
  fs::create_symlink(away, UserFile());
  EXPECT_TRUE(LoadSettings(OptionsSetting).Ok);
  EXPECT_EQ(OptionsSetting.CPU, 1) << "seeded";
  EXPECT_FALSE(fs::exists(fs::symlink_status(away)));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(UserFile())));

  fs::remove(UserFile());
  fs::create_symlink(away, UserFile());
  fs::remove(Program() / "options.ini");
  OptionsSetting.CPU = 0;
  EXPECT_TRUE(SaveSettings(OptionsSetting).Ok);
  EXPECT_FALSE(fs::exists(fs::symlink_status(away)));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(UserFile())));
  EXPECT_NE(ReadText(UserFile()).find("CPU=0\n"), std::string::npos);

  // A link to a file outside: read through, then replaced; that file keeps its bytes.
  const std::string theirs = "[Mp3Options]\nCPU=2\n; kept elsewhere\n";
  WriteText(away, theirs);
  fs::remove(UserFile());
  fs::create_symlink(away, UserFile());
  EXPECT_TRUE(LoadSettings(OptionsSetting).Ok);
  EXPECT_EQ(OptionsSetting.CPU, 2);
  OptionsSetting.CPU = 0;
  EXPECT_TRUE(SaveSettings(OptionsSetting).Ok);
  EXPECT_EQ(ReadText(away), theirs);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(UserFile())));
  EXPECT_NE(ReadText(UserFile()).find("CPU=0\n; kept elsewhere\n"), std::string::npos)
      << ReadText(UserFile());
}

TEST_F(Settings, SaveKeepsForeignKeysAndComments) {
  fs::create_directories(UserFolder());
  WriteText(UserFile(),
            "# written by hand\n"
            "[Mp3Options]\n"
            "; the encoder's speed\n"
            "CPU=2\n"
            "Future=keep\n"
            "\n"
            "[Window]\n"
            "Left=10\n");
  LoadSettings(OptionsSetting);
  OptionsSetting.CPU = 0;
  ASSERT_TRUE(SaveSettings(OptionsSetting));
  const std::string text = ReadText(UserFile());
  EXPECT_EQ(text.rfind("# written by hand\n[Mp3Options]\n; the encoder's speed\nCPU=0\nFuture=keep\n", 0), 0u)
      << text;
  const ParsedIni file = ParseIni(text);
  ASSERT_EQ(file.size(), 4u);
  EXPECT_EQ(file[1].first, "Window");
  EXPECT_EQ(file[1].second, (std::vector<std::pair<std::string, std::string>>{{"Left", "10"}}));
  std::size_t keys = 0;
  for (const auto& [name, entries] : file) keys += entries.size();
  EXPECT_EQ(keys, 18u + 2u);
}

TEST_F(Settings, FailedSaveReturnsFalseAndKeepsTheOldFile) {
  ASSERT_TRUE(SaveSettings(OptionsSetting));
  const std::string before = ReadText(UserFile());
  OptionsSetting.CPU = 0;
  {
    const FileSizeLimit limit(50);  // the new file cannot be written whole
    EXPECT_FALSE(SaveSettings(OptionsSetting));
  }
  EXPECT_EQ(ReadText(UserFile()), before);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(UserFolder()))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"options.ini"}) << "no temporary file left";

  fs::remove(UserFile());
  fs::create_directory(UserFile());
  EXPECT_FALSE(SaveSettings(OptionsSetting)) << "a folder in the file's place";
  EXPECT_TRUE(fs::is_directory(UserFile()));
}

TEST_F(Settings, DefaultOutputFolderOfAnInstalledProgramIsInTheMusicFolder) {
  // A program folder the user cannot write to (here: one that does not exist).
  SetProgramFolderForTesting((root_ / "read-only").string());
  EXPECT_EQ(DefaultOutputFolder(), root_.String() + "/home/Music/Melvanto");
  // An installed program's folder, even where this user (root) may write to it.
  fs::create_directories(root_ / "usr" / "bin");
  SetProgramFolderForTesting((root_ / "usr" / "bin").string());
  EXPECT_EQ(DefaultOutputFolder(), root_.String() + "/home/Music/Melvanto");

  fs::create_directories(root_ / "config");
  WriteText(root_ / "config" / "user-dirs.dirs",
            "# written by xdg-user-dirs-update\n"
            "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
            "XDG_MUSIC_DIR=\"$HOME/Klänge/\"\n");
  EXPECT_EQ(DefaultOutputFolder(), root_.String() + "/home/Klänge/Melvanto");
  WriteText(root_ / "config" / "user-dirs.dirs", "XDG_MUSIC_DIR=\"/srv/music\"\n");
  EXPECT_EQ(DefaultOutputFolder(), "/srv/music/Melvanto");
  WriteText(root_ / "config" / "user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/\"\n");
  EXPECT_EQ(DefaultOutputFolder(), root_.String() + "/home/Music/Melvanto") << "home itself means none";

  // The default is made at load, with its parents, so the first batch does not fail on it.
  fs::remove(root_ / "config" / "user-dirs.dirs");
  LoadSettings(OptionsSetting);
  EXPECT_EQ(OptionsSetting.CommonOptions.OutputFolder, root_.String() + "/home/Music/Melvanto");
  EXPECT_TRUE(fs::is_directory(root_ / "home" / "Music" / "Melvanto"));
}

TEST_F(Settings, Mp3OutputTakesTheSettings) {
  TOptionsSetting& s = OptionsSetting;
  TMP3Out out;
  s.CPU = 3;
  ApplyMP3Settings(out, s);
  EXPECT_EQ(out.Delay(), 1u) << "below the worker's pause threshold";
  EXPECT_FALSE(out.EnableVBR());
  EXPECT_EQ(out.Mode(), TMP3Mode::mmJointStereo);
  EXPECT_EQ(out.BitRate(), TMP3BitRate::mbr128) << "constant index 5";
  EXPECT_EQ(out.MaximumBitrate(), TMP3BitRate::mbr320);
  EXPECT_EQ(out.VBRQuality(), TMP3Quality::mp3ql4);
  EXPECT_TRUE(out.EnableBitReservoir());
  s.BitReservoir = false;
  ApplyMP3Settings(out, s);
  EXPECT_FALSE(out.EnableBitReservoir());
  s.BitReservoir = true;
  ApplyMP3Settings(out, s);
  EXPECT_TRUE(out.EnableBitReservoir()) << "taken both ways, not only switched off";

  s.CPU = 0;
  s.ConstantBitRate = 8;
  s.StereoMode = 3;
  s.MaxBitRate = 144;  // not offered by the dialog, still in the table
  s.VBRQuality = 9;
  ApplyMP3Settings(out, s);
  EXPECT_EQ(out.Delay(), 16u);
  EXPECT_EQ(out.BitRate(), TMP3BitRate::mbr320);
  EXPECT_EQ(out.Mode(), TMP3Mode::mmMono);
  EXPECT_EQ(out.MaximumBitrate(), TMP3BitRate::mbr144);
  EXPECT_EQ(out.VBRQuality(), TMP3Quality::mp3ql9);

  // A CPU value past 3 gives a negative delay, which the output ignores; the extremes a
  // hand-edited file can hold must not overflow on the way.
  s.CPU = -16;
  ApplyMP3Settings(out, s);
  EXPECT_EQ(out.Delay(), 96u);
  for (const std::int32_t cpu : {4, 2147483647, -2147483647 - 1, 429496733}) {
    s.CPU = cpu;
    ApplyMP3Settings(out, s);
    EXPECT_EQ(out.Delay(), 96u) << cpu;
  }
  s.CPU = 0;

  // Out-of-range values leave the properties as they were.
  s.ConstantBitRate = 9;
  s.VBRQuality = 10;
  s.MaxBitRate = 999;
  ApplyMP3Settings(out, s);
  EXPECT_EQ(out.BitRate(), TMP3BitRate::mbr320);
  EXPECT_EQ(out.VBRQuality(), TMP3Quality::mp3ql9);
  EXPECT_EQ(out.MaximumBitrate(), TMP3BitRate::mbrAuto) << "an unknown rate is automatic";
  s.ConstantBitRate = -1;
  s.VBRQuality = -1;
  ApplyMP3Settings(out, s);
  EXPECT_EQ(out.BitRate(), TMP3BitRate::mbr320);
  EXPECT_EQ(out.VBRQuality(), TMP3Quality::mp3ql9);

  // With VBR the minimum comes from BitRate through the table, not from the index.
  s.IsSelectVBR = true;
  s.ConstantBitRate = 0;
  s.BitRate = 40;
  ApplyMP3Settings(out, s);
  EXPECT_TRUE(out.EnableVBR());
  EXPECT_EQ(out.BitRate(), TMP3BitRate::mbr40);
  s.BitRate = 100;
  ApplyMP3Settings(out, s);
  EXPECT_EQ(out.BitRate(), TMP3BitRate::mbrAuto);

  EXPECT_EQ(MP3BitRateFromKbps(32), TMP3BitRate::mbr32);
  EXPECT_EQ(MP3BitRateFromKbps(224), TMP3BitRate::mbr224);
  EXPECT_EQ(MP3BitRateFromKbps(0), TMP3BitRate::mbrAuto);
  EXPECT_EQ(MP3BitRateFromKbps(-128), TMP3BitRate::mbrAuto);
  // Every rate the command line and the settings name is the encoder's rate of that value.
  for (const std::int32_t kbps : kMP3BitRates)
    EXPECT_EQ(BitRateKbps(MP3BitRateFromKbps(kbps)), static_cast<std::uint32_t>(kbps)) << kbps;
  EXPECT_EQ(MP3BitRateFromKbps(33), TMP3BitRate::mbrAuto);
}

TEST_F(Settings, WmaOutputTakesTheSettingsAndTheBatchTags) {
  TOptionsSetting& s = OptionsSetting;
  s.VBR = true;
  s.CodecIndex = 1;
  s.FormatIndex = 3;
  TWMAOut out;
  out.SetFileName("/music/out/Track Name.v2.wma");
  TagInfo.Title = u"Batch title";
  TagInfo.Artist = u"Künstler";
  TagInfo.Year = u"1999";
  TagInfo.Genre = GenreIndex(u"acid jazz");
  TagInfo.Track = u"4";

  ApplyWMASettings(out, s, TagInfo);
  EXPECT_TRUE(out.VBR());
  EXPECT_EQ(out.CodecIndex(), 1);
  EXPECT_EQ(out.FormatIndex(), 3);
  TId3v2Tags& tags = *out.Id3v2Tags();
  EXPECT_EQ(tags.Title(), u"Batch title");
  EXPECT_EQ(tags.Artist(), u"Künstler");
  EXPECT_EQ(tags.Year(), "1999");
  EXPECT_EQ(tags.Genre(), u"Acid Jazz");
  EXPECT_EQ(tags.Track(), "4");

  // Empty batch values leave what the container holds; genre 0 (the empty entry) sets none.
  tags.Clear();
  tags.SetAlbum(u"From the source");
  tags.SetGenre(u"Blues");
  TagInfo.Clear();
  TagInfo.Genre = 0;
  ApplyWMASettings(out, s, TagInfo);
  EXPECT_EQ(tags.Title(), u"Track Name.v2") << "the output's name without folder and extension";
  EXPECT_EQ(tags.Album(), u"From the source");
  EXPECT_EQ(tags.Genre(), u"Blues");

  // With the tag editor off only the title default reaches the output.
  tags.Clear();
  s.CommonOptions.IsShowTagEditor = false;
  s.CommonOptions.IsSameTag = true;
  TagInfo.Title = u"Not used";
  TagInfo.Artist = u"Not used";
  ApplyWMASettings(out, s, TagInfo);
  EXPECT_EQ(tags.Title(), u"Track Name.v2");
  EXPECT_EQ(tags.Artist(), u"");
}

TEST(SettingsGenre, IndexIgnoresCase) {
  EXPECT_EQ(GenreIndex(u""), 0);
  EXPECT_EQ(GenreIndex(u"A Capella"), 1);
  EXPECT_EQ(GenreIndex(u"bRITpOP"), GenreIndex(u"BritPop"));
  EXPECT_EQ(kDisplayGenres[static_cast<std::size_t>(GenreIndex(u"drum & base"))], "Drum & Base");
  EXPECT_EQ(GenreIndex(u"Polka Metal"), -1);
  EXPECT_EQ(GenreIndex(u"Britpop "), -1) << "no trimming";
  EXPECT_EQ(GenreIndex(u"Bl\u00FCes"), -1);
}

}  // namespace
}  // namespace melvanto::testing
