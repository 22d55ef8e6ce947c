// TWMAOut end to end: PCM encoded to WMA through the runtime stand-in and checked with
// ffprobe and ffmpeg; the format choice, the attributes and every failure message.

#include "wma_out.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio_checks.h"
#include "fakes.h"
#include "temp_dir.h"
#include "tools.h"
#include "wm_in.h"

namespace melvanto::testing {
namespace {

const char kBeginRefused[] = "Failed to set data writer, possible reason: required WMA codec not installed.";

TEST(WmaOut, ListsCodecsAndFormatsForTheWindows) {
  TWMAOut out;
  EXPECT_EQ(out.CodecIndex(), -1);
  EXPECT_EQ(out.FormatIndex(), 0);
  EXPECT_EQ(out.DesiredBitrate(), 0u);
  EXPECT_EQ(out.Codecs(), (std::vector<std::string>{"Windows Media Audio V2", "Windows Media Audio V1"}));

  const auto formats = out.Formats(0);
  ASSERT_GT(formats.size(), 29u);
  EXPECT_EQ(formats[29], "128 kbps, 44 kHz, stereo CBR") << "the options dialog's default";
  // The main window's default search, without regard to case.
  bool found = false;
  for (std::size_t c = 0; c < out.Codecs().size() && !found; ++c)
    for (std::string f : out.Formats(static_cast<std::int32_t>(c))) {
      std::transform(f.begin(), f.end(), f.begin(), [](unsigned char ch) { return std::tolower(ch); });
      if (f.find("96 kbps, 44 khz, stereo cbr") != std::string::npos) found = true;
    }
  EXPECT_TRUE(found);
  EXPECT_FALSE(out.Formats(1).empty());
  EXPECT_TRUE(out.Formats(2).empty()) << "no codec at that position";
  EXPECT_TRUE(out.Formats(-1).empty());

  // No variable-bit-rate or lossless encoder exists: the codec refuses and the list is empty.
  out.SetVBR(true);
  EXPECT_TRUE(out.Formats(0).empty());
  out.SetVBR(false);
  out.SetLossless(true);
  EXPECT_TRUE(out.Formats(0).empty());
}

class WmaOutRun : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) { return (dir / name).string(); }
  TempDir dir;
};

TEST_F(WmaOutRun, WritesAWmaFileWithTheTagsAsAttributes) {
  MELVANTO_REQUIRE_COMMAND("ffprobe");
  const std::size_t frames = 44100 * 2 + 1001;
  TMemoryIn in(Pcm16(Chirp(frames, 44100), 2), {16, 2, 44100});
  TWMAOut out;
  // A name with a colon and a non-ASCII letter: no FFmpeg protocol is involved in writing it.
  out.SetFileName(Path("tags:é.wma"));
  out.SetCodecIndex(0);
  out.SetFormatIndex(29);
  TId3v2Tags* tags = out.Id3v2Tags();
  tags->SetTitle(u"Título");
  tags->SetArtist(u"The Artist");
  tags->SetAlbum(u"The Album");
  tags->SetGenre(u"Jazz");
  tags->SetYear("2001");
  tags->SetTrack("12");
  tags->SetComment(u"Some comment");
  ASSERT_EQ(RunOnce(out, in), "");

  const std::string s =
      Probe(Path("tags:é.wma"), "stream=codec_name,sample_rate,channels,bit_rate:format_tags");
  EXPECT_NE(s.find("codec_name=wmav2"), std::string::npos) << s;
  EXPECT_NE(s.find("sample_rate=44100"), std::string::npos) << s;
  EXPECT_NE(s.find("channels=2"), std::string::npos) << s;
  EXPECT_EQ(Field(s, "bit_rate"), 128000) << s;
  for (const char* tag :
       {"TAG:title=Título", "TAG:artist=The Artist", "TAG:album=The Album", "TAG:genre=Jazz",
        "TAG:WM/Year=2001", "TAG:track=12", "TAG:comment=Some comment"})
    EXPECT_NE(s.find(tag), std::string::npos) << tag << "\n" << s;
  const auto decoded = DecodeMono16(Path("tags:é.wma"));
  EXPECT_GE(decoded.size(), frames);
  EXPECT_LT(decoded.size(), frames + 2048);
}

TEST_F(WmaOutRun, EmptyTagsWriteNoAttribute) {
  MELVANTO_REQUIRE_COMMAND("ffprobe");
  TMemoryIn in(Pcm16(Chirp(22050, 44100), 2), {16, 2, 44100});
  TWMAOut out;
  out.SetFileName(Path("none.wma"));
  out.SetDesiredBitrate(128);
  out.Id3v2Tags()->SetArtist(u"");
  ASSERT_EQ(RunOnce(out, in), "");
  const std::string s = Probe(Path("none.wma"), "stream=codec_name:format_tags");
  EXPECT_NE(s.find("codec_name=wmav2"), std::string::npos) << s;
  EXPECT_EQ(s.find("TAG:"), std::string::npos) << s;
}

TEST_F(WmaOutRun, ConvertedPcmKeepsEverySampleInPlace) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  const auto chirp = Chirp(44100 * 2 + 517, 44100);
  TMemoryIn in(Pcm16(chirp, 2), {16, 2, 44100}, 1000);  // blocks that end mid-frame
  TWMAOut out;
  out.SetFileName(Path("chirp.wma"));
  out.SetDesiredBitrate(128);
  ASSERT_EQ(RunOnce(out, in), "");
  const auto decoded = DecodeMono16(Path("chirp.wma"));
  EXPECT_EQ(BestLag(chirp, decoded, 3000), 0);
  EXPECT_GE(decoded.size(), chirp.size());
  EXPECT_LT(decoded.size(), chirp.size() + 2048);
}

TEST_F(WmaOutRun, TargetBitRateRuleThroughTheChosenProfile) {
  TMemoryIn in(Pcm16(Chirp(8000, 44100), 2), {16, 2, 44100});
  TWMAOut out;
  out.SetFileName(Path("target.wma"));
  // Below 1000 the value is kbit/s.
  out.SetDesiredBitrate(128);
  ASSERT_EQ(RunOnce(out, in), "");
  EXPECT_EQ(out.ChosenFormat().BitRate, 128000u);
  EXPECT_EQ(out.ChosenFormat().SampleRate, 44100u);
  EXPECT_EQ(out.ChosenFormat().Channels, 2);
  // 999 kbit/s: the nearest is the highest 44 kHz stereo format.
  out.SetDesiredBitrate(999);
  ASSERT_EQ(RunOnce(out, in), "");
  EXPECT_EQ(out.ChosenFormat().BitRate, 320000u);
  EXPECT_EQ(out.ChosenFormat().SampleRate, 44100u);
  // 1000 stays 1000 bit/s, which no format comes nearer to than nothing at all.
  out.SetDesiredBitrate(1000);
  EXPECT_EQ(RunOnce(out, in), "Failed to init codec");
  EXPECT_EQ(out.ChosenFormat().BitRate, 0u);
}

TEST_F(WmaOutRun, InputTheEncoderCannotTakeIsConvertedAndTheProfileSaysWhatIsWritten) {
  MELVANTO_REQUIRE_COMMAND("ffprobe");
  // Six channels of 24-bit PCM at 96 kHz.
  std::vector<std::uint8_t> pcm;
  for (float s : Chirp(96000, 96000)) {
    const auto v = static_cast<std::int32_t>(std::lround(s * 8388607));
    for (int c = 0; c < 6; ++c)
      for (int b = 0; b < 3; ++b) pcm.push_back(static_cast<std::uint8_t>((v >> (8 * b)) & 0xFF));
  }
  TMemoryIn in(std::move(pcm), {24, 6, 96000});
  TWMAOut out;
  out.SetFileName(Path("six.wma"));
  out.SetDesiredBitrate(128);
  ASSERT_EQ(RunOnce(out, in), "");
  // Wanted: stereo at 48 kHz; the first format at the nearest bit rate is 44 kHz, and a
  // later one at the same bit rate is no nearer.
  const wmf::TCodecFormat chosen = out.ChosenFormat();
  EXPECT_EQ(chosen.SampleRate, 44100u);
  EXPECT_EQ(chosen.Channels, 2);
  EXPECT_EQ(chosen.BitRate, 128000u);
  const std::string s = Probe(Path("six.wma"), "stream=sample_rate,channels:format=duration");
  EXPECT_NE(s.find("sample_rate=" + std::to_string(chosen.SampleRate)), std::string::npos) << s;
  EXPECT_NE(s.find("channels=2"), std::string::npos) << s;
  EXPECT_NEAR(Field(s, "duration"), 1.0, 0.1) << s;

  // Twelve channels, beyond any standard layout, are mixed down too.
  TMemoryIn twelve(Pcm16(Chirp(44100, 44100), 12), {16, 12, 44100});
  out.SetFileName(Path("twelve.wma"));
  ASSERT_EQ(RunOnce(out, twelve), "");
  const auto mixed = DecodeMono16(Path("twelve.wma"));
  ASSERT_FALSE(mixed.empty());
  EXPECT_GT(*std::max_element(mixed.begin(), mixed.end()), 8000) << "not silence";

  // And 8-bit mono into a 44 kHz stereo format chosen by position.
  std::vector<std::uint8_t> bytes(22050);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(128 + 100 * std::sin(i * 0.1));
  TMemoryIn eight(std::move(bytes), {8, 1, 22050});
  out.SetFileName(Path("eight.wma"));
  out.SetCodecIndex(1);
  out.SetFormatIndex(29);
  ASSERT_EQ(RunOnce(out, eight), "");
  const std::string e = Probe(Path("eight.wma"), "stream=codec_name,sample_rate,channels:format=duration");
  EXPECT_NE(e.find("codec_name=wmav1"), std::string::npos) << e;
  EXPECT_NE(e.find("sample_rate=44100"), std::string::npos) << e;
  EXPECT_NEAR(Field(e, "duration"), 1.0, 0.1) << e;
}

TEST_F(WmaOutRun, FailuresGiveTheirMessagesAndLeaveNothingOpen) {
  TMemoryIn in(Pcm16(Chirp(4410, 44100), 2), {16, 2, 44100});
  TWMAOut out;
  EXPECT_EQ(RunOnce(out, in), "File name is not assigned.");

  out.SetFileName(Path("missing/x.wma"));
  EXPECT_EQ(RunOnce(out, in), "Cannot create file");

  out.SetFileName(Path("x.wma"));
  out.SetCodecIndex(2);  // beyond the codecs
  EXPECT_EQ(RunOnce(out, in), kBeginRefused);
  out.SetCodecIndex(0);
  out.SetFormatIndex(1000);  // beyond the formats
  EXPECT_EQ(RunOnce(out, in), kBeginRefused);

  // VBR: by position the codec refuses the switch, so no profile; by target none qualifies.
  out.SetFormatIndex(29);
  out.SetVBR(true);
  EXPECT_EQ(RunOnce(out, in), kBeginRefused);
  out.SetCodecIndex(-1);
  out.SetVBRQuality(90);
  EXPECT_EQ(RunOnce(out, in), "Failed to init codec");
  out.SetVBR(false);
  out.SetLossless(true);
  EXPECT_EQ(RunOnce(out, in), "Failed to init codec");

  // PCM the writer cannot read (12-bit samples) is refused, not read as 16-bit.
  out.SetLossless(false);
  out.SetDesiredBitrate(128);
  TMemoryIn twelveBit(std::vector<std::uint8_t>(3000), {12, 2, 44100});
  EXPECT_EQ(RunOnce(out, twelveBit), kBeginRefused);

  // And the same output works again afterwards.
  out.SetLossless(false);
  out.SetDesiredBitrate(64);
  EXPECT_EQ(RunOnce(out, in), "");
  EXPECT_EQ(out.ChosenFormat().BitRate, 64000u);
}

TEST_F(WmaOutRun, AWriteErrorReportedByTheRuntimeEndsTheRun) {
  TMemoryIn in(Pcm16(Chirp(44100 * 10, 44100), 2), {16, 2, 44100});
  TWMAOut out;
  // The error callback alone stores the runtime's message.
  out.HandleError(0);
  EXPECT_EQ(out.ExceptionMessage(), "Windows Media output error.");

  out.SetFileName(Path("full.wma"));
  out.SetDesiredBitrate(128);
  // The file may not grow past 16 KiB: writes beyond fail with EFBIG instead of a signal.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 16384;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string message = RunOnce(out, in);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(message, "Windows Media output error");
  EXPECT_LT(in.Position(), static_cast<std::int64_t>(44100 * 4 * 10)) << "the run stopped early";
}

// The tags of a file as mutagen reads them, one "name=value" a line in name order; each
// picture as "WM/Picture=type|MIME|description|N", its data saved to PATH.N.
std::string MutagenTags(const std::string& path) {
  static const char script[] = R"(import mutagen.asf, sys
f = mutagen.asf.ASF(sys.argv[1])
n = 0
for key in sorted(f.tags.keys()):
    for v in f.tags[key]:
        if key != "WM/Picture":
            print("%s=%s" % (key, v))
            continue
        b = bytes(v.value)
        size = int.from_bytes(b[1:5], "little")
        texts = b[5:len(b) - size].decode("utf-16-le").split("\0")
        open("%s.%d" % (sys.argv[1], n), "wb").write(b[len(b) - size:])
        print("%s=%d|%s|%d" % (key, b[0], "|".join(texts[:-1]), n))
        n += 1
# The file size the File Properties object states, against the real one.
data = open(sys.argv[1], "rb").read()
at = 30
for i in range(int.from_bytes(data[24:28], "little")):
    if data[at:at + 16].hex() == "a1dcab8c47a9cf118ee400c00c205365":
        print("stated size %s" % ("right" if int.from_bytes(data[at + 40:at + 48], "little") == len(data) else "wrong"))
    at += int.from_bytes(data[at + 16:at + 24], "little")
)";
  const std::string scriptPath = path + ".py";
  std::ofstream(scriptPath) << script;
  return CaptureText(MutagenPython() + " '" + scriptPath + "' '" + path + "'");
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

TEST_F(WmaOutRun, TagsGoUnderTheNamesOtherProgramsRead) {
  MELVANTO_REQUIRE_COMMAND("ffprobe");
  MELVANTO_REQUIRE_MUTAGEN();
  TMemoryIn in(Pcm16(Chirp(22050, 44100), 2), {16, 2, 44100});
  TWMAOut out;
  out.SetFileName(Path("names.wma"));
  out.SetDesiredBitrate(64);
  TId3v2Tags* tags = out.Id3v2Tags();
  tags->SetComment(u"A comment");
  tags->SetCopyright(u"(C) Them");
  tags->SetTrack("3/12");
  tags->SetYear("2003-04-05");
  ASSERT_EQ(RunOnce(out, in), "");

  const std::string m = MutagenTags(Path("names.wma"));
  for (const char* line : {"Description=A comment\n", "Copyright=(C) Them\n", "WM/TrackNumber=3/12\n",
                           "WM/Year=2003-04-05\n"})
    EXPECT_NE(m.find(line), std::string::npos) << line << "\n" << m;
  EXPECT_EQ(m.find("WM/Track="), std::string::npos) << "no zero-based track beside it\n" << m;
  const std::string p = Probe(Path("names.wma"), "format_tags");
  for (const char* tag : {"TAG:comment=A comment", "TAG:copyright=(C) Them", "TAG:track=3/12"})
    EXPECT_NE(p.find(tag), std::string::npos) << tag << "\n" << p;
}

class WmaOutPictures : public WmaOutRun {
 protected:
  void SetUp() override {
    MELVANTO_REQUIRE_COMMAND("ffmpeg");
    MELVANTO_REQUIRE_MUTAGEN();
    ASSERT_TRUE(Shell("ffmpeg -v error -f lavfi -i color=red:s=8x8 -frames:v 1 '" + Path("c.png") + "'"));
    png = FileBytes(Path("c.png"));
    ASSERT_FALSE(png.empty());
  }
  // The same two seconds every time, so that files with and without pictures compare.
  std::string Write(const std::string& name, std::vector<TTagPicture> pictures, std::u16string comment = {}) {
    TMemoryIn in(Pcm16(Chirp(44100 * 2 + 517, 44100), 2), {16, 2, 44100});
    TWMAOut out;
    out.SetFileName(Path(name));
    out.SetDesiredBitrate(128);
    out.Id3v2Tags()->SetComment(comment);
    out.Id3v2Tags()->SetPictures(std::move(pictures));
    return RunOnce(out, in);
  }
  std::vector<std::uint8_t> png;
};

TEST_F(WmaOutPictures, GoIntoTheHeaderAndTheAudioStaysWhole) {
  // One picture small enough for the content description, one only the metadata library holds.
  std::vector<std::uint8_t> large(100000);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
  ASSERT_EQ(Write("plain.wma", {}, u"Note"), "");
  ASSERT_EQ(Write("cover.wma", {{"image/png", 3, u"Front", png}, {"image/jpeg", 4, u"B\u00e4ck", large}}, u"Note"), "");

  const std::string m = MutagenTags(Path("cover.wma"));
  EXPECT_NE(m.find("Description=Note\n"), std::string::npos) << m;
  EXPECT_NE(m.find("stated size right\n"), std::string::npos) << m;
  // The data mutagen saved for the picture of that line.
  const auto data = [&](const std::string& line) {
    const auto at = m.find(line);
    EXPECT_NE(at, std::string::npos) << line << "\n" << m;
    return at == std::string::npos ? std::vector<std::uint8_t>{}
                                   : FileBytes(Path("cover.wma.") + m[at + line.size()]);
  };
  EXPECT_EQ(data("WM/Picture=3|image/png|Front|"), png);
  EXPECT_EQ(data("WM/Picture=4|image/jpeg|B\u00e4ck|"), large);

  // ffprobe sees the small one as the cover; the sound decodes as without pictures, from
  // the start and from a point the index finds.
  const std::string p = Probe(Path("cover.wma"), "stream=codec_name:stream_disposition=attached_pic");
  EXPECT_NE(p.find("codec_name=png\nDISPOSITION:attached_pic=1"), std::string::npos) << p;
  const auto plain = DecodeMono16(Path("plain.wma"));
  EXPECT_GE(plain.size(), 44100u * 2 + 517);
  EXPECT_EQ(DecodeMono16(Path("cover.wma")), plain);
  const std::string seek = "ffmpeg -nostdin -v error -ss 1.3 -i '";
  const auto seekedPlain = Capture(seek + Path("plain.wma") + "' -f s16le - 2>/dev/null");
  const auto seekedCover = Capture(seek + Path("cover.wma") + "' -f s16le - 2>/dev/null");
  ASSERT_TRUE(seekedPlain && seekedCover);
  EXPECT_FALSE(seekedPlain->empty());
  EXPECT_EQ(*seekedCover, *seekedPlain);

  // And our reader takes both back.
  TWMIn in;
  in.SetFileName(Path("cover.wma"));
  EXPECT_EQ(in.Id3v2Tags()->Pictures(), (std::vector<TTagPicture>{{"image/png", 3, u"Front", png},
                                                                   {"image/jpeg", 4, u"B\u00e4ck", large}}));
}

TEST_F(WmaOutPictures, APictureNeverFailsTheFile) {
  // Without text tags the muxer writes no content description: one is made for the picture.
  ASSERT_EQ(Write("only.wma", {{"image/png", 3, u"", png}}), "");
  EXPECT_NE(MutagenTags(Path("only.wma")).find("WM/Picture=3|image/png||0"), std::string::npos);
  // No data, or more than 16 MiB: left out, the file written all the same.
  ASSERT_EQ(Write("skipped.wma", {{"image/png", 3, u"Empty", {}}, {"image/png", 3, u"Huge", std::vector<std::uint8_t>((16u << 20) + 1, 1)}}, u"Kept"), "");
  const std::string m = MutagenTags(Path("skipped.wma"));
  EXPECT_EQ(m.find("WM/Picture"), std::string::npos) << m;
  EXPECT_NE(m.find("Description=Kept"), std::string::npos) << m;
  EXPECT_GE(DecodeMono16(Path("skipped.wma")).size(), 44100u * 2 + 517);
}

TEST_F(WmaOutPictures, AFileThatCannotGrowForThePictureFails) {
  ASSERT_EQ(Write("plain.wma", {}), "");
  const auto plainSize = FileBytes(Path("plain.wma")).size();
  // Room for the encoded sound, not for the header grown by the picture.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = old;
  limit.rlim_cur = plainSize + 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::string message = Write("cover.wma", {{"image/png", 3, u"", std::vector<std::uint8_t>(4000, 9)}});
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(message, "Windows Media output error.");
}

}  // namespace
}  // namespace melvanto::testing
