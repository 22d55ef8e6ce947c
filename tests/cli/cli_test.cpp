// melvanto-cli run as a user runs it, its files checked with ffprobe, sox and python3.
// Every run has HOME and XDG_CONFIG_HOME in a temporary folder, so no one's settings are
// read or written, and always an explicit -j, so the machine's core count does not matter.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio_checks.h"
#include "temp_dir.h"
#include "tools.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadText(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct CliRun {
  int Status = -1;
  std::string Out, Err;
  bool Says(const std::string& text) const { return Out.find(text) != std::string::npos || Err.find(text) != std::string::npos; }
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(Out()); }

  // The program's environment: our own settings folder, no terminal on any stream.
  std::string Env() const {
    return "env HOME=" + Quote(home_.String()) + " XDG_CONFIG_HOME=" + Quote((home_ / "config").string()) + " ";
  }

  CliRun Cli(const std::string& args) {
    const std::string out = (home_ / "stdout").string(), err = (home_ / "stderr").string();
    const int raw = std::system((Env() + Quote(MELVANTO_CLI_PATH) + " " + args + " >" + Quote(out) + " 2>" +
                                 Quote(err) + " </dev/null")
                                    .c_str());
    CliRun run;
    run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.Out = ReadText(out);
    run.Err = ReadText(err);
    // Not a terminal: never a progress line redrawn with a carriage return.
    EXPECT_EQ(run.Out.find('\r'), std::string::npos) << run.Out;
    EXPECT_EQ(run.Err.find('\r'), std::string::npos) << run.Err;
    return run;
  }

  std::string In(const std::string& name) const { return (dir_ / name).string(); }
  std::string Out(const std::string& name = "") const { return (dir_ / "out" / name).string(); }

  // A file made by ffmpeg from its input options and output options.
  std::string Ffmpeg(const std::string& name, const std::string& options) {
    const std::string path = In(name);
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -y " + options + " " + Quote(path))) << name;
    return path;
  }
  // A stereo 16-bit PCM WAV with a tone that differs per seed.
  std::string Wav(const std::string& name, double seconds = 1.0, int seed = 0) {
    return Ffmpeg(name, "-f lavfi -i sine=frequency=" + std::to_string(330 + 110 * seed) +
                            ":sample_rate=44100:duration=" + std::to_string(seconds) + " -ac 2 -c:a pcm_s16le");
  }

  TempDir home_, dir_;
};

// The number after label (a line's "  label:  value").
double Number(const std::string& text, const std::string& label) {
  const auto at = text.find("  " + label + ":");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + label.size() + 3);
}

std::string Joined(const std::vector<std::string>& files) {
  std::string s;
  for (const auto& f : files) s += " " + Quote(f);
  return s;
}

// --- help, usage -------------------------------------------------------------------------

TEST_F(CliTest, HelpForTheProgramAndEveryCommand_VersionAndUsageErrors) {
  for (const char* args : {"--help", "convert --help", "info --help", "codecs --help", "genres --help"}) {
    const CliRun run = Cli(args);
    EXPECT_EQ(run.Status, 0) << args;
    EXPECT_EQ(run.Out.rfind("usage: melvanto-cli", 0), 0u) << args << ": " << run.Out;
  }
  const CliRun version = Cli("--version");
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("melvanto-cli ", 0), 0u);

  struct Case {
    std::string Args;
    const char* Says;
  };
  const Case cases[] = {
      {"", "usage:"},
      {"transmogrify", "unknown command 'transmogrify'"},
      {"convert flac-mp3 " + Quote(In("a.wav")), "unknown direction 'flac-mp3'"},
      {"convert wav-mp3 --loud " + Quote(In("a.wav")), "unknown option '--loud'"},
      {"convert wav-mp3 -j 2", "at least one file"},
      {"convert wav-mp3 -j x a.wav", "-j: 'x'"},
      {"convert wav-mp3 -j 1 --title T a.wav b.wav", "--title is for a single file"},
      {"info", "at least one file"},
      {"codecs --fast", "unknown argument '--fast'"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(c.Args);
    EXPECT_EQ(run.Status, 2) << c.Args;
    EXPECT_TRUE(run.Says(c.Says)) << c.Args << ": " << run.Err;
    EXPECT_TRUE(fs::is_empty(Out())) << c.Args;
  }
}

TEST_F(CliTest, CodecsListsTheWmaCodecsWithTheirFormats) {
  const CliRun run = Cli("codecs");
  ASSERT_EQ(run.Status, 0);
  EXPECT_NE(run.Out.find("codec 0: Windows Media Audio V2\n  format 0: "), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("codec 1: Windows Media Audio V1\n"), std::string::npos);
  EXPECT_NE(run.Out.find(": 128 kbps, 44 kHz, stereo CBR\n"), std::string::npos);
  // The runtime offers no VBR formats: the VBR lists say so rather than show the CBR ones.
  const CliRun vbr = Cli("codecs --vbr");
  EXPECT_EQ(vbr.Status, 0);
  EXPECT_NE(vbr.Out.find("codec 0: Windows Media Audio V2\n  (no VBR formats)"), std::string::npos) << vbr.Out;
  const CliRun genres = Cli("genres");
  EXPECT_EQ(genres.Status, 0);
  EXPECT_NE(genres.Out.find("\nJazz\n"), std::string::npos);
}

// --- info --------------------------------------------------------------------------------

TEST_F(CliTest, InfoOnEveryWavEncoding) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("sox");
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  const std::string sine = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 ";
  ASSERT_TRUE(Shell("sox -n -r 48000 -c 2 -b 24 -t wavpcm " + Quote(In("pcm24.wav")) + " synth 1 sine 440"));
  Ffmpeg("pcm8.wav", sine + "-ac 1 -c:a pcm_u8");
  Ffmpeg("pcm16.wav", sine + "-ac 2 -c:a pcm_s16le");
  Ffmpeg("six.wav", sine + "-ac 6 -c:a pcm_s16le");
  ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -e floating-point -b 32 -t wavpcm " + Quote(In("float.wav")) +
                    " synth 1 sine 440"));
  Ffmpeg("extfloat.wav", sine + "-ac 2 -c:a pcm_f32le");
  Ffmpeg("ima.wav", sine + "-ac 2 -c:a adpcm_ima_wav");
  Ffmpeg("ms.wav", sine + "-ac 1 -c:a adpcm_ms");
  Ffmpeg("mp3in.wav", sine + "-ac 2 -c:a libmp3lame -f wav");
  struct Case {
    const char* File;
    const char* Encoding;
    unsigned Channels, Rate, Bits;
    bool Exact;  // the frame count is the input's exactly (not rounded to blocks or frames)
  };
  const Case cases[] = {
      {"pcm8.wav", "wtPCM", 1, 44100, 8, true},         {"pcm16.wav", "wtPCM", 2, 44100, 16, true},
      {"pcm24.wav", "wtPCM", 2, 48000, 24, true},       {"six.wav", "wtExtPCM", 6, 44100, 16, true},
      {"float.wav", "wtIEEEFloat", 2, 44100, 32, true}, {"extfloat.wav", "wtExtIEEEFloat", 2, 44100, 32, true},
      {"ima.wav", "wtDVIADPCM", 2, 44100, 16, false},
      {"ms.wav", "wtMSADPCM", 1, 44100, 16, false},     {"mp3in.wav", "wtACM", 2, 44100, 16, false},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli("info " + Quote(In(c.File)));
    EXPECT_EQ(run.Status, 0) << c.File << run.Err;
    const auto has = [&](const std::string& line) {
      EXPECT_NE(run.Out.find(line + "\n"), std::string::npos) << c.File << " lacks '" << line << "' in\n" << run.Out;
    };
    has("  container:       WAV");
    has(std::string("  encoding:        ") + c.Encoding);
    has("  channels:        " + std::to_string(c.Channels));
    has("  sample rate:     " + std::to_string(c.Rate) + " Hz");
    has("  bits per sample: " + std::to_string(c.Bits));
    if (c.Exact) {
      has("  frames:          " + std::to_string(c.Rate));
      has("  duration:        1.000 s");
    } else {
      EXPECT_NEAR(Number(run.Out, "duration"), 1.0, 0.1) << c.File;
    }
  }
}

TEST_F(CliTest, InfoOnMp3AndWmaShowsTheirTags_JsonParses_BadFilesFailAtTheEnd) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("python3");
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  const std::string source = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 2 ";
  const std::string tags = "-metadata title='Sö \"quoted\"' -metadata artist=Artist -metadata album=Album "
                           "-metadata date=1999 -metadata genre=Jazz -metadata track=7 ";
  const std::string mp3 = Ffmpeg("tagged.mp3", source + tags + "-c:a libmp3lame -b:a 128k");
  const std::string wma = Ffmpeg("tagged.wma", source + tags + "-c:a wmav2 -b:a 128k");
  std::ofstream(In("garbage.bin"), std::ios::binary) << std::string(5000, '\x5a');

  for (const std::string& file : {mp3, wma}) {
    const CliRun run = Cli("info " + Quote(file));
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find(file.ends_with(".mp3") ? "container:       MP3" : "container:       WMA"), std::string::npos);
    EXPECT_NE(run.Out.find("  title:           Sö \"quoted\"\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("  artist:          Artist\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("  album:           Album\n"), std::string::npos) << run.Out;
    // The MP3 reader allows a third of a second more at the end.
    const double duration = Number(run.Out, "duration");
    EXPECT_GE(duration, 1.95);
    EXPECT_LE(duration, file.ends_with(".mp3") ? 2.4 : 2.1);
  }

  const std::string missing = In("missing.wav"), garbage = In("garbage.bin");
  const CliRun bad = Cli("info " + Quote(mp3) + " " + Quote(missing) + " " + Quote(garbage) + " " + Quote(wma));
  EXPECT_EQ(bad.Status, 1);
  EXPECT_NE(bad.Err.find(missing + ": no such file"), std::string::npos) << bad.Err;
  EXPECT_NE(bad.Err.find(garbage + ": not a WAV, WMA or MP3 file"), std::string::npos) << bad.Err;
  EXPECT_NE(bad.Out.find("container:       WMA"), std::string::npos) << "files after a bad one are shown";

  const CliRun json = Cli("info --json " + Quote(mp3) + " " + Quote(wma) + " " + Quote(missing));
  EXPECT_EQ(json.Status, 1);
  const std::string json_path = (home_ / "info.json").string();
  std::ofstream(json_path) << json.Out;
  const std::string check = CaptureText(
      "python3 -c 'import json,sys; a=json.load(open(sys.argv[1])); "
      "print(len(a), a[0][\"container\"], a[1][\"container\"], a[0][\"channels\"], a[1][\"sample_rate\"], "
      "a[0][\"tags\"][\"title\"], a[1][\"tags\"][\"artist\"], \"error\" in a[2], \"encoding\" in a[0])' " +
      Quote(json_path));
  EXPECT_EQ(check, "3 MP3 WMA 2 44100 Sö \"quoted\" Artist True False\n") << json.Out;

  const std::string wav = Wav("plain.wav");
  const std::string wav_json = Cli("info --json " + Quote(wav)).Out;
  EXPECT_NE(wav_json.find("\"encoding\": \"wtPCM\""), std::string::npos) << wav_json;
  EXPECT_NE(wav_json.find("\"frames\": 44100, \"duration\": 1.000"), std::string::npos) << wav_json;
}

}  // namespace
}  // namespace melvanto::testing
