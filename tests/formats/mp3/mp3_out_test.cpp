// TMP3Out end to end: WAV files encoded to MP3 and checked with tools no one here wrote
// (ffprobe, ffmpeg and lame decoding, TagLib reading the tags).

#include <gtest/gtest.h>
#include <taglib/tag_c.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "damaged_files.h"
#include "fakes.h"
#include "mp3_frames.h"
#include "mp3_out.h"
#include "stream.h"
#include "temp_dir.h"
#include "tools.h"
#include "wave_in.h"

namespace melvanto::testing {
namespace {

struct Source {
  unsigned bits, channels, rate;
  double seconds;
};

// Frames of PCM another tool decodes from a file, or -1.
long DecodedFrames(const std::string& command, unsigned channels) {
  const auto pcm = Capture(command);
  return pcm ? static_cast<long>(pcm->size() / (2 * channels)) : -1;
}

double SampleAt(const std::vector<std::uint8_t>& pcm, std::size_t i) {
  return static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)) / 32768.0;
}

// Root mean square of 16-bit PCM, 1.0 being full scale.
double Rms(const std::vector<std::uint8_t>& pcm) {
  double sum = 0;
  const std::size_t n = pcm.size() / 2;
  for (std::size_t i = 0; i < n; ++i) sum += SampleAt(pcm, i) * SampleAt(pcm, i);
  return n > 0 ? std::sqrt(sum / n) : 0;
}

// The difference of two 16-bit PCM signals relative to the second's level.
double RelativeError(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double diff = 0, ref = 0;
  for (std::size_t i = 0; i < a.size() / 2; ++i) {
    diff += (SampleAt(a, i) - SampleAt(b, i)) * (SampleAt(a, i) - SampleAt(b, i));
    ref += SampleAt(b, i) * SampleAt(b, i);
  }
  return std::sqrt(diff / ref);
}

class Mp3Out : public ::testing::Test {
 protected:
  void SetUp() override {
    MELVANTO_REQUIRE_COMMAND("sox");
    MELVANTO_REQUIRE_COMMAND("ffmpeg");
    MELVANTO_REQUIRE_COMMAND("lame");
  }
  void TearDown() override {
    SetLameLibraryNameForTesting("libmp3lame.so.0");
    SetTagLibLibraryNameForTesting("libtag_c.so.0");
  }

  // A WAV of two tones made by sox; returns its path.
  std::string MakeWav(const std::string& name, const Source& s) {
    const std::string path = (dir / name).string();
    const std::string cmd = "sox -R -V1 -n -r " + std::to_string(s.rate) + " -c " + std::to_string(s.channels) +
                            " -b " + std::to_string(s.bits) + " " + path + " synth " + std::to_string(s.seconds) +
                            " sine 440 sine 660 gain -3";
    EXPECT_TRUE(Shell(cmd)) << cmd;
    return path;
  }

  std::string Encode(TMP3Out& out, const std::string& wav, const std::string& mp3) {
    TWaveIn in;
    in.SetFileName(wav);
    out.SetFileName((dir / mp3).string());
    return RunOnce(out, in);
  }

  std::string Probe(const std::string& mp3, const std::string& entries) {
    return CaptureText("ffprobe -v error -select_streams a:0 -show_entries " + entries + " -of csv=p=0 " +
                       (dir / mp3).string());
  }

  TempDir dir;
};

TEST_F(Mp3Out, DecodesToExactlyTheInputsLength) {
  struct Case {
    const char* what;
    Source source;
    bool vbr;
    TMP3BitRate average;
  } cases[] = {
      {"16-bit stereo CBR 128", {16, 2, 44100, 1.5}, false, TMP3BitRate::mbrAuto},
      {"24-bit stereo 48 kHz VBR 4", {24, 2, 48000, 1.2}, true, TMP3BitRate::mbrAuto},
      {"16-bit mono 8 kHz CBR", {16, 1, 8000, 2.0}, false, TMP3BitRate::mbrAuto},
      {"16-bit stereo ABR 160", {16, 2, 44100, 1.0}, true, TMP3BitRate::mbr160},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string wav = MakeWav("in.wav", c.source);
    TMP3Out out;
    out.SetEnableVBR(c.vbr);
    if (c.vbr) {
      out.SetBitRate(TMP3BitRate::mbr32);
      out.SetVBRQuality(TMP3Quality::mp3ql4);
    }
    out.SetAverageBitrate(c.average);
    if (c.source.rate == 8000) out.SetBitRate(TMP3BitRate::mbr32);
    ASSERT_EQ(Encode(out, wav, "out.mp3"), "");
    const std::string mp3 = (dir / "out.mp3").string();

    const long frames = std::lround(c.source.seconds * c.source.rate);
    EXPECT_EQ(Probe("out.mp3", "stream=codec_name,sample_rate,channels"),
              "mp3," + std::to_string(c.source.rate) + "," + std::to_string(c.source.channels) + "\n");
    EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + mp3 + " -f s16le -", c.source.channels), frames);
    ASSERT_TRUE(Shell("lame --quiet --decode " + mp3 + " " + (dir / "back.wav").string()));
    EXPECT_EQ(CaptureText("soxi -s " + (dir / "back.wav").string()), std::to_string(frames) + "\n");
    if (!c.vbr) {
      EXPECT_EQ(Probe("out.mp3", "stream=bit_rate"), c.source.rate == 8000 ? "32000\n" : "128000\n");
    }
  }
}

// The bit reservoir is on by default, as in the lame tool: CBR 128 gives the tool's size and
// length, and frames borrow space from earlier ones. Off, no frame does, as with `--nores`.
TEST_F(Mp3Out, BitReservoirOnByDefaultLikeTheLameTool_OffLeavesEveryFrameAlone) {
  const std::string wav = MakeWav("in.wav", {16, 2, 44100, 3.0});
  const auto begins = [](const std::vector<Mp3Frame>& frames) {
    unsigned borrowing = 0;
    for (const Mp3Frame& f : frames) borrowing += f.MainDataBegin > 0 ? 1 : 0;
    return borrowing;
  };
  for (const bool reservoir : {true, false}) {
    SCOPED_TRACE(reservoir);
    TMP3Out out;
    if (!reservoir) out.SetEnableBitReservoir(false);
    ASSERT_EQ(Encode(out, wav, "ours.mp3"), "");
    const std::string ours = (dir / "ours.mp3").string(), theirs = (dir / "lame.mp3").string();
    ASSERT_TRUE(Shell(std::string("lame --quiet -b 128 ") + (reservoir ? "" : "--nores ") + wav + " " + theirs));

    const auto ourFrames = Mp3Frames(FileBytes(ours));
    const auto lameFrames = Mp3Frames(FileBytes(theirs));
    ASSERT_GT(ourFrames.size(), 100u);
    EXPECT_EQ(ourFrames.size(), lameFrames.size());
    // The same audio size; around it our file has its tags, which the tool writes none of.
    const auto audioBytes = [](const std::vector<Mp3Frame>& frames) {
      return frames.back().Offset + frames.back().Bytes - frames.front().Offset;
    };
    EXPECT_EQ(audioBytes(ourFrames), audioBytes(lameFrames));
    EXPECT_EQ(audioBytes(lameFrames), std::filesystem::file_size(theirs));
    EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + ours + " -f s16le -", 2),
              DecodedFrames("ffmpeg -v error -i " + theirs + " -f s16le -", 2));
    EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + ours + " -f s16le -", 2), 3 * 44100);
    if (reservoir) {
      EXPECT_GT(begins(ourFrames), ourFrames.size() / 4);
      EXPECT_GT(begins(lameFrames), 0u);
    } else {
      EXPECT_EQ(begins(ourFrames), 0u);
      EXPECT_EQ(begins(lameFrames), 0u);
    }
  }
}

// VBR with the reservoir chooses the frames the lame tool chooses (same settings): the same
// audio bytes after the Info frame, so the same size.
TEST_F(Mp3Out, VbrFramesAreTheLameToolsWithTheReservoir) {
  ASSERT_TRUE(Shell("sox -R -V1 -n -r 44100 -c 2 -b 16 " + (dir / "mix.wav").string() +
                    " synth 4 pinknoise synth 4 sine mix 440 gain -6"));
  const std::string wav = (dir / "mix.wav").string();
  TMP3Out out;
  out.SetEnableVBR(true);
  out.SetBitRate(TMP3BitRate::mbr32);
  out.SetMaximumBitrate(TMP3BitRate::mbr320);
  out.SetVBRQuality(TMP3Quality::mp3ql4);
  ASSERT_EQ(Encode(out, wav, "ours.mp3"), "");
  const std::string theirs = (dir / "lame.mp3").string();
  ASSERT_TRUE(Shell("lame --quiet --noreplaygain -m s -V 4 -b 32 " + wav + " " + theirs));
  const auto ours = FileBytes((dir / "ours.mp3").string()), lame = FileBytes(theirs);
  const auto ourFrames = Mp3Frames(ours), lameFrames = Mp3Frames(lame);
  ASSERT_EQ(ourFrames.size(), lameFrames.size());
  ASSERT_GT(ourFrames.size(), 100u);
  const auto audio = [](const std::vector<std::uint8_t>& file, const std::vector<Mp3Frame>& frames) {
    return std::vector<std::uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(frames[1].Offset),
                                     file.begin() + static_cast<std::ptrdiff_t>(frames.back().Offset + frames.back().Bytes));
  };
  EXPECT_TRUE(audio(ours, ourFrames) == audio(lame, lameFrames));
}

TEST_F(Mp3Out, AverageBitRateLandsNearItsTarget) {
  const std::string wav = MakeWav("in.wav", {16, 2, 44100, 4.0});
  TMP3Out out;
  out.SetEnableVBR(true);
  out.SetBitRate(TMP3BitRate::mbr32);
  out.SetAverageBitrate(TMP3BitRate::mbr160);
  ASSERT_EQ(Encode(out, wav, "abr.mp3"), "");
  const double bitrate = std::stod(Probe("abr.mp3", "format=bit_rate"));
  // Two steady tones need less than the target: with the bit reservoir the lame tool, given
  // the same settings, stays below it as well (near 128 kbit/s).
  ASSERT_TRUE(Shell("lame --quiet --abr 160 -b 32 -m s " + wav + " " + (dir / "tool.mp3").string()));
  EXPECT_NEAR(bitrate, std::stod(Probe("tool.mp3", "format=bit_rate")), 8000);
  EXPECT_NEAR(bitrate, 160000, 40000);

  // A minimum above the target would overrule it.
  TMP3Out low;
  low.SetEnableVBR(true);
  low.SetAverageBitrate(TMP3BitRate::mbr96);  // BitRate keeps its 128
  ASSERT_EQ(Encode(low, wav, "low.mp3"), "");
  EXPECT_NEAR(std::stod(Probe("low.mp3", "format=bit_rate")), 96000, 16000);
}

TEST_F(Mp3Out, OtherWidthsAndChannelCountsBecomeWhatLameTakes) {
  for (const Source& s : {Source{8, 1, 22050, 1.0}, Source{32, 2, 44100, 1.0}, Source{16, 6, 48000, 1.0}}) {
    SCOPED_TRACE(std::to_string(s.bits) + " bits, " + std::to_string(s.channels) + " channels");
    const std::string wav = MakeWav("in.wav", s);
    TMP3Out out;
    ASSERT_EQ(Encode(out, wav, "out.mp3"), "");
    const unsigned channels = s.channels > 2 ? 2 : s.channels;
    EXPECT_EQ(Probe("out.mp3", "stream=channels"), std::to_string(channels) + "\n");
    const std::string mp3 = (dir / "out.mp3").string();
    EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + mp3 + " -f s16le -", channels), std::lround(s.seconds * s.rate));
    // Music, not noise: the decoding follows the source sample for sample (the mix of
    // six channels has no such reference; its level must still be sane).
    const auto decoded = Capture("ffmpeg -v error -i " + mp3 + " -f s16le -");
    ASSERT_TRUE(decoded);
    if (s.channels <= 2) {
      const auto source = Capture("sox -V1 " + wav + " -t s16 -L -");
      ASSERT_TRUE(source);
      EXPECT_LT(RelativeError(*decoded, *source), 0.1);
    } else {
      EXPECT_GT(Rms(*decoded), 0.1);
      EXPECT_LT(Rms(*decoded), 0.6);
    }
  }
}

TEST_F(Mp3Out, StereoInputInMonoModeIsMixedToMono) {
  const std::string wav = MakeWav("in.wav", {16, 2, 44100, 1.0});
  TMP3Out out;
  out.SetMode(TMP3Mode::mmMono);
  ASSERT_EQ(Encode(out, wav, "mono.mp3"), "");
  EXPECT_EQ(Probe("mono.mp3", "stream=channels"), "1\n");
  EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + (dir / "mono.mp3").string() + " -f s16le -", 1), 44100);
}

TEST_F(Mp3Out, TagsReadBackByTagLibAndTheRecordAtTheEnd) {
  const std::string wav = MakeWav("in.wav", {16, 2, 44100, 0.5});
  TMP3Out out;
  TId3v2Tags v2;
  v2.SetTitle(u"Caf\u00e9 \u65e5\u672c");
  v2.SetArtist(u"Bj\u00f6rk");
  v2.SetAlbum(u"\u041a\u0438\u043d\u043e");
  v2.SetGenre(u"Rock");
  v2.SetYear("1999-05-01");  // a full date gives its year
  v2.SetTrack("7/12");       // a track of a total gives its track
  out.SetId3v2Tags(&v2);
  TId3v1Tags v1;
  v1.SetTitle("Caf\xe9");
  v1.SetArtist("Bj\xf6rk");
  v1.SetYear(1999);
  v1.SetTrack(7);
  v1.SetGenre("Rock");
  v1.SetComment("a comment");
  out.SetId3v1Tags(&v1);
  ASSERT_EQ(Encode(out, wav, "tagged.mp3"), "");
  const std::string mp3 = (dir / "tagged.mp3").string();

  taglib_set_strings_unicode(1);
  TagLib_File* file = taglib_file_new(mp3.c_str());
  ASSERT_NE(file, nullptr);
  TagLib_Tag* tag = taglib_file_tag(file);
  EXPECT_STREQ(taglib_tag_title(tag), "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac");
  EXPECT_STREQ(taglib_tag_artist(tag), "Bj\xc3\xb6rk");
  EXPECT_STREQ(taglib_tag_album(tag), "\xd0\x9a\xd0\xb8\xd0\xbd\xd0\xbe");
  EXPECT_STREQ(taglib_tag_genre(tag), "Rock");
  EXPECT_EQ(taglib_tag_year(tag), 1999u);
  EXPECT_EQ(taglib_tag_track(tag), 7u);
  taglib_tag_free_strings();
  taglib_file_free(file);

  // The record at the end is ours, byte for byte, after TagLib's save: comment, track and
  // genre included.
  const auto bytes = dir.Contents("tagged.mp3");
  ASSERT_GT(bytes.size(), 128u);
  const TId3v1Record expected = MakeId3v1Record(v1, TId3v1YearForm::FourDigitsOnly);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.end() - 128, bytes.end()),
            std::vector<std::uint8_t>(expected.begin(), expected.end()));
  EXPECT_NE(std::string(bytes.end() - 256, bytes.end() - 253), "TAG");  // and only one
  // And the audio still decodes to its full length behind the tag.
  EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + mp3 + " -f s16le -", 2), 22050);
}

// What TagLib's integer calls cannot carry reaches the file whole: the date, the track with
// its total, the comment in full with its language, the copyright and the cover. Read by
// mutagen and ffprobe; the audio still decodes whole with lame and ffmpeg.
TEST_F(Mp3Out, TheWholeTagReadsBackInMutagenAndFfprobe) {
  const std::string python = PythonWithMutagen();
  MELVANTO_REQUIRE_TOOL(!python.empty(), "python3-mutagen");
  const std::string wav = MakeWav("in.wav", {16, 2, 44100, 0.5});
  std::vector<std::uint8_t> cover(3000);
  for (std::size_t i = 0; i < cover.size(); ++i) cover[i] = static_cast<std::uint8_t>(i * 31 + 7);
  for (const std::string name : {"small.mp3", "cover.mp3"}) {
    SCOPED_TRACE(name);
    TMP3Out out;
    TId3v2Tags v2;
    v2.SetTitle(u"Caf\u00e9");
    v2.SetYear("2003-04-05");
    v2.SetTrack("3/12");
    v2.SetComment(u"Gr\u00fc\u00dfe \u65e5\u672c, a comment longer than the record's thirty");
    v2.SetCommentLanguage("deu");
    v2.SetCopyright(u"\u00a9 2003 \u03a9mega");
    if (name == "cover.mp3") v2.SetPictures({{"image/jpeg", 3, u"Front", cover}});
    out.SetId3v2Tags(&v2);
    TId3v1Tags v1;
    v1.SetTitle("Caf\xe9");
    v1.SetYear(2003);
    v1.SetTrack(3);
    out.SetId3v1Tags(&v1);
    ASSERT_EQ(Encode(out, wav, name), "");
    const std::string mp3 = (dir / name).string();

    const std::string coverPath = (dir / "cover.bin").string();
    std::ofstream(coverPath, std::ios::binary).write(reinterpret_cast<const char*>(cover.data()), cover.size());
    const std::string read = CaptureText(
        python + " -c '\nimport sys, mutagen.id3\nt = mutagen.id3.ID3(sys.argv[1])\n"
        "c = t.getall(\"COMM\")[0]\n"
        "print(t.version[1], t[\"TDRC\"].text[0], t[\"TRCK\"].text[0], c.lang, c.text[0], t[\"TCOP\"].text[0], sep=\"|\")\n"
        "for p in t.getall(\"APIC\"): print(p.mime, int(p.type), p.desc, p.data == open(sys.argv[2], \"rb\").read())\n' " +
        mp3 + " " + coverPath);
    std::string expected = "4|2003-04-05|3/12|deu|Grüße 日本, a comment longer than the record's thirty|© 2003 Ωmega\n";
    if (name == "cover.mp3") expected += "image/jpeg 3 Front True\n";
    EXPECT_EQ(read, expected);

    const std::string probed = CaptureText("ffprobe -v error -show_entries format_tags=date,track,copyright -of "
                                           "default=nw=1 " + mp3);
    EXPECT_NE(probed.find("TAG:date=2003-04-05"), std::string::npos) << probed;
    EXPECT_NE(probed.find("TAG:track=3/12"), std::string::npos) << probed;
    EXPECT_NE(probed.find("TAG:copyright=© 2003 Ωmega"), std::string::npos) << probed;

    // The record keeps its place at the end, and the audio decodes to its full length.
    const auto bytes = dir.Contents(name);
    EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
    EXPECT_EQ(std::string(bytes.end() - 35, bytes.end() - 31), "2003");
    EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + mp3 + " -f s16le -", 2), 22050);
    EXPECT_EQ(DecodedFrames("lame --quiet --decode -t " + mp3 + " -", 2), 22050);
  }
}

TEST_F(Mp3Out, WithoutTagLibOurWritersStillTagTheFile) {
  SetTagLibLibraryNameForTesting("libmelvanto-no-such-taglib.so");
  const std::string wav = MakeWav("in.wav", {16, 1, 44100, 0.3});
  TMP3Out out;
  TId3v1Tags v1;
  v1.SetTitle(std::string(40, 't'));
  v1.SetArtist("Artist");
  v1.SetYear(999);  // not four digits: left out
  v1.SetTrack(3);
  v1.SetComment(std::string(30, 'c'));
  v1.SetGenreId(255);
  out.SetId3v1Tags(&v1);
  TId3v2Tags v2;
  v2.SetTitle(u"Written all the same");
  out.SetId3v2Tags(&v2);
  ASSERT_EQ(Encode(out, wav, "plain.mp3"), "");
  const auto bytes = dir.Contents("plain.mp3");
  ASSERT_GT(bytes.size(), 128u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "ID3");
  EXPECT_EQ(CaptureText("ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 " +
                 (dir / "plain.mp3").string()),
            "Written all the same\n");
  const std::uint8_t* r = bytes.data() + bytes.size() - 128;
  std::vector<std::uint8_t> expected(128, 0);
  std::memcpy(expected.data(), "TAG", 3);
  std::memset(&expected[3], 't', 30);
  std::memcpy(&expected[33], "Artist", 6);
  std::memset(&expected[97], 'c', 28);
  expected[126] = 3;
  expected[127] = 255;
  EXPECT_EQ(std::vector<std::uint8_t>(r, r + 128), expected);
  EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + (dir / "plain.mp3").string() + " -f s16le -", 1), 13230);
}

TEST_F(Mp3Out, FailuresAreReportedWithTheirMessages) {
  const std::string wav = MakeWav("in.wav", {16, 2, 44100, 0.1});
  {
    SetLameLibraryNameForTesting("libmelvanto-no-such-lame.so");
    TMP3Out out;
    std::string reported;
    out.SetOnThreadException([&](TComponent* sender) { reported = static_cast<TAuOutput*>(sender)->ExceptionMessage(); });
    EXPECT_EQ(Encode(out, wav, "nolame.mp3"), "lame_enc.dll library could not be loaded.");
    EXPECT_EQ(reported, "lame_enc.dll library could not be loaded.");
    EXPECT_FALSE(std::filesystem::exists(dir / "nolame.mp3"));
    SetLameLibraryNameForTesting("libmp3lame.so.0");
  }
  {
    TMP3Out out;
    TWaveIn in;
    in.SetFileName(wav);
    EXPECT_EQ(RunOnce(out, in), "File name is not assigned.");
  }
  {
    // A format the encoder cannot take: the created file stays, empty.
    TMemoryIn odd(std::vector<std::uint8_t>(1200, 0), {12, 2, 44100});
    TMP3Out out;
    out.SetFileName((dir / "odd.mp3").string());
    EXPECT_EQ(RunOnce(out, odd), "LAME Error: 1");
    EXPECT_EQ(std::filesystem::file_size(dir / "odd.mp3"), 0u);
  }
  {
    // The output runs again after a failure.
    TMP3Out out;
    EXPECT_EQ(Encode(out, wav, "again.mp3"), "");
    EXPECT_GT(std::filesystem::file_size(dir / "again.mp3"), 128u);
  }
}

// TagLib cannot open a file whose name it does not know as MP3: the tags fail, quietly
// as every failure of the finishing step, and the file keeps its audio and record.
TEST_F(Mp3Out, AFailedTagWriteLeavesACompleteFileAndTheRunSaysSo) {
  const std::string wav = MakeWav("in.wav", {16, 2, 44100, 0.5});
  TMP3Out out;
  TId3v2Tags v2;
  v2.SetTitle(u"x");
  out.SetId3v2Tags(&v2);
  // No event reports it, but the run's message does (RunOnce also checks the input was released).
  EXPECT_EQ(Encode(out, wav, "out.unknown"), "Failed to write tags");
  const auto bytes = dir.Contents("out.unknown");
  ASSERT_GT(bytes.size(), 128u);
  EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
  EXPECT_EQ(DecodedFrames("ffmpeg -v error -f mp3 -i " + (dir / "out.unknown").string() + " -f s16le -", 2), 22050);
}

TEST_F(Mp3Out, ACallersStreamGetsNoPlaceholderFrame) {
  TMemoryStream stream;
  TMemoryIn pcm(Ramp(44100 * 4 / 2), {16, 2, 44100});
  TMP3Out out;
  out.SetStream(&stream);
  out.SetFileName((dir / "unused.mp3").string());  // a caller's stream wins over a name
  ASSERT_EQ(RunOnce(out, pcm), "");
  const std::vector<std::uint8_t>& bytes = stream.Bytes();
  ASSERT_GT(bytes.size(), 1000u);
  const std::string head(bytes.begin(), bytes.begin() + 400);
  EXPECT_EQ(head.find("Info"), std::string::npos);
  EXPECT_EQ(head.find("Xing"), std::string::npos);
  EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
  EXPECT_FALSE(std::filesystem::exists(dir / "unused.mp3"));
}

TEST_F(Mp3Out, AnEmptyInputStillMakesAFile) {
  // Without TagLib, which would remove a record that holds no values.
  SetTagLibLibraryNameForTesting("libmelvanto-no-such-taglib.so");
  TMemoryIn empty({}, {16, 2, 44100});
  TMP3Out out;
  out.SetFileName((dir / "empty.mp3").string());
  ASSERT_EQ(RunOnce(out, empty), "");
  const auto bytes = dir.Contents("empty.mp3");
  ASSERT_GE(bytes.size(), 128u);
  EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
  // Frames from the encoder's flush, the first being the filled-in Info frame.
  ASSERT_GT(bytes.size(), 128u + 200);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "Info");
}

// Each encoder's Info frame goes into its own file, also when they finish at once.
TEST_F(Mp3Out, EncodersRunningAtOnceKeepTheirOwnInfoFrames) {
  const std::string a = MakeWav("a.wav", {16, 2, 44100, 3.0});
  const std::string b = MakeWav("b.wav", {16, 2, 44100, 1.0});
  TWaveIn inA, inB;
  inA.SetFileName(a);
  inB.SetFileName(b);
  TMP3Out outA, outB;
  outA.SetFileName((dir / "a.mp3").string());
  outB.SetFileName((dir / "b.mp3").string());
  std::atomic<int> done{0};
  outA.SetOnDone([&](TComponent*) { ++done; });
  outB.SetOnDone([&](TComponent*) { ++done; });
  outA.SetInput(&inA);
  outB.SetInput(&inB);
  outA.Run();
  outB.Run();
  ASSERT_TRUE(PumpUntil([&] { return done == 2; }));
  EXPECT_EQ(outA.ExceptionMessage(), "");
  EXPECT_EQ(outB.ExceptionMessage(), "");
  EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + (dir / "a.mp3").string() + " -f s16le -", 2), 132300);
  EXPECT_EQ(DecodedFrames("ffmpeg -v error -i " + (dir / "b.mp3").string() + " -f s16le -", 2), 44100);
}

}  // namespace
}  // namespace melvanto::testing
