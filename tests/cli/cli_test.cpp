// melvanto-cli run as a user runs it, its files checked with ffprobe, sox and python3.
// Every run has HOME and XDG_CONFIG_HOME in a temporary folder, so no one's settings are
// read or written, and always an explicit -j, so the machine's core count does not matter.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "asf_header.h"
#include "audio_checks.h"
#include "damaged_files.h"
#include "mp3_frames.h"
#include "program_version.h"
#include "temp_dir.h"
#include "text_file.h"
#include "tools.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct CliRun {
  int Status = -1;
  std::string Out, Err;
  bool Says(const std::string& text) const {
    return Out.find(text) != std::string::npos || Err.find(text) != std::string::npos;
  }
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(Out()); }

  // The program's environment: our own settings folder, no terminal on any stream.
  std::string Env() const {
    return runAs_ + "env HOME=" + Quote(home_.String()) +
           " XDG_CONFIG_HOME=" + Quote(config_.empty() ? (home_ / "config").string() : config_) + " ";
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
                            ":sample_rate=44100:duration=" + std::to_string(seconds) +
                            " -ac 2 -c:a pcm_s16le");
  }

  TempDir home_, dir_;
  std::string config_;  // XDG_CONFIG_HOME when not the usual one
  std::string runAs_;   // a command that runs the program as another user
};

// The number after label (a line's "  label:  value").
double Number(const std::string& text, const std::string& label) {
  const auto at = text.find("  " + label + ":");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + label.size() + 3);
}

std::string Joined(const std::vector<std::string>& files) {
  std::string s;
  for (const auto& f : files) s.append(" ").append(Quote(f));
  return s;
}

// The first control character (C0 but the line break, DEL, or C1 in UTF-8) in text, or npos:
// output that a terminal would obey instead of showing.
std::size_t RawControl(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n') || c == 0x7F) return i;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) return i;
  }
  return std::string::npos;
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
  // The version the about box shows, and the build day.
  const std::string first = std::string("melvanto-cli ") + ProgramVersion() + " (built " + BuildDate() + ")\n";
  EXPECT_EQ(version.Out.substr(0, first.size()), first);
  // Then the libraries, each with a version as loaded (LAME and TagLib are installed here).
  EXPECT_TRUE(std::regex_match(version.Out.substr(first.size()),
                               std::regex("LAME \\d+\\.\\d+\\S*\n"
                                          "FFmpeg \\S+ \\(libavcodec \\d+\\.\\d+\\.\\d+, libavformat \\d+\\.\\d+\\.\\d+\\)\n"
                                          "TagLib libtag\\.so\\.\\d+(\\.\\d+)*\n")))
      << version.Out;

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
  EXPECT_NE(vbr.Out.find("codec 0: Windows Media Audio V2\n  (no VBR formats)"), std::string::npos)
      << vbr.Out;
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
  Ffmpeg("f64.wav", sine + "-ac 2 -c:a pcm_f64le");
  ASSERT_TRUE(Shell("sox -n -r 8000 -c 1 -e a-law " + Quote(In("alaw.wav")) + " synth 1 sine 440"));
  const std::string phone = "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=1 ";
  Ffmpeg("mulaw.wav", phone + "-ac 2 -c:a pcm_mulaw");
  Ffmpeg("rf64.wav", sine + "-ac 2 -c:a pcm_s16le -rf64 always");
  Ffmpeg("alaw_rf64.wav", phone + "-c:a pcm_alaw -rf64 always");
  Ffmpeg("pcm.w64", sine + "-ac 2 -c:a pcm_s24le -f w64");
  struct Case {
    const char* File;
    const char* Encoding;
    unsigned Channels, Rate, Bits;
    bool Exact;  // the frame count is the input's exactly (not rounded to blocks or frames)
  };
  const Case cases[] = {
      {"pcm8.wav", "PCM", 1, 44100, 8, true},
      {"pcm16.wav", "PCM", 2, 44100, 16, true},
      {"pcm24.wav", "PCM", 2, 48000, 24, true},
      {"six.wav", "PCM (extensible)", 6, 44100, 16, true},
      {"float.wav", "IEEE float", 2, 44100, 32, true},
      {"extfloat.wav", "IEEE float (extensible)", 2, 44100, 32, true},
      {"f64.wav", "IEEE float (extensible)", 2, 44100, 64, true},
      // Bits as stored: 4 for ADPCM; MPEG Layer-3 states none, so its decoded 16.
      {"ima.wav", "IMA ADPCM", 2, 44100, 4, false},
      {"ms.wav", "Microsoft ADPCM", 1, 44100, 4, false},
      {"mp3in.wav", "MPEG Layer-3", 2, 44100, 16, false},
      {"alaw.wav", "A-law", 1, 8000, 8, true},
      {"mulaw.wav", "mu-law", 2, 8000, 8, true},
      {"rf64.wav", "PCM in RF64", 2, 44100, 16, true},
      {"alaw_rf64.wav", "A-law in RF64", 1, 8000, 8, true},
      {"pcm.w64", "PCM (extensible) in Wave64", 2, 44100, 24, true},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli("info " + Quote(In(c.File)));
    EXPECT_EQ(run.Status, 0) << c.File << run.Err;
    const auto has = [&](const std::string& line) {
      EXPECT_NE(run.Out.find(line + "\n"), std::string::npos) << c.File << " lacks '" << line << "' in\n"
                                                              << run.Out;
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

  // A valid WAV that holds no audio has no frames, not a negative count.
  ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + Quote(In("silent.wav")) + " trim 0 0"));
  ASSERT_EQ(CaptureText("soxi -s " + Quote(In("silent.wav"))), "0\n");
  const CliRun empty = Cli("info " + Quote(In("silent.wav")));
  EXPECT_EQ(empty.Status, 0) << empty.Err;
  EXPECT_NE(empty.Out.find("  frames:          0\n  duration:        0.000 s\n"), std::string::npos)
      << empty.Out;
  const std::string json = Cli("info --json " + Quote(In("silent.wav"))).Out;
  EXPECT_NE(json.find("\"frames\": 0, \"duration\": 0.000}"), std::string::npos) << json;
}

TEST_F(CliTest, InfoOnATaggedWavShowsItsInfoTags) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  Ffmpeg("tagged.wav", "-f lavfi -i sine=duration=0.1 -metadata title=Wav\\ Title -metadata artist=Someone");
  const CliRun run = Cli("info " + Quote(In("tagged.wav")));
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("  title:           Wav Title\n  artist:          Someone\n"), std::string::npos)
      << run.Out;
}

// A-law, mu-law, RF64, Wave64 and 64-bit float sources reach the outputs as the PCM ffmpeg
// decodes from them.
TEST_F(CliTest, TelephonyRf64Wave64AndDoubleFloatSourcesConvert) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  const std::string phone = "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=1 ";
  // 24,000 frames: ffmpeg's Wave64 reader takes the writer's pad after odd-sized data for audio.
  const std::string cd = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.5 ";
  struct Case {
    const char* File;
    std::string Make;
    const char* Raw;  // ffmpeg's raw format of the output's samples
  };
  const Case cases[] = {
      {"alaw.wav", phone + "-c:a pcm_alaw", "s16le"},
      {"mulaw.wav", phone + "-ac 2 -c:a pcm_mulaw", "s16le"},
      {"rf.wav", cd + "-ac 2 -c:a pcm_s16le -rf64 always", "s16le"},
      {"w.w64", cd + "-ac 2 -c:a pcm_s24le -f w64", "s24le"},
  };
  std::vector<std::string> files;
  for (const Case& c : cases) files.push_back(Ffmpeg(c.File, c.Make));
  files.push_back(Ffmpeg("f64.wav", cd + "-af volume=0.5 -c:a pcm_f64le"));
  const CliRun run = Cli("convert wav-wav -j 1 -o " + Quote(Out()) + Joined(files));
  ASSERT_EQ(run.Status, 0) << run.Err;
  const auto decode = [](const std::string& path, const std::string& raw) {
    return Capture("ffmpeg -nostdin -v error -i " + Quote(path) + " -f " + raw + " -").value_or(std::vector<std::uint8_t>{});
  };
  for (const Case& c : cases) {
    const std::string out = Out(fs::path(c.File).replace_extension(".wav").string());
    const auto want = decode(In(c.File), c.Raw);
    ASSERT_FALSE(want.empty()) << c.File;
    EXPECT_TRUE(decode(out, c.Raw) == want) << c.File;
    EXPECT_NE(Probe(out, "stream=codec_name").find("=pcm_"), std::string::npos) << c.File;
  }
  // 64-bit floats arrive as 32-bit integers, within a step of ffmpeg's own conversion.
  const auto want = decode(In("f64.wav"), "s32le"), got = decode(Out("f64.wav"), "s32le");
  ASSERT_EQ(got.size(), want.size());
  ASSERT_EQ(got.size(), 24000u * 4);
  std::int64_t worst = 0;
  for (std::size_t i = 0; i < got.size(); i += 4) {
    std::int32_t a, b;
    std::memcpy(&a, &got[i], 4);
    std::memcpy(&b, &want[i], 4);
    worst = std::max<std::int64_t>(worst, std::abs(std::int64_t{a} - b));
  }
  EXPECT_LE(worst, 2);

  // To MP3 and WMA the same way as any WAV: the second of A-law stays a second (MP3 adds up
  // to two 72 ms frames of the encoder's delay and padding at 8 kHz).
  for (const char* to : {"mp3", "wma"}) {
    SCOPED_TRACE(to);
    ASSERT_EQ(Cli(std::string("convert wav-") + to + " -j 1 -o " + Quote(Out()) + " " + Quote(In("mulaw.wav"))).Status, 0);
    EXPECT_NEAR(std::atof(CaptureText("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 " +
                                      Quote(Out(std::string("mulaw.") + to)))
                              .c_str()),
                1.05, 0.15);
  }
}

TEST_F(CliTest, InfoOnMp3AndWmaShowsTheirTags_JsonParses_BadFilesFailAtTheEnd) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("python3");
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  const std::string source = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 2 ";
  const std::string tags =
      "-metadata title='Sö \"quoted\"' -metadata artist=Artist -metadata album=Album "
      "-metadata date=1999 -metadata genre=Jazz -metadata track=7 ";
  const std::string mp3 = Ffmpeg("tagged.mp3", source + tags + "-c:a libmp3lame -b:a 128k");
  const std::string wma = Ffmpeg("tagged.wma", source + tags + "-c:a wmav2 -b:a 128k");
  std::ofstream(In("garbage.bin"), std::ios::binary) << std::string(5000, '\x5a');

  for (const std::string& file : {mp3, wma}) {
    const CliRun run = Cli("info " + Quote(file));
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find(file.ends_with(".mp3") ? "container:       MP3" : "container:       WMA"),
              std::string::npos);
    EXPECT_NE(run.Out.find("  title:           Sö \"quoted\"\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("  artist:          Artist\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("  album:           Album\n"), std::string::npos) << run.Out;
    const double duration = Number(run.Out, "duration");
    EXPECT_GE(duration, 1.95);
    EXPECT_LE(duration, 2.1) << "the file's length, not the reader's delivery margin";
  }

  const std::string missing = In("missing.wav"), garbage = In("garbage.bin");
  const CliRun bad =
      Cli("info " + Quote(mp3) + " " + Quote(missing) + " " + Quote(garbage) + " " + Quote(wma));
  EXPECT_EQ(bad.Status, 1);
  EXPECT_NE(bad.Err.find(missing + ": no such file"), std::string::npos) << bad.Err;
  EXPECT_NE(bad.Err.find(garbage + ": not a WAV, WMA or MP3 file"), std::string::npos) << bad.Err;
  EXPECT_NE(bad.Out.find("container:       WMA"), std::string::npos) << "files after a bad one are shown";

  // A reader that raises (a protected WMA) fails that file only.
  std::ifstream whole(wma, std::ios::binary);
  const std::vector<std::uint8_t> plain((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
  const std::vector<std::uint8_t> locked = WithAsfHeaderObject(plain, kAsfContentEncryption);
  std::ofstream(In("locked.wma"), std::ios::binary).write(reinterpret_cast<const char*>(locked.data()),
                                                           static_cast<std::streamsize>(locked.size()));
  const CliRun mixed = Cli("info " + Quote(In("locked.wma")) + " " + Quote(mp3));
  EXPECT_EQ(mixed.Status, 1);
  EXPECT_NE(mixed.Err.find(In("locked.wma") + ": File is protected"), std::string::npos) << mixed.Err;
  EXPECT_NE(mixed.Out.find("container:       MP3"), std::string::npos) << "the file after a protected one is shown";

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
  EXPECT_NE(wav_json.find("\"encoding\": \"PCM\""), std::string::npos) << wav_json;
  EXPECT_NE(wav_json.find("\"frames\": 44100, \"duration\": 1.000"), std::string::npos) << wav_json;
}

// The command line's date, track total and long comment reach the MP3's ID3v2 tag whole (as
// mutagen reads it) and `info` shows them back; the ID3v1 record holds what it can.
TEST_F(CliTest, Mp3TagsWholeFromConvertAndInfo) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::string python = PythonWithMutagen();
  MELVANTO_REQUIRE_TOOL(!python.empty(), "python3-mutagen");
  const std::string wav = Wav("dated.wav");
  std::filesystem::create_directories(Out());
  const CliRun run = Cli("convert wav-mp3 -q --overwrite -o " + Quote(Out()) +
                         " --year 2003-04-05 --track 3/12 --comment 'Grüße, a comment longer than thirty' " + Quote(wav));
  ASSERT_EQ(run.Status, 0) << run.Err;
  const std::string mp3 = Out("dated.mp3");
  EXPECT_EQ(CaptureText(python + " -c '\nimport sys, mutagen.id3 as m\nt = m.ID3(sys.argv[1])\n"
                                 "print(t[\"TDRC\"].text[0], t[\"TRCK\"].text[0], t.getall(\"COMM\")[0].text[0], sep=\"|\")' " +
                        Quote(mp3)),
            "2003-04-05|3/12|Grüße, a comment longer than thirty\n");
  const CliRun info = Cli("info " + Quote(mp3));
  EXPECT_NE(info.Out.find("  year:            2003-04-05\n"), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("  track:           3/12\n"), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("  comment:         Grüße, a comment longer than thirty\n"), std::string::npos) << info.Out;


  // The record takes what it can hold: the year, the track's number, 28 Latin-1 characters.
  const std::string bytes = ReadText(mp3);
  ASSERT_GT(bytes.size(), 128u);
  const std::string record = bytes.substr(bytes.size() - 128);
  EXPECT_EQ(record.substr(93, 4), "2003");
  EXPECT_EQ(static_cast<unsigned char>(record[126]), 3u) << "track";
  EXPECT_EQ(record.substr(97, 28), "Gr\xfc\xdf" "e, a comment longer than");
}

TEST_F(CliTest, TagsAndNamesFromFilesReachTheTerminalEscaped_EachFieldOnItsOwnLine) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  // Tagged by ffmpeg; the values are made by printf, as sh has no $'...' quoting. (ffmpeg
  // writes an MP3's comment as no COMM frame, so the album carries the rest.)
  const std::string mp3 =
      Ffmpeg("hostile.mp3",
             "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 -ac 2 "
             "-metadata title=\"$(printf '\\033]0;owned\\007\\033[2J\\033[31mred')\" "
             "-metadata artist=\"$(printf 'One\\ngenre:           Forged')\" "
             "-metadata album=\"$(printf 'a\\tb\\177c\\302\\233d')\" -c:a libmp3lame -b:a 128k");
  const CliRun run = Cli("info " + Quote(mp3));
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(RawControl(run.Out), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("\n  title:           \\x1b]0;owned\\x07\\x1b[2J\\x1b[31mred\n"), std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("\n  artist:          One\\ngenre:           Forged\n"), std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("\n  album:           a\\tb\\x7fc\\u009bd\n"), std::string::npos) << run.Out;
  EXPECT_EQ(run.Out.find("\n  genre:"), std::string::npos) << "no field forged by a line break";

  // Names: a line break, an escape sequence and a byte that is not UTF-8.
  const std::string odd = "two\nlines \x1b[31m\xff";
  const std::string shown = "two\\nlines \\x1b[31m\\xff";
  const std::string wav = Wav(odd + ".wav");
  const CliRun named = Cli("info " + Quote(wav) + " " + Quote(In(odd + "-missing.wav")));
  EXPECT_EQ(named.Status, 1);
  EXPECT_EQ(RawControl(named.Out + named.Err), std::string::npos) << named.Out << named.Err;
  EXPECT_EQ(named.Out.rfind(In(shown + ".wav") + "\n  container:       WAV\n", 0), 0u) << named.Out;
  EXPECT_NE(named.Err.find(In(shown + "-missing.wav") + ": no such file"), std::string::npos) << named.Err;

  std::ofstream(In(odd + "-broken.wav"), std::ios::binary) << "RIFF garbage" << std::string(4000, '\x11');
  const CliRun converted = Cli("convert wav-mp3 -j 1 -o " + Quote(Out()) +
                               Joined({wav, In(odd + "-broken.wav"), In(odd + "-gone.wav")}));
  EXPECT_EQ(converted.Status, 1);
  EXPECT_EQ(RawControl(converted.Out + converted.Err), std::string::npos) << converted.Out << converted.Err;
  EXPECT_NE(converted.Err.find("failed: " + In(shown + "-broken.wav") + ": "), std::string::npos)
      << converted.Err;
  EXPECT_NE(converted.Err.find("failed: " + In(shown + "-gone.wav") + ": "), std::string::npos)
      << converted.Err;
  EXPECT_TRUE(fs::exists(Out(odd + ".mp3")));

  // On a terminal: the progress line and the question name the files escaped.
  MELVANTO_REQUIRE_COMMAND("script");
  const std::string command =
      Env() + Quote(MELVANTO_CLI_PATH) + " convert wav-mp3 -j 1 -o " + Quote(Out()) + Joined({wav});
  const std::string screen = CaptureText("printf 'n\\n' | script -qec " + Quote(command) + " /dev/null");
  EXPECT_NE(screen.find(Out(shown + ".mp3") + " already exists. Replace it? [y]es/[N]o/[a]ll/n[o]ne "),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("] " + shown + ".wav "), std::string::npos) << screen;
  EXPECT_NE(screen.find("skipped: " + In(shown + ".wav")), std::string::npos) << screen;
  EXPECT_EQ(screen.find("\x1b[31m"), std::string::npos) << screen;
}

// --- convert -----------------------------------------------------------------------------

TEST_F(CliTest, DamagedInputsAreListedWithAWarningAndTheRunStillSucceeds) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("sox");
  // A name a terminal would obey, cut to half its length; an IMA ADPCM file with a damaged block.
  const std::string odd = "cut\x1b[2J";
  const std::string cut = Wav(odd + ".wav", 5);
  TruncateToHalf(cut);
  const std::string whole = Wav("whole.wav", 1, 1);
  ASSERT_TRUE(Shell("sox " + Quote(whole) + " -e ima-adpcm " + Quote(In("ima.wav"))));
  ASSERT_TRUE(DamageImaBlock(In("ima.wav"), 2));
  const CliRun run = Cli("convert wav-mp3 -j 2 -o " + Quote(Out()) + Joined({cut, whole, In("ima.wav")}));
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(RawControl(run.Out + run.Err), std::string::npos) << run.Out << run.Err;
  EXPECT_NE(run.Err.find("warning: " + In("cut\\x1b[2J.wav") +
                         ": 2.5 s of 5.0 s of audio could be read; the input is damaged\n"),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("warning: " + In("ima.wav") +
                         ": the input is damaged: 1 of its blocks was decoded clamped or as silence\n"),
            std::string::npos)
      << run.Err;
  EXPECT_EQ(run.Err.find("whole.wav"), std::string::npos) << run.Err;
  EXPECT_NE(run.Out.find("converted 3, skipped 0, failed 0, with a warning 2\n"), std::string::npos)
      << run.Out;
  EXPECT_NEAR(Field(Probe(Out(odd + ".mp3"), "format=duration"), "duration"), 2.5, 0.1);
}

// An MP3 cut short states its whole length in its Info frame: the part there converts, and
// the run says what is missing.
TEST_F(CliTest, ACutMp3ConvertsWithAWarning) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("lame");
  const std::string wav = Wav("five.wav", 5);
  const std::string mp3 = In("cut.mp3");
  ASSERT_TRUE(Shell("lame --quiet " + Quote(wav) + " " + Quote(mp3)));
  std::filesystem::resize_file(mp3, 40000);
  const CliRun run = Cli("convert mp3-wav -o " + Quote(Out()) + Joined({mp3}));
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Err.find("warning: " + mp3 + ": 2.5 s of 5.0 s of audio could be read; the input is damaged\n"),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Out.find("converted 1, skipped 0, failed 0, with a warning 1\n"), std::string::npos) << run.Out;
}

TEST_F(CliTest, ConvertsEveryFile_ACorruptOneFailsWithItsMessageAndTheRestGoOn) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::vector<std::string> good = {Wav("a.wav", 1, 0), Wav("c.wav", 1, 1)};
  const CliRun fine = Cli("convert wav-mp3 -j 2 -o " + Quote(Out()) + Joined(good));
  EXPECT_EQ(fine.Status, 0) << fine.Err;
  EXPECT_NE(fine.Out.find("converted 2, skipped 0, failed 0\n"), std::string::npos) << fine.Out;
  EXPECT_EQ(fine.Err, "");
  for (const char* name : {"a.mp3", "c.mp3"}) {
    const std::string probe = Probe(Out(name), "stream=codec_name,channels:format=duration");
    EXPECT_NE(probe.find("codec_name=mp3"), std::string::npos) << name << ": " << probe;
    EXPECT_NEAR(Field(probe, "duration"), 1.0, 0.06) << name;
  }

  fs::remove_all(Out());
  fs::create_directory(Out());
  std::ofstream(In("b.wav"), std::ios::binary)
      << "RIFF garbage, not a WAVE file at all" << std::string(4000, '\x11');
  const CliRun mixed =
      Cli("convert wav-mp3 -j 2 -o " + Quote(Out()) + Joined({good[0], In("b.wav"), good[1]}));
  EXPECT_EQ(mixed.Status, 1);
  EXPECT_NE(mixed.Out.find("converted 2, skipped 0, failed 1\n"), std::string::npos) << mixed.Out;
  EXPECT_NE(mixed.Err.find("failed: " + In("b.wav") + ": "), std::string::npos) << mixed.Err;
  EXPECT_NE(mixed.Err.find("not a valid WAV"), std::string::npos) << mixed.Err;
  EXPECT_TRUE(fs::exists(Out("a.mp3")));
  EXPECT_TRUE(fs::exists(Out("c.mp3")));
  EXPECT_FALSE(fs::exists(Out("b.mp3"))) << "a failed file leaves no output behind";

  const CliRun missing =
      Cli("convert wav-mp3 -j 1 -q --overwrite -o " + Quote(Out()) + Joined({In("nope.wav")}));
  EXPECT_EQ(missing.Status, 1);
  EXPECT_EQ(missing.Out, "") << "quiet: no summary";
  EXPECT_NE(missing.Err.find("failed: " + In("nope.wav") + ": "), std::string::npos) << missing.Err;
}

TEST_F(CliTest, TwoJobsWriteTheSameBytesAsOne) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  std::vector<std::string> inputs;
  for (int i = 0; i < 4; ++i) inputs.push_back(Wav("in" + std::to_string(i) + ".wav", 1.5, i));
  for (const char* direction : {"wav-mp3", "wav-wma"}) {
    const std::string ext = std::string(direction) == "wav-mp3" ? ".mp3" : ".wma";
    fs::create_directories(Out("one"));
    fs::create_directories(Out("two"));
    ASSERT_EQ(
        Cli(std::string("convert ") + direction + " -j 1 -o " + Quote(Out("one")) + Joined(inputs)).Status,
        0);
    const CliRun two =
        Cli(std::string("convert ") + direction + " -j 2 -o " + Quote(Out("two")) + Joined(inputs));
    ASSERT_EQ(two.Status, 0) << two.Err;
    EXPECT_NE(two.Out.find("converted 4, skipped 0, failed 0"), std::string::npos);
    for (int i = 0; i < 4; ++i) {
      const std::string name = "in" + std::to_string(i) + ext;
      EXPECT_TRUE(Shell("cmp -s " + Quote(Out("one/" + name)) + " " + Quote(Out("two/" + name)))) << name;
      EXPECT_GT(fs::file_size(Out("one/" + name)), 10000u) << name;
    }
    // Different inputs give different outputs: the comparison above could fail.
    EXPECT_FALSE(Shell("cmp -s " + Quote(Out("one/in0" + ext)) + " " + Quote(Out("one/in1" + ext))));
  }
}

// MP3 frames borrow space through the bit reservoir unless --mp3-no-reservoir asks for frames
// that each decode on their own; both play the input's whole length.
TEST_F(CliTest, Mp3NoReservoirGivesFramesThatStandAlone) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::string wav = Wav("tones.wav", 2.0);
  fs::create_directories(Out("with"));
  fs::create_directories(Out("without"));
  ASSERT_EQ(Cli("convert wav-mp3 -j 1 -o " + Quote(Out("with")) + " " + Quote(wav)).Status, 0);
  ASSERT_EQ(Cli("convert wav-mp3 -j 1 --mp3-no-reservoir -o " + Quote(Out("without")) + " " + Quote(wav)).Status, 0);
  const auto borrowing = [](const std::string& mp3) {
    const std::vector<Mp3Frame> frames = Mp3Frames(FileBytes(mp3));
    EXPECT_GT(frames.size(), 50u) << mp3;
    return std::count_if(frames.begin(), frames.end(), [](const Mp3Frame& f) { return f.MainDataBegin > 0; });
  };
  EXPECT_GT(borrowing(Out("with/tones.mp3")), 0);
  EXPECT_EQ(borrowing(Out("without/tones.mp3")), 0);
  for (const char* folder : {"with", "without"}) {
    const auto pcm = Capture("ffmpeg -v error -i " + Quote(Out(std::string(folder) + "/tones.mp3")) + " -f s16le -");
    ASSERT_TRUE(pcm) << folder;
    EXPECT_EQ(pcm->size(), 2u * 44100 * 4) << folder;  // two seconds of 16-bit stereo
  }
}

TEST_F(CliTest, TheSettingsFileIsReadAndOptionsOverrideItForTheRunOnly_ItIsNeverWritten) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::string wav = Wav("rate.wav", 2.0);
  const fs::path folder = home_ / "config" / "Quorvane" / "Melvanto";
  const fs::path ini = folder / "options.ini";
  // A first start from the command line leaves no settings file behind.
  ASSERT_EQ(Cli("convert wav-mp3 -j 1 -o " + Quote(Out()) + " " + Quote(wav)).Status, 0);
  EXPECT_FALSE(fs::exists(ini));

  fs::create_directories(Out("from-ini"));
  const std::string text = "; the user's own comment\r\n[CommonOptions]\r\nOutputFolder=" + Out("from-ini") +
                           "\r\n[Mp3Options]\r\nConstantBitRate=0\r\n[Other]\r\nKey=kept\r\n";
  fs::create_directories(folder);
  std::ofstream(ini, std::ios::binary) << text;
  // An old time, so that a rewrite within the same clock tick would still show.
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(30);
  fs::last_write_time(ini, old);

  ASSERT_EQ(Cli("convert wav-mp3 -j 1 " + Quote(wav)).Status, 0);
  EXPECT_NEAR(Field(Probe(Out("from-ini/rate.mp3"), "stream=bit_rate"), "bit_rate"), 48000, 1);
  ASSERT_EQ(Cli("convert wav-mp3 -j 1 --mp3-cbr 320 --mp3-mode mono --artist X -o " + Quote(Out()) + " " +
                Quote(wav) + " --overwrite")
                .Status,
            0);
  EXPECT_NEAR(Field(Probe(Out("rate.mp3"), "stream=bit_rate"), "bit_rate"), 320000, 1);
  // The options were for that run only: the next one is the file's again.
  ASSERT_EQ(Cli("convert wav-mp3 -j 1 --overwrite -o " + Quote(Out()) + " " + Quote(wav)).Status, 0);
  EXPECT_NEAR(Field(Probe(Out("rate.mp3"), "stream=bit_rate"), "bit_rate"), 48000, 1);
  EXPECT_EQ(ReadText(ini), text);
  EXPECT_TRUE(fs::last_write_time(ini) == old);

  // A WMA choice in the file that this system does not offer: a failure naming the file and the
  // way out, not a usage error (nothing typed was wrong); typed, the same choice is one.
  std::ofstream(ini, std::ios::binary) << "[WMAOptions]\nCodecIndex=0\nFormatIndex=0\nVBR=1\n";
  const CliRun fromFile = Cli("convert wav-wma -j 1 -o " + Quote(Out()) + " " + Quote(wav));
  EXPECT_EQ(fromFile.Status, 1) << fromFile.Err;
  EXPECT_NE(fromFile.Err.find(ini.string()), std::string::npos) << fromFile.Err;
  EXPECT_NE(fromFile.Err.find("--wma-format"), std::string::npos) << fromFile.Err;
  EXPECT_EQ(
      Cli("convert wav-wma -j 1 --wma-vbr --wma-codec 0 --wma-format 0 -o " + Quote(Out()) + " " + Quote(wav))
          .Status,
      2);
  EXPECT_EQ(Cli("convert wav-wma -j 1 --wma-codec 0 --wma-format 3 --overwrite -o " + Quote(Out()) + " " +
                Quote(wav))
                .Status,
            0)
      << "a typed choice wins over the file's";
}

// Settings that cannot be used: one line on stderr naming what and saying the defaults are
// used; the batch goes on with them, and nothing is written beside the program.
TEST_F(CliTest, UnusableSettingsAreReportedOnceAndTheDefaultsUsed) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::string wav = Wav("plain.wav");
  const fs::path beside = fs::path(MELVANTO_CLI_PATH).parent_path() / "options.ini";
  const bool hadSeed = fs::exists(beside);
  std::ofstream(home_ / "plain-file") << "";
  config_ = (home_ / "plain-file" / "config").string();
  const CliRun noFolder = Cli("convert wav-mp3 -j 1 -o " + Quote(Out()) + " " + Quote(wav));
  EXPECT_EQ(noFolder.Status, 0) << noFolder.Err;
  const std::string folder = (home_ / "plain-file" / "config" / "Quorvane" / "Melvanto").string();
  EXPECT_EQ(noFolder.Err.rfind("melvanto-cli: The settings folder " + folder + " cannot be made", 0), 0u)
      << noFolder.Err;
  EXPECT_EQ(std::count(noFolder.Err.begin(), noFolder.Err.end(), '\n'), 1) << noFolder.Err;
  EXPECT_NE(noFolder.Err.find("default settings are used"), std::string::npos) << noFolder.Err;
  EXPECT_TRUE(fs::exists(Out("plain.mp3")));
  EXPECT_EQ(fs::exists(beside), hadSeed) << "never written beside the program";

  config_.clear();
  const fs::path ini = home_ / "config" / "Quorvane" / "Melvanto" / "options.ini";
  fs::create_directories(ini.parent_path());
  std::ofstream(ini) << "[Mp3Options]\nConstantBitRate=0\n;";
  fs::resize_file(ini, 1024 * 1024 + 1);
  const CliRun tooLarge = Cli("convert wav-mp3 -j 1 --overwrite -o " + Quote(Out()) + " " + Quote(wav));
  EXPECT_EQ(tooLarge.Status, 0) << tooLarge.Err;
  EXPECT_EQ(tooLarge.Err, "melvanto-cli: The settings file " + ini.string() +
                              " was not read (it is larger than 1 MB); the default settings are used.\n");
  EXPECT_NEAR(Field(Probe(Out("plain.mp3"), "stream=bit_rate"), "bit_rate"), 128000, 1) << "the default rate";
  EXPECT_EQ(fs::file_size(ini), 1024u * 1024u + 1u);
}

TEST_F(CliTest, OverwritePolicies) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::string wav = Wav("song.wav");
  const std::string kept = "an older file the user wants to keep";
  std::ofstream(Out("song.mp3"), std::ios::binary) << kept;

  for (const char* policy : {"--no-overwrite", ""}) {  // "": not a terminal, so no one to ask
    const CliRun run =
        Cli(std::string("convert wav-mp3 -j 1 ") + policy + " -o " + Quote(Out()) + " " + Quote(wav));
    EXPECT_EQ(run.Status, 0) << policy;
    EXPECT_NE(run.Out.find("skipped: " + wav + ": "), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("converted 0, skipped 1, failed 0"), std::string::npos) << run.Out;
    EXPECT_EQ(ReadText(Out("song.mp3")), kept) << policy;
  }

  // Appending is for WAV outputs; it must not turn into replacing an MP3 without a question.
  const CliRun append = Cli("convert wav-mp3 -j 1 --append -o " + Quote(Out()) + " " + Quote(wav));
  EXPECT_EQ(append.Status, 2) << append.Out;
  EXPECT_TRUE(ReadText(Out("song.mp3")) == kept) << "the existing MP3 was replaced";

  const CliRun replace = Cli("convert wav-mp3 -j 1 --overwrite -o " + Quote(Out()) + " " + Quote(wav));
  EXPECT_EQ(replace.Status, 0);
  EXPECT_NE(replace.Out.find("converted 1, skipped 0, failed 0"), std::string::npos);
  EXPECT_NE(Probe(Out("song.mp3"), "stream=codec_name").find("codec_name=mp3"), std::string::npos);
}

TEST_F(CliTest, OnATerminalTheQuestionIsAskedAndTheProgressLineRedrawn) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("script");
  const std::vector<std::string> inputs = {Wav("first.wav", 1, 0), Wav("second.wav", 1, 1)};
  std::ofstream(Out("first.mp3")) << "old";
  std::ofstream(Out("second.mp3")) << "old";
  // script gives the program a terminal on every stream; the answers wait in its input.
  const std::string command =
      Env() + Quote(MELVANTO_CLI_PATH) + " convert wav-mp3 -j 1 -o " + Quote(Out()) + Joined(inputs);
  const std::string screen = CaptureText("printf 'y\\nn\\n' | script -qec " + Quote(command) + " /dev/null");
  EXPECT_NE(screen.find(Out("first.mp3") + " already exists. Replace it? [y]es/[N]o/[a]ll/n[o]ne "),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find(Out("second.mp3") + " already exists. Replace it? [y]es/[N]o/[a]ll/n[o]ne "),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("\r[0/2] first.wav "), std::string::npos) << screen;
  EXPECT_NE(screen.find("converted 1, skipped 1, failed 0"), std::string::npos) << screen;
  EXPECT_NE(Probe(Out("first.mp3"), "stream=codec_name").find("codec_name=mp3"), std::string::npos);
  EXPECT_EQ(ReadText(Out("second.mp3")), "old");
}

// "all" and "none" answer the rest of the batch: no more questions.
TEST_F(CliTest, OnATerminalAllAndNoneHoldForTheRestOfTheBatch) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("script");
  const std::vector<std::string> inputs = {Wav("one.wav", 1, 0), Wav("two.wav", 1, 1),
                                           Wav("three.wav", 1, 0)};
  const auto questionsIn = [](const std::string& screen) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = screen.find("Replace it?", at)) != std::string::npos; ++at) ++n;
    return n;
  };
  for (const char* name : {"one", "two", "three"}) std::ofstream(Out(std::string(name) + ".mp3")) << "old";
  const std::string command =
      Env() + Quote(MELVANTO_CLI_PATH) + " convert wav-mp3 -j 1 -o " + Quote(Out()) + Joined(inputs);
  const std::string none = CaptureText("printf 'none\\ny\\n' | script -qec " + Quote(command) + " /dev/null");
  EXPECT_EQ(questionsIn(none), 1u) << none;
  EXPECT_NE(none.find("converted 0, skipped 3, failed 0"), std::string::npos) << none;
  for (const char* name : {"one", "two", "three"})
    EXPECT_EQ(ReadText(Out(std::string(name) + ".mp3")), "old");

  const std::string all =
      CaptureText("printf 'n\\nall\\nn\\n' | script -qec " + Quote(command) + " /dev/null");
  EXPECT_EQ(questionsIn(all), 2u) << all;
  EXPECT_NE(all.find("converted 2, skipped 1, failed 0"), std::string::npos) << all;
  EXPECT_EQ(ReadText(Out("one.mp3")), "old");
  for (const char* name : {"two", "three"})
    EXPECT_NE(Probe(Out(std::string(name) + ".mp3"), "stream=codec_name").find("codec_name=mp3"),
              std::string::npos)
        << name;
}

TEST_F(CliTest, AClosedPipeForItsMessagesNeitherKillsTheBatchNorLeavesABrokenFile) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::vector<std::string> inputs = {Wav("fresh.wav", 3, 0), Wav("kept.wav", 1, 1)};
  std::ofstream(Out("kept.mp3")) << "old";
  // stdin a terminal, so the question for kept.mp3 is asked; stderr a pipe no one reads.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  close(pipeFds[0]);
  const std::string out = (home_ / "stdout").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int tty = open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (tty < 0 || dup2(tty, 0) < 0 || dup2(pipeFds[1], 2) < 0) _exit(126);
    signal(SIGPIPE, SIG_DFL);  // as in a shell, whatever the test runner does
    const std::string command = "exec " + Env() + Quote(MELVANTO_CLI_PATH) + " convert wav-mp3 -j 2 -o " +
                                Quote(Out()) + Joined(inputs) + " >" + Quote(out);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  close(master);
  ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
  EXPECT_EQ(WEXITSTATUS(raw), 0);
  // A question no one can see is answered no.
  EXPECT_NE(ReadText(out).find("converted 1, skipped 1, failed 0"), std::string::npos) << ReadText(out);
  EXPECT_EQ(ReadText(Out("kept.mp3")), "old");
  EXPECT_NEAR(Field(Probe(Out("fresh.mp3"), "format=duration"), "duration"), 3.0, 0.1);
}

TEST_F(CliTest, TheOutputIsNeverTheInput_AMissingOutputFolderIsMade) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::string wav = Wav("same.wav");
  const std::string before = ReadText(wav);
  const CliRun same = Cli("convert wav-wav -j 1 --overwrite --same-folder " + Quote(wav));
  EXPECT_EQ(same.Status, 1);
  EXPECT_NE(same.Err.find("failed: " + wav + ": "), std::string::npos) << same.Err;
  EXPECT_EQ(ReadText(wav), before);

  const std::string nowhere = (dir_ / "no" / "such").string();
  const CliRun missing = Cli("convert wav-mp3 -j 1 -o " + Quote(nowhere) + " " + Quote(wav));
  // Made with its parents, as mkdir -p makes them.
  EXPECT_EQ(missing.Status, 0) << missing.Err;
  EXPECT_TRUE(missing.Says("outputs in " + nowhere + "\n")) << missing.Out;
  EXPECT_NEAR(Field(Probe(nowhere + "/same.mp3", "format=duration"), "duration"), 1.0, 0.06);
  EXPECT_FALSE(fs::exists(In("same.mp3")));
}

TEST_F(CliTest, AWriteThatFailsAsOnAFullDiskIsReportedAndLeavesNoOutput) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::string wav = Wav("big.wav", 2.0);
  fs::create_directory(Out("full"));
  // A file-size limit of some 32 KiB fails the write halfway, for root too.
  const std::string out = (home_ / "stdout").string(), err = (home_ / "stderr").string();
  const int raw =
      std::system(("ulimit -f 64 && " + Env() + Quote(MELVANTO_CLI_PATH) + " convert wav-wav -j 1 -o " +
                   Quote(Out("full")) + " " + Quote(wav) + " >" + Quote(out) + " 2>" + Quote(err))
                      .c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
  EXPECT_NE(ReadText(err).find("failed: " + wav + ": File too large"), std::string::npos) << ReadText(err);
  EXPECT_FALSE(fs::exists(Out("full/big.wav"))) << "a failed file's output is removed";
}

TEST_F(CliTest, TagOptionsReachMp3AndWmaFiles) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::string wav = Wav("take.wav");
  const std::string tags =
      " --title 'Zoë sings' --artist Artist --album Album --year 2001 --genre jazz"
      " --track 5 --comment 'a comment'";
  for (const char* direction : {"wav-mp3", "wav-wma"}) {
    const CliRun run =
        Cli(std::string("convert ") + direction + " -j 1 -o " + Quote(Out()) + tags + " " + Quote(wav));
    EXPECT_EQ(run.Status, 0) << run.Err;
  }
  for (const char* name : {"take.mp3", "take.wma"}) {
    const std::string probe = Probe(Out(name), "format_tags");
    for (const char* value :
         {"=Zoë sings\n", "=Artist\n", "=Album\n", "=2001\n", "=Jazz\n", "=5\n", "=a comment\n"})
      EXPECT_NE(probe.find(value), std::string::npos) << name << " lacks " << value << " in\n" << probe;
  }
  // For a batch the values are one set for all files, each titled by its own name.
  const std::vector<std::string> two = {wav, Wav("other.wav", 1, 2)};
  ASSERT_EQ(
      Cli("convert wav-wma -j 2 --overwrite -o " + Quote(Out()) + " --artist Both" + Joined(two)).Status, 0);
  for (const char* stem : {"take", "other"}) {
    const std::string probe = Probe(Out(std::string(stem) + ".wma"), "format_tags");
    EXPECT_NE(probe.find("=Both\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find(std::string("=") + stem + "\n"), std::string::npos) << probe;
  }
}

TEST_F(CliTest, WavToWavTypesHeadersAndAppend) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("sox");
  const std::string wav = Wav("tone.wav");
  const CliRun ima = Cli("convert wav-wav -j 1 --wav-type ima-adpcm --block-size 1024 -o " + Quote(Out()) +
                         " " + Quote(wav));
  ASSERT_EQ(ima.Status, 0) << ima.Err;
  const std::string probe = Probe(Out("tone.wav"), "stream=codec_name");
  EXPECT_NE(probe.find("codec_name=adpcm_ima_wav"), std::string::npos) << probe;
  const std::string header = ReadText(Out("tone.wav"));
  ASSERT_GT(header.size(), 70u);
  // After RIFF, WAVE and the 36-byte JUNK chunk that keeps the room for RF64's ds64.
  EXPECT_EQ(header.substr(12, 4), "JUNK");
  EXPECT_EQ(static_cast<unsigned char>(header[68]) | static_cast<unsigned char>(header[69]) << 8, 1024)
      << "the fmt chunk's block align";
  EXPECT_EQ(CaptureText("soxi -e " + Quote(Out("tone.wav"))), "IMA ADPCM\n");
  EXPECT_NEAR(std::atof(CaptureText("soxi -D " + Quote(Out("tone.wav"))).c_str()), 1.0, 0.03);

  // 24-bit PCM: a plain header, or with --extensible the extensible one.
  ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 24 -t wavpcm " + Quote(In("wide.wav")) + " synth 0.5 sine 440"));
  fs::create_directory(Out("ext"));
  ASSERT_EQ(Cli("convert wav-wav -j 1 -o " + Quote(Out()) + " " + Quote(In("wide.wav"))).Status, 0);
  ASSERT_EQ(
      Cli("convert wav-wav -j 1 --extensible -o " + Quote(Out("ext")) + " " + Quote(In("wide.wav"))).Status,
      0);
  EXPECT_NE(Cli("info " + Quote(Out("wide.wav"))).Out.find("encoding:        PCM\n"), std::string::npos);
  EXPECT_NE(Cli("info " + Quote(Out("ext/wide.wav"))).Out.find("encoding:        PCM (extensible)\n"),
            std::string::npos);
  EXPECT_EQ(CaptureText("soxi -b " + Quote(Out("ext/wide.wav"))), "24\n");

  // Appending twice doubles the frames, with no question about the existing file.
  fs::create_directory(Out("app"));
  for (int i = 0; i < 2; ++i) {
    const CliRun run = Cli("convert wav-wav -j 1 --append -o " + Quote(Out("app")) + " " + Quote(wav));
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("converted 1"), std::string::npos) << run.Out;
  }
  EXPECT_EQ(CaptureText("soxi -s " + Quote(Out("app/tone.wav"))), "88200\n");
}

// Names in the output folder other than the ones given: what a run left behind.
std::vector<std::string> Leftovers(const std::string& folder, const std::vector<std::string>& expected) {
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) left.push_back(name);
  }
  return left;
}

// Starts melvanto-cli with args in a child of its own (the child's pid is the program's),
// its streams to the given files.
pid_t StartCli(const std::string& env, const std::string& args, const std::string& out,
               const std::string& err) {
  const pid_t child = fork();
  if (child == 0) {
    const std::string command = "exec " + env + Quote(MELVANTO_CLI_PATH) + " " + args + " >" + Quote(out) +
                                " 2>" + Quote(err) + " </dev/null";
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

// Polls (never a timed wait) until the file has grown to size bytes or the child has ended;
// true while the child still runs.
bool WaitForGrowth(const std::string& path, std::uintmax_t size, pid_t child, int& raw) {
  std::error_code ignored;
  const auto written = [&] {
    const auto now = fs::file_size(path, ignored);
    return ignored ? 0 : now;
  };
  pid_t ended = 0;
  while (written() < size && (ended = waitpid(child, &raw, WNOHANG)) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a poll of the file, not a timed wait
  return ended == 0;
}

TEST_F(CliTest, InterruptOrTerminateStopsTheBatch_NothingIsWrittenAndTheOldFileStays) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  // Long enough that the encoder is still busy when the signal comes, on any machine.
  const std::string longWav = Ffmpeg("long.wav",
                                     "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1200 "
                                     "-ac 1 -c:a pcm_s16le");
  const std::string next = Wav("next.wav");
  const std::string out = (home_ / "stdout").string(), err = (home_ / "stderr").string();
  const std::string old = "the user's long.mp3, allowed to be replaced";
  WriteText(Out("long.mp3"), old);
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    const pid_t child = StartCli(
        Env(), "convert wav-mp3 -j 1 --overwrite -o " + Quote(Out()) + Joined({longWav, next}), out, err);
    ASSERT_GE(child, 0);
    // Signal once the encoder has written a good part of its temporary file.
    int raw = 0;
    ASSERT_TRUE(
        WaitForGrowth(Out(".long.mp3.melvanto-" + std::to_string(child) + ".part.mp3"), 200000, child, raw))
        << "the conversion ended before the signal, status " << raw << ": " << ReadText(err);
    ASSERT_EQ(kill(child, signal), 0);
    ASSERT_EQ(waitpid(child, &raw, 0), child);
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 130);
    const std::string errors = ReadText(err), summary = ReadText(out);
    EXPECT_NE(errors.find("stopped: " + longWav), std::string::npos) << errors;
    EXPECT_NE(errors.find("not started: " + next), std::string::npos) << errors;
    EXPECT_NE(summary.find("converted 0, skipped 0, failed 0, stopped 1, not started 1"), std::string::npos)
        << summary;
    EXPECT_FALSE(fs::exists(Out("next.mp3")));
    EXPECT_EQ(ReadText(Out("long.mp3")), old);
    EXPECT_EQ(Leftovers(Out(), {"long.mp3"}), std::vector<std::string>{});
  }
}

TEST_F(CliTest, AKilledRunLeavesNoOutput_TheNextRunWritesItAndSweepsTheLeftover) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  fs::create_directory(In("a"));
  fs::create_directory(In("b"));
  const std::string longWav = Ffmpeg("a/tone.wav",
                                     "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1200 "
                                     "-ac 1 -c:a pcm_s16le");
  const std::string out = (home_ / "stdout").string(), err = (home_ / "stderr").string();
  const pid_t child =
      StartCli(Env(), "convert wav-mp3 -j 1 -o " + Quote(Out()) + " " + Quote(longWav), out, err);
  ASSERT_GE(child, 0);
  const std::string part = ".tone.mp3.melvanto-" + std::to_string(child) + ".part.mp3";
  int raw = 0;
  ASSERT_TRUE(WaitForGrowth(Out(part), 200000, child, raw))
      << "the conversion ended before the kill, status " << raw << ": " << ReadText(err);
  ASSERT_EQ(kill(child, SIGKILL), 0);
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  ASSERT_TRUE(WIFSIGNALED(raw));
  EXPECT_FALSE(fs::exists(Out("tone.mp3"))) << "a stub under the final name";
  ASSERT_TRUE(fs::exists(Out(part)));

  // A short input of the same name: nothing is there to skip, and the dead run's file goes.
  const std::string shortWav = Ffmpeg("b/tone.wav",
                                      "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 "
                                      "-ac 1 -c:a pcm_s16le");
  const CliRun run = Cli("convert wav-mp3 -j 1 --no-overwrite -o " + Quote(Out()) + " " + Quote(shortWav));
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(run.Says("converted 1")) << run.Out;
  EXPECT_NEAR(Field(Probe(Out("tone.mp3"), "format=duration"), "duration"), 1.0, 0.1);
  EXPECT_EQ(Leftovers(Out(), {"tone.mp3"}), std::vector<std::string>{});
}

// --- folders, names from tags, only what is new --------------------------------------------

// Every file and link below folder, relative, sorted; links are not followed.
std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (!entry.is_directory() || entry.is_symlink())
      files.push_back(fs::relative(entry.path(), folder).string());
  std::sort(files.begin(), files.end());
  return files;
}

TEST_F(CliTest, AFolderConvertsItsTreeIntoAMirroredTreeThatIsMade) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("soxi");
  fs::create_directories(In("music/x/y"));
  Wav("music/a.wav", 0.3, 0);
  Wav("music/x/b.wav", 0.5, 1);
  Wav("music/x/y/c.WAV", 0.3, 2);
  Wav("music/.hidden.wav", 0.3, 3);
  std::ofstream(In("music/x/notes.mp3")) << "not a source of this direction";
  fs::create_directory_symlink("..", In("music/x/loop"));
  const std::string out = Out("new/deeper");
  const CliRun run = Cli("convert wav-wav -j 2 -o " + Quote(out) + " " + Quote(In("music")));
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(run.Says("converted 3, skipped 0, failed 0\noutputs in " + out + "\n")) << run.Out;
  EXPECT_NE(run.Err.find("melvanto-cli: warning: " + In("music/x/loop") + ": already searched"),
            std::string::npos)
      << run.Err;
  EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"a.wav", "x/b.wav", "x/y/c.wav"}));
  EXPECT_EQ(CaptureText("soxi -D " + Quote(out + "/x/b.wav")), "0.500000\n");

  // A folder without a single source file is an error, not an empty success.
  fs::create_directories(In("empty/sub"));
  Wav("empty/sub/.only-hidden.wav", 0.3);
  const CliRun none = Cli("convert wav-mp3 -j 1 -o " + Quote(Out()) + " " + Quote(In("empty")));
  EXPECT_EQ(none.Status, 1);
  EXPECT_EQ(none.Err, "melvanto-cli: no source files (.wav) were found in the folder " + In("empty") + "\n");
}

TEST_F(CliTest, AFolderThatCannotBeReadFailsTheBatchAfterTheRestIsConverted) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  if (::geteuid() == 0) {
    // Permissions do not hold for root: run as nobody, in folders nobody may write.
    MELVANTO_REQUIRE_COMMAND("setpriv");
    runAs_ = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    for (const fs::path& p : {home_.Path(), dir_.Path(), fs::path(Out())}) fs::permissions(p, fs::perms::all);
  }
  fs::create_directories(In("music/locked"));
  fs::create_directories(In("music/closed"));
  Wav("music/a.wav", 0.3, 0);
  Wav("music/locked/b.wav", 0.3, 1);
  Wav("music/closed/c.wav", 0.3, 2);
  fs::create_symlink(In("nowhere"), In("music/dangling.wav"));
  fs::permissions(In("music/locked"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(In("music/closed"), fs::perms::none);

  const CliRun run = Cli("convert wav-wav -j 1 -o " + Quote(Out()) + " " + Quote(In("music")));
  fs::permissions(In("music/locked"), fs::perms::owner_all);
  fs::permissions(In("music/closed"), fs::perms::owner_all);
  EXPECT_EQ(run.Status, 1) << run.Err;
  EXPECT_TRUE(run.Says("converted 1, skipped 0, failed 0\n")) << run.Out;
  EXPECT_EQ(FilesBelow(Out()), (std::vector<std::string>{"a.wav"}));
  EXPECT_NE(run.Err.find("melvanto-cli: warning: " + In("music/closed") + ": cannot read this folder"),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("melvanto-cli: warning: " + In("music/locked/b.wav") + ": cannot read"),
            std::string::npos)
      << run.Err;
  EXPECT_EQ(run.Err.find("dangling"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("could not be read"), std::string::npos) << run.Err;
}

// Each output folder is cleaned once per batch: one reached later, in a subfolder, too.
TEST_F(CliTest, DeadRunsPartFilesGoFromEveryOutputFolderOfATree) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  fs::create_directories(In("music/sub"));
  Wav("music/a.wav", 0.3, 0);
  Wav("music/sub/b.wav", 0.3, 1);
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  int status = 0;
  ASSERT_EQ(::waitpid(dead, &status, 0), dead);
  fs::create_directories(Out("sub"));
  const std::string stale = ".melvanto-" + std::to_string(dead) + ".part.wav";
  std::ofstream(Out(".a.wav" + stale)) << "x";
  std::ofstream(Out("sub/.b.wav" + stale)) << "x";
  const CliRun run = Cli("convert wav-wav -j 1 -o " + Quote(Out()) + " " + Quote(In("music")));
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(FilesBelow(Out()), (std::vector<std::string>{"a.wav", "sub/b.wav"}));
}

TEST_F(CliTest, SameFolderPutsEachOutputOfATreeNextToItsInput) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  fs::create_directories(In("music/x/y"));
  Wav("music/a.wav", 0.3, 0);
  Wav("music/x/y/c.wav", 0.3, 2);
  const CliRun run = Cli("convert wav-mp3 -j 2 --same-folder " + Quote(In("music")));
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(run.Says("outputs next to their inputs\n")) << run.Out;
  EXPECT_EQ(FilesBelow(In("music")), (std::vector<std::string>{"a.mp3", "a.wav", "x/y/c.mp3", "x/y/c.wav"}));
  EXPECT_NE(Probe(In("music/x/y/c.mp3"), "stream=codec_name").find("codec_name=mp3"), std::string::npos);
}

// A link inside the output tree may lead anywhere: no output goes through one. The output
// folder itself is the user's to name, link or not.
TEST_F(CliTest, ALinkInsideTheOutputTreeIsRefused_TheOutputFolderMayBeOne) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  fs::create_directories(In("music/x"));
  fs::create_directories(In("elsewhere"));
  fs::create_directories(In("real"));
  Wav("music/a.wav", 0.3, 0);
  Wav("music/x/b.wav", 0.3, 1);
  fs::create_directory_symlink(In("real"), Out("linked"));
  fs::create_directory_symlink(In("elsewhere"), In("real/x"));
  const CliRun run = Cli("convert wav-wav -j 1 -o " + Quote(Out("linked")) + " " + Quote(In("music")));
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Says("converted 1, skipped 0, failed 1")) << run.Out;
  EXPECT_NE(run.Err.find("failed: " + In("music/x/b.wav") + ": " + Out("linked") +
                         "/x is a symbolic link; outputs are never written through one\n"),
            std::string::npos)
      << run.Err;
  EXPECT_TRUE(fs::is_regular_file(In("real/a.wav")));
  EXPECT_EQ(FilesBelow(In("elsewhere")), std::vector<std::string>{});
}

// Tagged MP3s made by ffmpeg; each named by '{artist}/{album}/...' or, lacking a field, as
// without --name.
TEST_F(CliTest, NamesFromTags_MissingFieldsUnsafeCharactersAndTwoFilesOnOneName) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("soxi");
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  fs::create_directories(In("lib/sub"));
  const auto tagged = [&](const std::string& name, const std::string& tags) {
    Ffmpeg(name, "-f lavfi -i sine=frequency=440:duration=0.4 -c:a libmp3lame " + tags);
  };
  const std::string all =
      "-metadata artist=Band -metadata album=First -metadata title=Song -metadata track=3/12"
      " -metadata date=1999 -metadata genre=Jazz";
  tagged("lib/full.mp3", all);
  tagged("lib/sub/untitled.mp3", "-metadata artist=Band -metadata album=First -metadata track=4");
  tagged("lib/sub/full.mp3", all);
  tagged("lib/odd.mp3",
         "-metadata 'artist=AC/DC' -metadata 'album=..' -metadata 'title=Why? <Live>.' -metadata track=1"
         " -metadata date=2001 -metadata genre=Synthwave");  // not in the genre list
  const std::string pattern = "'{artist}/{album}/{track:02} - {title} ({year} {genre} {name})'";
  const CliRun run =
      Cli("convert mp3-wav -j 1 --name " + pattern + " -o " + Quote(Out()) + " " + Quote(In("lib")));
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Says("converted 3, skipped 0, failed 1")) << run.Out;
  // Files go by path: full.mp3 before sub/full.mp3, which maps to the same name.
  EXPECT_NE(run.Err.find("failed: " + In("lib/sub/full.mp3") + ": the output file is also the output of " +
                         In("lib/full.mp3")),
            std::string::npos)
      << run.Err;
  EXPECT_EQ(FilesBelow(Out()),
            (std::vector<std::string>{"AC_DC/_/01 - Why? <Live>. (2001 Synthwave odd).wav",
                                      "Band/First/03 - Song (1999 Jazz full).wav", "sub/untitled.wav"}));
  EXPECT_NEAR(
      std::atof(CaptureText("soxi -D " + Quote(Out("Band/First/03 - Song (1999 Jazz full).wav"))).c_str()),
      0.4, 0.06);

  fs::remove_all(Out());
  const CliRun portable = Cli("convert mp3-wav -j 1 --name '{title}' --portable-names -o " + Quote(Out()) +
                              " " + Quote(In("lib/odd.mp3")));
  EXPECT_EQ(portable.Status, 0) << portable.Err;
  EXPECT_EQ(FilesBelow(Out()), std::vector<std::string>{"Why_ _Live__.wav"});

  const CliRun unknown =
      Cli("convert mp3-wav -j 1 --name '{artist}/{titel}' -o " + Quote(Out()) + " " + Quote(In("lib")));
  EXPECT_EQ(unknown.Status, 2);
  EXPECT_TRUE(unknown.Says("--name: unknown field {titel}")) << unknown.Err;
}

// Two names the plan holds apart but that are one file on disk, as on a folder that ignores
// case: here b's output is a link, dangling when the batch is planned, to a's output.
TEST_F(CliTest, AnOutputThisBatchWroteUnderAnotherNameIsNeitherReplacedNorUpToDate) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  Wav("a.wav", 0.3, 0);
  Wav("b.wav", 0.3, 1);
  for (const char* option : {"--overwrite", "--update"}) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    fs::create_symlink(Out("a.wav"), Out("b.wav"));
    const CliRun run = Cli(std::string("convert wav-wav -j 1 ") + option + " -o " + Quote(Out()) +
                           Joined({In("a.wav"), In("b.wav")}));
    EXPECT_EQ(run.Status, 1) << option;
    EXPECT_TRUE(run.Says("converted 1, skipped 0, failed 1")) << option << run.Out;
    EXPECT_NE(
        run.Err.find("failed: " + In("b.wav") + ": the output file is also the output of " + In("a.wav")),
        std::string::npos)
        << option << run.Err;
    EXPECT_TRUE(fs::is_symlink(Out("b.wav"))) << option;
  }
}

// Portable names are for folders that ignore case: names that differ only in case are one.
TEST_F(CliTest, PortableNamesThatDifferOnlyInCaseAreOneOutput) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_TOOL(HaveMp3Encoder(), "ffmpeg with libmp3lame");
  Ffmpeg(
      "1.mp3",
      "-f lavfi -i sine=frequency=440:duration=0.3 -c:a libmp3lame -metadata artist=Band -metadata title=X");
  Ffmpeg(
      "2.mp3",
      "-f lavfi -i sine=frequency=550:duration=0.3 -c:a libmp3lame -metadata artist=band -metadata title=x");
  const std::string files = Joined({In("1.mp3"), In("2.mp3")});
  const CliRun portable =
      Cli("convert mp3-wav -j 1 --name '{artist}/{title}' --portable-names -o " + Quote(Out()) + files);
  EXPECT_EQ(portable.Status, 1);
  EXPECT_NE(
      portable.Err.find("failed: " + In("2.mp3") + ": the output file is also the output of " + In("1.mp3")),
      std::string::npos)
      << portable.Err;
  EXPECT_EQ(FilesBelow(Out()), std::vector<std::string>{"Band/X.wav"});

  // Elsewhere case is kept: two outputs.
  fs::remove_all(Out());
  const CliRun plain = Cli("convert mp3-wav -j 1 --name '{artist}/{title}' -o " + Quote(Out()) + files);
  EXPECT_EQ(plain.Status, 0) << plain.Err;
  EXPECT_EQ(FilesBelow(Out()), (std::vector<std::string>{"Band/X.wav", "band/x.wav"}));
}

TEST_F(CliTest, UpdateConvertsOnlyInputsNewerThanTheirOutputs) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  fs::create_directories(In("music/x"));
  const std::string a = Wav("music/a.wav", 0.3, 0), b = Wav("music/x/b.wav", 0.3, 1),
                    c = Wav("music/c.wav", 0.3, 2);
  ASSERT_EQ(Cli("convert wav-wav -j 1 -o " + Quote(Out()) + " " + Quote(In("music"))).Status, 0);
  // a's output as old as its input (which counts as up to date), b's input newer than its
  // output, c's output older than its input: that one is replaced without a question.
  ASSERT_TRUE(Shell("touch -d '2020-01-01 00:00:00' " + Quote(a) + " " + Quote(Out("a.wav")) + " " +
                    Quote(Out("x/b.wav")) + " " + Quote(c)));
  ASSERT_TRUE(Shell("touch -d '2020-01-01 00:00:01' " + Quote(b)));
  ASSERT_TRUE(Shell("touch -d '2019-12-31 23:59:59' " + Quote(Out("c.wav"))));
  const auto mtime = [](const std::string& path) { return fs::last_write_time(path); };
  const auto aBefore = mtime(Out("a.wav")), bBefore = mtime(Out("x/b.wav"));
  const CliRun run = Cli("convert wav-wav -j 2 --update -o " + Quote(Out()) + " " + Quote(In("music")));
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(run.Says("skipped: " + a + ": up to date\n")) << run.Out;
  EXPECT_TRUE(run.Says("converted 2, skipped 1, failed 0")) << run.Out;
  EXPECT_EQ(mtime(Out("a.wav")), aBefore);
  EXPECT_GT(mtime(Out("x/b.wav")), bBefore);
  EXPECT_GT(mtime(Out("c.wav")), mtime(c));
}

// --- one output, one writer ----------------------------------------------------------------

// ffmpeg decodes the whole file without a word.
bool DecodesCleanly(const std::string& path) {
  return CaptureText("(ffmpeg -nostdin -v error -i " + Quote(path) + " -f null - 2>&1; echo status $?)") ==
         "status 0\n";
}

TEST_F(CliTest, OneBatchWritesEachOutputOnce_NeverOverAnInput) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  fs::create_directory(In("a"));
  fs::create_directory(In("b"));
  const std::string a = Wav("a/x.wav", 1, 0), b = Wav("b/x.wav", 2, 1);
  const CliRun two = Cli("convert wav-mp3 -j 2 -o " + Quote(Out()) + Joined({a, b}));
  EXPECT_EQ(two.Status, 1);
  EXPECT_TRUE(two.Says("converted 1, skipped 0, failed 1")) << two.Out;
  EXPECT_NE(two.Err.find("failed: " + b + ": the output file is also the output of " + a), std::string::npos)
      << two.Err;
  EXPECT_NEAR(Field(Probe(Out("x.mp3"), "format=duration"), "duration"), 1.0, 0.06) << "the first's file";
  EXPECT_TRUE(DecodesCleanly(Out("x.mp3")));

  // out/x.wav is an input: neither order replaces it.
  const std::string kept = Wav("kept.wav", 1, 2);
  fs::copy_file(kept, Out("x.wav"));
  const std::string before = ReadText(Out("x.wav"));
  for (const auto& files :
       {std::vector<std::string>{a, Out("x.wav")}, std::vector<std::string>{Out("x.wav"), a}}) {
    const CliRun run = Cli("convert wav-wav -j 2 --overwrite -o " + Quote(Out()) + Joined(files));
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Says("converted 0, skipped 0, failed 2")) << run.Out;
    EXPECT_NE(
        run.Err.find("failed: " + a + ": the output file is also an input of this batch: " + Out("x.wav")),
        std::string::npos)
        << run.Err;
    EXPECT_EQ(ReadText(Out("x.wav")), before);
  }
}

// Two names of one file are one output: the first replaces its name with a whole new file,
// the second fails naming the first, and its name keeps the old file. Replacing both names
// would be harmless with whole files renamed into place, but an append writes the file
// itself, and whether the user meant one file or two cannot be told.
TEST_F(CliTest, HardLinkedOutputsAreOneOutput) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const std::string x = Wav("x.wav", 3, 0), y = Wav("y.wav", 3, 1);
  const std::string old = "an older file under two names";
  std::ofstream(Out("x.mp3"), std::ios::binary) << old;
  fs::create_hard_link(Out("x.mp3"), Out("y.mp3"));
  const CliRun run = Cli("convert wav-mp3 -j 2 --overwrite -o " + Quote(Out()) + Joined({x, y}));
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(run.Says("converted 1, skipped 0, failed 1")) << run.Out;
  EXPECT_NE(run.Err.find("failed: " + y + ": the output file is also the output of " + x), std::string::npos)
      << run.Err;
  EXPECT_TRUE(DecodesCleanly(Out("x.mp3")));
  EXPECT_NEAR(Field(Probe(Out("x.mp3"), "format=duration"), "duration"), 3.0, 0.06);
  EXPECT_EQ(ReadText(Out("y.mp3")), old);
  EXPECT_EQ(Leftovers(Out(), {"x.mp3", "y.mp3"}), std::vector<std::string>{});
}

// Two programs writing one output name at once: each writes a file of its own and renames it,
// so the name ends up holding one of the two results whole.
TEST_F(CliTest, TwoProgramsOnOneOutputLeaveOneWholeResult) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  fs::create_directory(In("a"));
  fs::create_directory(In("b"));
  const std::vector<std::string> inputs = {Wav("a/x.wav", 40, 0), Wav("b/x.wav", 40, 1)};
  std::vector<std::string> alone;
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string folder = Out("alone" + std::to_string(i));
    fs::create_directory(folder);
    ASSERT_EQ(Cli("convert wav-mp3 -j 1 -o " + Quote(folder) + " " + Quote(inputs[i])).Status, 0);
    alone.push_back(ReadText(folder + "/x.mp3"));
  }
  ASSERT_NE(alone[0], alone[1]);

  fs::create_directory(Out("both"));
  // The second starts once the first has written part of its output, so that both write at once.
  const auto written = [&] {
    std::uintmax_t most = 0;
    for (const auto& entry : fs::directory_iterator(Out("both"))) {
      std::error_code ignored;
      most = std::max<std::uintmax_t>(most, entry.file_size(ignored));
    }
    return most;
  };
  std::vector<pid_t> children;
  int raws[2] = {-1, -1};
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string log = (home_ / ("run" + std::to_string(i))).string();
    children.push_back(
        StartCli(Env(), "convert wav-mp3 -j 1 --overwrite -o " + Quote(Out("both")) + " " + Quote(inputs[i]),
                 log + ".out", log + ".err"));
    ASSERT_GE(children.back(), 0);
    // Should the first end meanwhile (a loaded machine), the outcome must hold all the same.
    while (i == 0 && written() < 100000 && waitpid(children[0], &raws[0], WNOHANG) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a poll of the folder, not a timed wait
  }
  for (std::size_t i = 0; i < 2; ++i) {
    if (raws[i] == -1) {
      ASSERT_EQ(waitpid(children[i], &raws[i], 0), children[i]);
    }
    EXPECT_TRUE(WIFEXITED(raws[i]) && WEXITSTATUS(raws[i]) == 0) << raws[i];
  }
  const std::string result = ReadText(Out("both/x.mp3"));
  EXPECT_TRUE(result == alone[0] || result == alone[1]) << "a mixture of " << result.size() << " bytes";
  EXPECT_TRUE(DecodesCleanly(Out("both/x.mp3")));
  EXPECT_EQ(Leftovers(Out("both"), {"x.mp3"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace melvanto::testing
