// The command line's parsing, its effect on the settings, and the summary arithmetic,
// in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_args.h"
#include "convert_options.h"
#include "help_text.h"
#include "json_text.h"
#include "settings.h"
#include "summary.h"
#include "terminal_view.h"

namespace melvanto::testing {
namespace {

using cli::ParseConvertArgs;
using cli::TConvertRequest;
using cli::TUsageError;

TConvertRequest Parse(std::vector<std::string> args) {
  return ParseConvertArgs(args);
}

// The usage error's message for args; empty when they parse.
std::string UsageError(std::vector<std::string> args) {
  try {
    ParseConvertArgs(args);
  } catch (const TUsageError& e) {
    return e.what();
  }
  return {};
}

TEST(CliDirection, NamesAndNumbersMapToTheModes) {
  EXPECT_EQ(cli::ParseDirection("wav-mp3"), TConversionMode::cmWavToMp3);
  EXPECT_EQ(cli::ParseDirection("wma-mp3"), TConversionMode::cmWmaToMp3);
  EXPECT_EQ(cli::ParseDirection("wav-wav"), TConversionMode::cmWavToWav);
  EXPECT_EQ(cli::ParseDirection("9"), TConversionMode::cmMp3ToWma);
  EXPECT_EQ(cli::ParseDirection("11"), TConversionMode::cmWavToWav);
  for (const char* bad : {"", "3", "0", "-2", "wav", "WAV-MP3", "mp3-mp3", "2x", " 2"})
    EXPECT_FALSE(cli::ParseDirection(bad).has_value()) << bad;
  for (const auto mode :
       {TConversionMode::cmWavToWma, TConversionMode::cmMp3ToWav, TConversionMode::cmWavToWav})
    EXPECT_EQ(cli::ParseDirection(DirectionName(mode)), mode);
}

TEST(CliConvertArgs, UsageTextListsWhatTheParserTakes) {
  const std::string help = cli::ConvertHelp();
  for (const char* placeholder : {"{directions}", "{numbers}", "{cbr}", "{modes}"})
    EXPECT_EQ(help.find(placeholder), std::string::npos) << help;
  EXPECT_NE(help.find("DIRECTION: wav-mp3 wav-wma mp3-wav wma-wav mp3-wma wma-mp3 wav-wav\n"), std::string::npos);
  EXPECT_NE(help.find("(or their numbers 2 4 7 8 9 10 11)"), std::string::npos);
  EXPECT_NE(help.find("constant bit rate: 48 56 64 80 96 128 192 256 320\n"), std::string::npos);
  EXPECT_NE(help.find("--mp3-mode MODE      stereo, joint, dual or mono\n"), std::string::npos);
  EXPECT_NE(help.find("--mp3-no-reservoir"), std::string::npos);
  // Every name the help shows is one the parser takes.
  for (const TConversionMode mode : ConversionModes()) {
    EXPECT_EQ(cli::ParseDirection(DirectionName(mode)), mode);
    EXPECT_EQ(cli::ParseDirection(std::to_string(static_cast<int>(mode))), mode);
  }
  for (const std::int32_t kbps : kConstantBitRates)
    EXPECT_TRUE(Parse({"wav-mp3", "--mp3-cbr", std::to_string(kbps), "a.wav"}).Mp3ConstantIndex);
  EXPECT_EQ(UsageError({"wav-mp3", "--mp3-max", "100", "a.wav"}),
            "--mp3-max: 100 is not one of 32 40 48 56 64 80 96 112 128 144 160 192 224 256 320");
}

// The lines of text longer than 80 columns (all ASCII: bytes are columns).
std::vector<std::string> LongLines(const std::string& text) {
  std::vector<std::string> longLines;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    if (end - start > 80) longLines.push_back(text.substr(start, end - start));
  }
  return longLines;
}

TEST(CliHelp, EveryHelpTextFitsEightyColumns) {
  for (const std::string& help : {cli::ConvertHelp(), std::string(cli::kInfoHelp),
                                  std::string(cli::kCodecsHelp), std::string(cli::kGenresHelp)})
    EXPECT_EQ(LongLines(help), std::vector<std::string>{}) << help;
}

TEST(CliProgramHelp, FitsEightyColumnsAndEndsWithWhereThingsAreAndExamples) {
  const std::string help = cli::ProgramHelp();
  EXPECT_EQ(help.find('{'), std::string::npos) << help;
  for (const std::string& line : LongLines(help)) {
    // The two paths are the user's own and may be long.
    EXPECT_TRUE(line.starts_with("settings file: ") || line.starts_with("default output folder: ")) << line;
  }
  EXPECT_NE(help.find("settings file: " + SettingsFileLocation() + "\n"), std::string::npos) << help;
  EXPECT_NE(help.find("default output folder: " + DefaultOutputFolder() + "\n"), std::string::npos) << help;
  const std::size_t examples = help.find("\nexamples:\n");
  ASSERT_NE(examples, std::string::npos);
  EXPECT_EQ(help.find("\n\n", examples + 1), std::string::npos) << "the examples end the text";
}

TEST(CliConvertArgs, OptionsAndFilesInAnyOrder) {
  const auto r = Parse({"wav-mp3", "a.wav", "-o", "/out", "--mp3-cbr", "192", "b.wav", "-j", "3", "-q",
                        "--no-overwrite", "--", "-c.wav"});
  EXPECT_EQ(r.Files, (std::vector<std::string>{"a.wav", "b.wav", "-c.wav"}));
  EXPECT_EQ(r.OutputFolder, "/out");
  EXPECT_EQ(r.Mp3ConstantIndex, 6);
  EXPECT_EQ(r.Jobs, 3);
  EXPECT_TRUE(r.Quiet);
  EXPECT_EQ(r.Overwrite, cli::TOverwritePolicy::Never);
  EXPECT_TRUE(Parse({"wav-mp3", "a.wav", "--help"}).Help);
  EXPECT_TRUE(Parse({"--help"}).Help);
  // A long option's value may be attached with '=', and may itself hold one.
  const auto attached = Parse({"wav-mp3", "--output=/o=ut", "--mp3-cbr=192", "--title=", "a.wav"});
  EXPECT_EQ(attached.OutputFolder, "/o=ut");
  EXPECT_EQ(attached.Mp3ConstantIndex, 6);
  EXPECT_EQ(attached.Title, "");
  EXPECT_EQ(attached.Files, (std::vector<std::string>{"a.wav"}));
  EXPECT_EQ(Parse({"wav-mp3", "--", "--x=y"}).Files, (std::vector<std::string>{"--x=y"}));

  // --portable-names before or after the pattern it is for.
  for (const auto& args : {std::vector<std::string>{"wav-mp3", "--portable-names", "--name", "{title}", "a"},
                           std::vector<std::string>{"wav-mp3", "--name={title}", "a", "--portable-names"}}) {
    const auto named = Parse(args);
    ASSERT_TRUE(named.Name);
    EXPECT_TRUE(named.Name->Portable);
  }
  EXPECT_FALSE(Parse({"wav-mp3", "--name", "{title}", "a"}).Name->Portable);
  EXPECT_TRUE(Parse({"wav-mp3", "--update", "a"}).Update);
}

TEST(CliConvertArgs, UsageErrorsSayWhatIsWrong) {
  struct Case {
    std::vector<std::string> Args;
    const char* Says;
  };
  const Case cases[] = {
      {{}, "direction"},
      {{"flac-mp3", "a"}, "unknown direction 'flac-mp3'"},
      {{"wav-mp3"}, "at least one file"},
      {{"wav-mp3", "a", "--bogus"}, "unknown option '--bogus'"},
      {{"wav-mp3", "a", "-o"}, "-o needs a value"},
      {{"wav-mp3", "a", "--overwrite=yes"}, "--overwrite takes no value"},
      {{"wav-mp3", "a", "--bogus=1"}, "unknown option '--bogus=1'"},
      {{"wav-mp3", "a", "-j", "0"}, "-j: '0'"},
      {{"wav-mp3", "a", "-j", "two"}, "-j: 'two'"},
      {{"wav-mp3", "a", "--mp3-cbr", "100"}, "not one of 48"},
      {{"wav-mp3", "a", "--mp3-vbr", "10"}, "--mp3-vbr"},
      {{"wav-mp3", "a", "--mp3-min", "100"}, "--mp3-min: 100"},
      {{"wav-mp3", "a", "--mp3-mode", "quad"}, "'quad'"},
      {{"wav-mp3", "a", "--mp3-cbr", "128", "--mp3-vbr", "2"}, "exclude"},
      {{"wav-mp3", "a", "--overwrite", "--no-overwrite"}, "exclude"},
      {{"wav-mp3", "a", "-o", "d", "--same-folder"}, "exclude"},
      {{"wav-mp3", "a", "b", "--title", "T"}, "--title is for a single file"},
      {{"wav-mp3", "a", "--genre", "Nonesuch"}, "melvanto-cli genres"},
      {{"mp3-wav", "a", "--artist", "X"}, "WAV output"},
      {{"wav-mp3", "a", "--append"}, "--append is for WAV output"},
      {{"mp3-wma", "a", "--wav-type", "pcm"}, "--wav-type is for WAV output"},
      {{"wav-wma", "a", "--extensible"}, "--extensible is for WAV output"},
      {{"wma-mp3", "a", "--block-size", "512"}, "--block-size is for WAV output"},
      {{"wav-wav", "a", "--wav-type", "float"}, "'float'"},
      {{"wav-wav", "a", "--block-size", "1022"}, "multiple of 4"},
      {{"wav-wav", "a", "--block-size", "70000"}, "--block-size"},
      {{"wav-mp3", "a", "--name", "{artist}/{tilte}"}, "--name: unknown field {tilte}"},
      {{"wav-mp3", "a", "--name", "{artist}/{album"}, "--name: unclosed '{'"},
      {{"wav-mp3", "a", "--portable-names"}, "--portable-names is for --name"},
      {{"wav-wav", "a", "--update", "--append"}, "--update and --append exclude each other"},
      {{"wav-mp3", "a", "-o", ""}, "-o needs a folder"},
      {{"wav-mp3", "a", "--output="}, "--output needs a folder"},
  };
  for (const Case& c : cases) {
    const std::string message = UsageError(c.Args);
    EXPECT_NE(message.find(c.Says), std::string::npos) << "got: '" << message << "'";
  }
}

TEST(CliConvertArgs, OverridesReachTheSettingsAndTagValues) {
  TOptionsSetting s;
  s.CommonOptions.SameAsInputFolder = true;
  s.CommonOptions.IsShowTagEditor = false;
  s.IsSelectVBR = true;
  TTagInfo tags;
  tags.Title = u"from the file";
  tags.Album = u"kept";
  const auto r =
      Parse({"wav-mp3", "only.wav", "-o", "/x", "--artist", "Zoë", "--genre", "jazz", "--mp3-cbr", "320",
             "--mp3-mode", "mono", "--mp3-max", "256", "--wma-codec", "1", "--wma-format", "4"});
  cli::ApplyRequest(r, s, tags);
  EXPECT_EQ(s.CommonOptions.OutputFolder, "/x");
  EXPECT_FALSE(s.CommonOptions.SameAsInputFolder);
  EXPECT_TRUE(s.CommonOptions.IsShowTagEditor);
  EXPECT_FALSE(s.CommonOptions.IsSameTag) << "one file: no shared set";
  EXPECT_EQ(tags.Title, u"from the file");
  EXPECT_EQ(tags.Artist, u"Zoë");
  EXPECT_EQ(tags.Album, u"kept");
  EXPECT_EQ(tags.Genre, GenreIndex(u"Jazz"));
  EXPECT_FALSE(s.IsSelectVBR);
  EXPECT_EQ(s.ConstantBitRate, 8);
  EXPECT_EQ(s.StereoMode, 3);
  EXPECT_EQ(s.MaxBitRate, 256);
  EXPECT_EQ(s.CodecIndex, 1);
  EXPECT_EQ(s.FormatIndex, 4);
  EXPECT_TRUE(s.BitReservoir) << "kept unless asked";
  cli::ApplyRequest(Parse({"wav-mp3", "a.wav", "--mp3-no-reservoir"}), s, tags);
  EXPECT_FALSE(s.BitReservoir);

  // Typed numbers name a CBR format unless --wma-vbr says otherwise; none typed keep the file's.
  s.VBR = true;
  cli::ApplyRequest(Parse({"wav-wma", "a.wav", "--wma-format", "2"}), s, tags);
  EXPECT_FALSE(s.VBR);
  s.VBR = true;
  cli::ApplyRequest(Parse({"wav-wma", "a.wav"}), s, tags);
  EXPECT_TRUE(s.VBR);
  cli::ApplyRequest(Parse({"wav-wma", "a.wav", "--wma-vbr"}), s, tags);
  EXPECT_TRUE(s.VBR);
}

TEST(CliConvertArgs, TagsForSeveralFilesAreOneSet_NoTagOptionsLeaveTheEditorSettings) {
  TOptionsSetting s;
  TTagInfo tags;
  cli::ApplyRequest(Parse({"wav-wma", "a", "b", "--album", "A", "--mp3-vbr", "2", "--same-folder"}), s, tags);
  EXPECT_TRUE(s.CommonOptions.IsShowTagEditor);
  EXPECT_TRUE(s.CommonOptions.IsSameTag);
  EXPECT_TRUE(s.CommonOptions.SameAsInputFolder);
  EXPECT_TRUE(s.IsSelectVBR);
  EXPECT_EQ(s.VBRQuality, 2);

  TOptionsSetting plain;
  plain.CommonOptions.IsShowTagEditor = false;
  TTagInfo untouched;
  untouched.Artist = u"source";
  cli::ApplyRequest(Parse({"wav-wma", "a", "b"}), plain, untouched);
  EXPECT_FALSE(plain.CommonOptions.IsShowTagEditor);
  EXPECT_FALSE(plain.CommonOptions.IsSameTag);
  EXPECT_EQ(untouched.Artist, u"source");
}

TEST(CliConvertArgs, JobsAreBetweenOneAndTheFileCount) {
  EXPECT_EQ(cli::JobCount(Parse({"wav-mp3", "a", "b", "c"}), 8), 3);
  EXPECT_EQ(cli::JobCount(Parse({"wav-mp3", "a", "b", "c"}), 2), 2);
  EXPECT_EQ(cli::JobCount(Parse({"wav-mp3", "a", "b", "c"}), 0), 1) << "processor count unknown";
  EXPECT_EQ(cli::JobCount(Parse({"wav-mp3", "a", "b", "c", "-j", "5"}), 1), 3);
  EXPECT_EQ(cli::JobCount(Parse({"wav-mp3", "a", "b", "c", "-j", "1"}), 8), 1);
}

TEST(CliJson, StringsAreEscapedAndAlwaysValidUtf8) {
  EXPECT_EQ(cli::JsonString("plain"), "\"plain\"");
  EXPECT_EQ(cli::JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(cli::JsonString("t\tn\nr\r\x01"), "\"t\\tn\\nr\\r\\u0001\"");
  EXPECT_EQ(cli::JsonString("Zoë ♪"), "\"Zoë ♪\"");
  EXPECT_EQ(cli::JsonString("bad\xff"), "\"bad\xEF\xBF\xBD\"");
}

TFileResult Result(TFileResult::TStatus status, std::string input, std::string message = {}) {
  TFileResult r;
  r.Status = status;
  r.Input = std::move(input);
  r.Message = std::move(message);
  return r;
}

// What PrintSummary writes to out and to errors.
std::pair<std::string, std::string> Summary(const std::vector<TFileResult>& results,
                                            const std::vector<std::string>& notStarted, bool quiet) {
  char* outText = nullptr;
  char* errText = nullptr;
  std::size_t outSize = 0, errSize = 0;
  std::FILE* out = open_memstream(&outText, &outSize);
  std::FILE* err = open_memstream(&errText, &errSize);
  cli::PrintSummary(results, notStarted, quiet, out, err);
  std::fclose(out);
  std::fclose(err);
  std::pair<std::string, std::string> texts{outText, errText};
  std::free(outText);
  std::free(errText);
  return texts;
}

TEST(CliSummary, CountsListsAndExitStatus) {
  const std::vector<TFileResult> results = {
      Result(TFileResult::frConverted, "a.wav"),
      Result(TFileResult::frFailed, "b.wav", "not a WAV file"),
      Result(TFileResult::frSkipped, "c.wav", "exists"),
      Result(TFileResult::frConverted, "d.wav"),
  };
  const auto [out, err] = Summary(results, {}, false);
  EXPECT_NE(out.find("converted 2, skipped 1, failed 1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("skipped: c.wav: exists"), std::string::npos) << out;
  EXPECT_EQ(err, "failed: b.wav: not a WAV file\n");
  EXPECT_EQ(cli::ExitStatusOf(cli::CountResults(results, 0)), cli::kExitFailed);

  const auto [quietOut, quietErr] = Summary(results, {"e.wav"}, true);
  EXPECT_EQ(quietOut, "") << "quiet: no summary";
  EXPECT_EQ(quietErr, "failed: b.wav: not a WAV file\nnot started: e.wav\n");

  const std::vector<TFileResult> fine = {Result(TFileResult::frConverted, "a"),
                                         Result(TFileResult::frSkipped, "b")};
  EXPECT_EQ(cli::ExitStatusOf(cli::CountResults(fine, 0)), cli::kExitOk);
  EXPECT_EQ(cli::ExitStatusOf(cli::CountResults(fine, 1)), cli::kExitFailed) << "a file never reached";
  EXPECT_EQ(cli::ExitStatusOf(cli::CountResults({Result(TFileResult::frStopped, "a")}, 0)), cli::kExitFailed);
  EXPECT_NE(Summary({Result(TFileResult::frStopped, "a", "stopped")}, {}, false).first.find(", stopped 1"),
            std::string::npos);
}

TEST(CliProgressLine, ControlCharactersInNamesNeverReachTheTerminal) {
  cli::TTerminal terminal(false, 1, 1, cli::TOverwritePolicy::Never);
  terminal.SetJobFile(0, "a\x1b[2Jb\rc\x7f.wav");
  EXPECT_EQ(terminal.Line(80), "[0/1] a\\x1b[2Jb\\rc\\x7f.wav 0%");
}

TEST(CliProgressLine, ShowsEachBusyJobAndFitsTheWidth) {
  cli::TTerminal terminal(false, 8, 2, cli::TOverwritePolicy::Never);
  EXPECT_EQ(terminal.Line(80), "[0/8]");
  terminal.SetJobFile(0, "one.wav");
  terminal.SetJobProgress(0, 40);
  terminal.SetJobFile(1, "twö.wav");
  terminal.SetJobProgress(1, 5);
  EXPECT_EQ(terminal.Line(80), "[0/8] one.wav 40% twö.wav 5%");
  terminal.JobFileFinished(0);
  EXPECT_EQ(terminal.Line(80), "[1/8] twö.wav 5%");
  // 12 characters fit in 13 columns; the cut never splits the two bytes of "ö".
  EXPECT_EQ(terminal.Line(13), "[1/8] twö.wa");
  EXPECT_EQ(terminal.Line(10), "[1/8] twö");
  // The command line's policies are the "to all" answers.
  EXPECT_EQ(terminal.AskOverwrite("x already exists. Replace it?"), TOverwriteAnswer::oaNoToAll);
  cli::TTerminal yes(false, 1, 1, cli::TOverwritePolicy::Always);
  EXPECT_EQ(yes.AskOverwrite("x already exists. Replace it?"), TOverwriteAnswer::oaYesToAll);
}

}  // namespace
}  // namespace melvanto::testing
