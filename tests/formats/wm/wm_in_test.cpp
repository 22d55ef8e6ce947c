// TWMIn and TMP3In on files made by ffmpeg and lame, checked against ffmpeg and ffprobe.

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "asf_header.h"
#include "au_exception.h"
#include "fakes.h"
#include "made_files.h"
#include "id3_bytes.h"
#include "mp3_in.h"
#include "temp_dir.h"
#include "tools.h"
#include "wave_out.h"
#include "wm_in.h"

namespace melvanto::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The files, made once for the whole program.
class Files {
 public:
  static Files& Get() {
    static Files f;
    return f;
  }
  bool Ready() const { return ready; }
  std::string operator/(const std::string& name) const { return (dir / name).string(); }
  Bytes Decoded(const std::string& name, const std::string& fmt = "s16le") const {
    return Capture("ffmpeg -v error -i " + (*this / name) + " -f " + fmt + " -").value_or(Bytes{});
  }

 private:
  Files() {
    if (!HaveTool("ffmpeg") || !HaveTool("lame")) return;
    ready = Shell("cd " + dir.String() +
                  " && ffmpeg -v error -f lavfi -i 'sine=f=440:d=3:r=44100' -f lavfi -i "
                  "'anoisesrc=d=3:r=44100:a=0.2:s=3' -filter_complex '[0][1]amerge=inputs=2' -c:a pcm_s16le src.wav"
                  " && lame --quiet -b 128 src.wav cbr.mp3"
                  " && lame --quiet -V 4 --noreplaygain -t src.wav vbr_noinfo.mp3"
                  " && lame --quiet -V 2 src.wav vbr_info.mp3"
                  " && ffmpeg -v error -i src.wav -c:a libmp3lame -q:a 5 -metadata title=MpTitle -metadata artist=MpArtist"
                  " -metadata album=MpAlbum -metadata genre=Pop -metadata date=2004 -metadata track=3"
                  " -metadata copyright=MpCopy tagged.mp3"
                  " && ffmpeg -v error -i src.wav -c:a wmav2 -b:a 128k -metadata title=WmTitle -metadata artist=WmArtist"
                  " -metadata album=WmAlbum -metadata genre=Blues -metadata date=2011 -metadata track=12"
                  " -metadata copyright=WmCopy v2.wma"
                  " && ffmpeg -v error -i src.wav -ac 1 -c:a wmav1 -b:a 48k v1.wma");
  }
  TempDir dir;
  bool ready = false;
};

#define REQUIRE_FILES()                   \
  MELVANTO_REQUIRE_COMMAND("ffmpeg");     \
  MELVANTO_REQUIRE_COMMAND("ffprobe");    \
  MELVANTO_REQUIRE_COMMAND("lame");       \
  ASSERT_TRUE(Files::Get().Ready()) << "the test files could not be made"

Bytes DecodeAll(TAuFileIn& in, std::uint32_t want = 16384) {
  in.Init();
  Bytes out = Drain(in, want);
  in.Flush();
  return out;
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

// The adapter's answers, including offsets past 4 GB, which keep all their bits.
TEST(AudioStream, AdapterAnswers) {
  TMemoryStream stream(Bytes{1, 2, 3, 4, 5});
  TAudioStream io(&stream);
  std::uint8_t buffer[8] = {};
  std::uint32_t got = 99;
  EXPECT_EQ(io.Read(buffer, 3, &got), wmf::S_OK);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(io.Read(buffer, 8, &got), wmf::S_OK);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(io.Read(buffer, 8, &got), TAudioStream::kFailure) << "nothing more to read";
  EXPECT_EQ(got, 0u);
  std::uint64_t at = 0;
  EXPECT_EQ(io.Seek(-2, wmf::STREAM_SEEK_END, &at), wmf::S_OK);
  EXPECT_EQ(at, 3u);
  EXPECT_EQ(io.Seek(1, wmf::STREAM_SEEK_CUR, &at), wmf::S_OK);
  EXPECT_EQ(at, 4u);
  const std::int64_t far = (std::int64_t{1} << 32) + 7;
  EXPECT_EQ(io.Seek(far, wmf::STREAM_SEEK_SET, &at), wmf::S_OK);
  EXPECT_EQ(at, static_cast<std::uint64_t>(far));
  EXPECT_EQ(stream.Position(), far);
  EXPECT_EQ(io.Seek(-1, wmf::STREAM_SEEK_SET, &at), TAudioStream::kFailure) << "the stream refuses it";
  EXPECT_EQ(io.SetSize(2), wmf::S_OK);
  EXPECT_EQ(stream.Position(), 2);
  EXPECT_EQ(stream.Size(), 5);
  wmf::STATSTG stat;
  EXPECT_EQ(io.Stat(&stat, 0), wmf::S_OK);
  EXPECT_EQ(stat.cbSize, 5u);
  EXPECT_EQ(stat.grfLocksSupported, 0u);
  std::shared_ptr<wmf::IStream> clone = std::make_shared<TAudioStream>(&stream);
  EXPECT_EQ(io.Clone(&clone), TAudioStream::kFailure);
  EXPECT_EQ(clone, nullptr);
  EXPECT_EQ(io.Commit(0), TAudioStream::kFailure);
  EXPECT_EQ(io.LockRegion(0, 1, 0), TAudioStream::kFailure);
}

TEST(WMIn, FormatDurationAndTagsOfWma) {
  REQUIRE_FILES();
  TWMIn in;
  in.SetFileName(Files::Get() / "v2.wma");
  // The tag container opens the file itself.
  TId3v2Tags* tags = in.Id3v2Tags();
  EXPECT_EQ(tags->Title(), u"WmTitle");
  EXPECT_EQ(tags->Artist(), u"WmArtist");
  EXPECT_EQ(tags->Album(), u"WmAlbum");
  EXPECT_EQ(tags->Genre(), u"Blues");
  EXPECT_EQ(tags->Year(), "2011");
  EXPECT_EQ(tags->Track(), "12");
  // The Copyright is the copyright, not the comment (the file has no Description).
  EXPECT_EQ(tags->Copyright(), u"WmCopy");
  EXPECT_EQ(tags->Comment(), u"");
  EXPECT_EQ(in.CommonTags()->Title(), u"WmTitle");
  EXPECT_EQ(in.CommonTags()->Artist(), u"WmArtist");
  EXPECT_EQ(in.CommonTags()->Year(), "2011");
  EXPECT_EQ(in.CommonTags()->Track(), "12");
  EXPECT_TRUE(in.Valid());
  EXPECT_EQ(in.Channels(), 2u);
  EXPECT_EQ(in.BitsPerSample(), 16u);
  EXPECT_EQ(in.SampleRate(), 44100u);
  // What the decoder delivers, not the header's play time, which also counts the first frame.
  EXPECT_EQ(in.TotalSamples(), static_cast<std::int64_t>(Files::Get().Decoded("v2.wma").size() / 4));
  EXPECT_EQ(in.TotalTime(), 3);
}

TEST(WMIn, Mp3TagsFromId3AndTheEndAllowance) {
  REQUIRE_FILES();
  TMP3In in;
  in.SetFileName(Files::Get() / "tagged.mp3");
  EXPECT_EQ(in.Id3v2Tags()->Title(), u"MpTitle");
  EXPECT_EQ(in.Id3v2Tags()->Artist(), u"MpArtist");
  EXPECT_EQ(in.Id3v2Tags()->Album(), u"MpAlbum");
  EXPECT_EQ(in.Id3v2Tags()->Genre(), u"Pop");
  EXPECT_EQ(in.Id3v2Tags()->Year(), "2004");
  EXPECT_EQ(in.Id3v2Tags()->Track(), "3");
  // The copyright is the copyright, not the comment, which the file does not have.
  EXPECT_EQ(in.Id3v2Tags()->Comment(), u"");
  EXPECT_EQ(in.Id3v2Tags()->Copyright(), u"MpCopy");
  EXPECT_EQ(in.CommonTags()->Genre(), u"Pop");
  // 3.00 s decoded: 132,300 frames, plus 44100 div 3 = 14,700 allowed at the end.
  EXPECT_EQ(in.TotalSamples(), 132300 + 14700);
}

// An MP3 as an old tagger left it: an unsynchronised ID3v2.3 tag (a UTF-16 title, a
// comment in German, a cover) and an ID3v1 record that alone has the year and the genre.
// Our reader takes the tag whole and fills the gaps from the record; ffprobe agrees on the
// title, so the fixture is what it claims to be.
TEST(WMIn, Mp3TagsFromAnUnsynchronisedTagAndTheRecord) {
  REQUIRE_FILES();
  using namespace id3_bytes;
  const Bytes image = {0x89, 'P', 'N', 'G', 0xFF, 0xE0, 0xFF, 0x00};
  const Bytes frames =
      Frame(3, "TIT2", Bytes{1} + Utf16String(u"\u00ffe \u00e9t\u00e9")) +
      Frame(3, "COMM", Bytes{1} + B("deu") + Utf16String(u"") +
                           Utf16String(u"Gr\u00fc\u00dfe aus Stra\u00dfburg, l\u00e4nger als dreissig")) +
      Frame(3, "APIC", Latin1("image/png") + Bytes{0, 3, 0} + image);
  Bytes file = Tag(3, Unsync(frames), 0, 0x80) + ReadBytes(Files::Get() / "cbr.mp3");
  Bytes record(128, 0);
  std::memcpy(record.data(), "TAG", 3);
  std::memcpy(&record[3], "Record title", 12);
  std::memcpy(&record[93], "1987", 4);
  record[127] = 8;  // Jazz
  file = file + record;
  TempDir dir;
  const std::string path = (dir / "old.mp3").string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  ASSERT_EQ(CaptureText("ffprobe -v error -show_entries format_tags=title -of default=nw=1:nk=1 " + path),
            "\u00ffe \u00e9t\u00e9\n");

  TMP3In in;
  in.SetFileName(path);
  const TId3v2Tags& tags = *in.Id3v2Tags();
  EXPECT_EQ(tags.Title(), u"\u00ffe \u00e9t\u00e9");
  EXPECT_EQ(tags.Comment(), u"Gr\u00fc\u00dfe aus Stra\u00dfburg, l\u00e4nger als dreissig");
  EXPECT_EQ(tags.CommentLanguage(), "deu");
  EXPECT_EQ(tags.Year(), "1987");
  EXPECT_EQ(tags.Genre(), u"Jazz");
  EXPECT_EQ(tags.Artist(), u"");
  ASSERT_EQ(tags.Pictures().size(), 1u);
  EXPECT_EQ(tags.Pictures()[0].Data, image);
  EXPECT_EQ(tags.Pictures()[0].MimeType, "image/png");
  EXPECT_EQ(in.Id3v1Tags()->Title(), "Record title");
  EXPECT_EQ(in.CommonTags()->Year(), "1987");
  EXPECT_TRUE(in.Valid());
}

// Every sample as ffmpeg decodes it, including a VBR file without an Info frame, whose
// length libavformat alone would estimate at about half.
TEST(WMIn, DecodesLikeFfmpeg) {
  REQUIRE_FILES();
  for (const char* file : {"vbr_noinfo.mp3", "vbr_info.mp3"}) {
    SCOPED_TRACE(file);
    TMP3In in;
    in.SetFileName(Files::Get() / file);
    const Bytes expected = Files::Get().Decoded(file);
    ASSERT_FALSE(expected.empty());
    EXPECT_GE(in.TotalSamples() * 4, static_cast<std::int64_t>(expected.size()));
    const Bytes got = DecodeAll(in, 5000);  // requests that split the runtime's samples
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
  }
  for (const char* file : {"v2.wma", "v1.wma"}) {
    SCOPED_TRACE(file);
    TWMIn in;
    in.SetFileName(Files::Get() / file);
    const Bytes expected = Files::Get().Decoded(file);
    const std::size_t cut = std::min<std::size_t>(expected.size(), static_cast<std::size_t>(in.TotalSamples()) *
                                                                       in.Channels() * 2);
    const Bytes got = DecodeAll(in);
    ASSERT_EQ(got.size(), cut) << "WMA delivery ends at the stated duration or the data, whichever comes first";
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin()));
  }
}

TEST(WMIn, HighPrecisionGives24Bits) {
  REQUIRE_FILES();
  TMP3In in;
  in.SetFileName(Files::Get() / "vbr_info.mp3");
  EXPECT_EQ(in.BitsPerSample(), 16u);
  in.SetHighPrecision(true);  // reopens the open file
  EXPECT_EQ(in.BitsPerSample(), 24u);
  EXPECT_EQ(in.Channels(), 2u);
  const Bytes got = DecodeAll(in);
  EXPECT_TRUE(got == Files::Get().Decoded("vbr_info.mp3", "s24le"));
}

TEST(WMIn, ChannelRequests) {
  REQUIRE_FILES();
  TWMIn in;
  in.SetFileName(Files::Get() / "v2.wma");
  in.SetOutputChannels(TChannelsNumber::cn5dot1);
  EXPECT_TRUE(in.HighPrecision());
  EXPECT_FALSE(in.Valid()) << "a stereo file has no 6-channel format";
  EXPECT_TRUE(DecodeAll(in).empty());
  in.SetHighPrecision(false);  // ignored while a layout is asked for
  EXPECT_TRUE(in.HighPrecision());
  in.SetOutputChannels(TChannelsNumber::cnMaxAvailable);
  EXPECT_TRUE(in.Valid());
  EXPECT_EQ(in.Channels(), 2u);
  EXPECT_EQ(in.BitsPerSample(), 24u);
  in.SetOutputChannels(TChannelsNumber::cnMonoOrStereo);
  in.SetHighPrecision(false);
  EXPECT_EQ(in.BitsPerSample(), 16u);
  TWMIn mono;
  mono.SetFileName(Files::Get() / "v1.wma");
  EXPECT_EQ(mono.Channels(), 1u);
}

// Seeks land on the frame asked for, and nothing of the sample being delivered before the
// seek comes out after it.
TEST(WMIn, SeeksAreSampleExact) {
  REQUIRE_FILES();
  for (const char* file : {"vbr_noinfo.mp3", "v2.wma"}) {
    SCOPED_TRACE(file);
    const Bytes all = Files::Get().Decoded(file);
    TMP3In in;  // the allowance keeps the WMA file's last samples too
    in.SetFileName(Files::Get() / file);
    in.SetStartSample(20001);
    in.Init();
    Bytes head = Drain(in, 1000, nullptr, 3);
    ASSERT_GT(head.size(), 2000u);  // a block ends early where a runtime sample ends
    EXPECT_TRUE(std::equal(head.begin(), head.end(), all.begin() + 20001 * 4));
    ASSERT_TRUE(in.Seek(50000));  // relative to StartSample during a run
    EXPECT_EQ(in.Position(), 50000 * 4);
    Bytes rest = Drain(in, 7000);
    const std::size_t from = (20001 + 50000) * 4;
    ASSERT_EQ(rest.size(), all.size() - from);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), all.begin() + from));
    ASSERT_TRUE(in.Seek(3));  // backwards
    rest = Drain(in, 1 << 20, nullptr, 1);
    ASSERT_FALSE(rest.empty());
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), all.begin() + (20001 + 3) * 4));
    in.Flush();
  }
}

// A looped range starts again at its first frame, through the same seek.
TEST(WMIn, LoopRestartsAtStartSample) {
  REQUIRE_FILES();
  const Bytes all = Files::Get().Decoded("cbr.mp3");
  TMP3In in;
  in.SetFileName(Files::Get() / "cbr.mp3");
  in.SetStartSample(1000);
  in.SetEndSample(60999);
  in.SetLoop(true);
  in.Init();
  const std::size_t pass = 60000 * 4;
  std::vector<std::uint32_t> sizes;
  const Bytes got = Drain(in, 6000, &sizes, static_cast<int>(2 * pass / 6000 + 200));
  ASSERT_GE(got.size(), 2 * pass + 100);
  for (std::size_t p = 0; p < 2; ++p) {
    EXPECT_TRUE(std::equal(got.begin() + p * pass, got.begin() + (p + 1) * pass, all.begin() + 1000 * 4)) << p;
  }
  in.Flush();
}

TEST(WMIn, ProtectedFileRaisesAndReleasesIt) {
  REQUIRE_FILES();
  const Bytes data = WithAsfHeaderObject(ReadBytes(Files::Get() / "v2.wma"), kAsfContentEncryption);
  const std::string path = Files::Get() / "protected.wma";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
  const int before = OpenDescriptors();
  TWMIn in;
  in.SetFileName(path);
  try {
    in.Channels();
    ADD_FAILURE() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "File is protected");
  }
  EXPECT_EQ(OpenDescriptors(), before) << "the file is not left open";
  EXPECT_THROW(in.Init(), EAuException);
  in.Flush();
  // A stream handed in is rewound, not kept.
  TMemoryStream stream(data);
  TWMIn handed;
  handed.SetStream(&stream);
  EXPECT_THROW(handed.Valid(), EAuException);
  EXPECT_EQ(stream.Position(), 0);
}

TEST(WMIn, BrokenFilesAreNotValid) {
  REQUIRE_FILES();
  TWMIn noName;
  try {
    noName.Channels();
    ADD_FAILURE() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "File name is not assigned");
  }
  std::mt19937 random(5);
  Bytes noise(30000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  const int before = OpenDescriptors();
  {
    const std::string path = Files::Get() / "noise.wma";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(noise.data()), noise.size());
    TWMIn in;
    in.SetFileName(path);
    EXPECT_FALSE(in.Valid());
    EXPECT_EQ(OpenDescriptors(), before) << "a file no reader takes is not left open";
    EXPECT_TRUE(DecodeAll(in).empty());
  }
}

// WMA files tagged by ffmpeg and mutagen the way other programs tag them, made once.
const MadeFiles& TaggedWmas() {
  static const std::string python = MutagenPython();
  const std::string sine = "ffmpeg -v error -f lavfi -i 'sine=f=440:d=1:r=44100' -c:a wmav2 -b:a 64k ";
  // mutagen writes the pictures and a numeric WM/TrackNumber, which ffmpeg cannot.
  static const MadeFiles files(
      HaveTool("ffmpeg") && !python.empty(),
      "ffmpeg -v error -f lavfi -i color=red:s=8x8 -frames:v 1 c.png && " + sine +
          "-metadata comment=MyComment -metadata copyright=MyCopy -metadata WM/TrackNumber=3/12"
          " -metadata WM/Year=2003-04-05 tags.wma && " +
          sine + "-metadata WM/Track=2 track0.wma && " + python + R"( - <<'EOF'
import mutagen.asf, shutil, struct
def picture(mime, kind, text, data):
    return mutagen.asf.ASFByteArrayAttribute(bytes([kind]) + struct.pack("<I", len(data)) +
        (mime + "\0").encode("utf-16-le") + (text + "\0").encode("utf-16-le") + data)
png = open("c.png", "rb").read()
shutil.copy("tags.wma", "cover.wma")
f = mutagen.asf.ASF("cover.wma")
# Over 64 KiB: mutagen puts it into the metadata library, where ffmpeg does not take it.
big = bytes(range(256)) * 300
f.tags["WM/Picture"] = [picture("image/png", 3, "Front", png), picture("image/png", 4, "Back", png[::-1]),
                        picture("image/jpeg", 8, "Big", big)]
f.save()
shutil.copy("track0.wma", "number.wma")
f = mutagen.asf.ASF("number.wma")
f.tags["WM/TrackNumber"] = [mutagen.asf.ASFDWordAttribute(5)]
f.save()
EOF
)");
  return files;
}

#define REQUIRE_TAGGED_WMAS()           \
  MELVANTO_REQUIRE_COMMAND("ffmpeg");   \
  MELVANTO_REQUIRE_MUTAGEN();           \
  ASSERT_TRUE(TaggedWmas().Ready()) << "the test files could not be made"

TEST(WMInTags, ReadAsOtherProgramsWriteThem) {
  REQUIRE_TAGGED_WMAS();
  struct Case {
    const char* File;
    std::u16string Comment, Copyright;
    std::string Track, Year;
  };
  const Case cases[] = {
      // The Description is the comment; the Copyright only the copyright; the date whole.
      {"tags.wma", u"MyComment", u"MyCopy", "3/12", "2003-04-05"},
      // WM/Track counts from 0: the second track.
      {"track0.wma", u"", u"", "3", ""},
      // A numeric WM/TrackNumber wins over WM/Track.
      {"number.wma", u"", u"", "5", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    TWMIn in;
    in.SetFileName(TaggedWmas() / c.File);
    const TId3v2Tags& tags = *in.Id3v2Tags();
    EXPECT_EQ(tags.Comment(), c.Comment);
    EXPECT_EQ(tags.Copyright(), c.Copyright);
    EXPECT_EQ(tags.Track(), c.Track);
    EXPECT_EQ(in.CommonTags()->Track(), c.Track);
    EXPECT_EQ(tags.Year(), c.Year);
    EXPECT_TRUE(tags.Pictures().empty());
  }
}

TEST(WMInTags, PicturesWithTheirTypeAndDescription) {
  REQUIRE_TAGGED_WMAS();
  const Bytes png = ReadBytes(TaggedWmas() / "c.png");
  ASSERT_FALSE(png.empty());
  TWMIn in;
  in.SetFileName(TaggedWmas() / "cover.wma");
  std::vector<TTagPicture> pictures = in.Id3v2Tags()->Pictures();
  ASSERT_EQ(pictures.size(), 3u);
  // In the file's order, which mutagen chooses: compared by type.
  std::sort(pictures.begin(), pictures.end(), [](auto& a, auto& b) { return a.Type < b.Type; });
  EXPECT_EQ(pictures[0], (TTagPicture{"image/png", 3, u"Front", png}));
  EXPECT_EQ(pictures[1], (TTagPicture{"image/png", 4, u"Back", Bytes(png.rbegin(), png.rend())}));
  Bytes big;
  for (int i = 0; i < 300 * 256; ++i) big.push_back(static_cast<std::uint8_t>(i));
  EXPECT_EQ(pictures[2], (TTagPicture{"image/jpeg", 8, u"Big", big}));
  EXPECT_EQ(in.Id3v2Tags()->Comment(), u"MyComment") << "the other tags are still read";
  // A copy of the container carries them.
  TId3v2Tags copy;
  copy.Assign(in.Id3v2Tags());
  EXPECT_EQ(copy.Pictures(), in.Id3v2Tags()->Pictures());
}

// MP3 to WAV through the pipeline keeps the whole track of a VBR file without an Info frame.
// The component tries again from byte 30 when the data does not start at 0.
TEST(WMIn, OpensAWmaAfterA30BytePrefix) {
  REQUIRE_FILES();
  TempDir dir;
  Bytes data(30, 0x5A);
  const Bytes whole = ReadBytes(Files::Get() / "v2.wma");
  data.insert(data.end(), whole.begin(), whole.end());
  const std::string path = (dir / "prefixed.wma").string();
  {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  TWMIn in;
  in.SetFileName(path);
  ASSERT_TRUE(in.Valid());
  EXPECT_TRUE(DecodeAll(in) == Files::Get().Decoded("v2.wma"));
}

TEST(WMIn, Mp3ToWavKeepsTheFullLength) {
  REQUIRE_FILES();
  TMP3In in;
  in.SetFileName(Files::Get() / "vbr_noinfo.mp3");
  TWaveOut out;
  const std::string wav = Files::Get() / "out.wav";
  out.SetFileName(wav);
  // The user-interface thread reads the input's properties while the worker decodes.
  std::atomic<bool> done{false};
  out.SetOnDone([&](TComponent*) { done = true; });
  out.SetInput(&in);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] {
    EXPECT_EQ(in.Channels(), 2u);
    EXPECT_TRUE(in.Valid());
    EXPECT_EQ(in.Id3v2Tags()->Title(), u"");
    EXPECT_EQ(in.SampleRate(), 44100u);
    return done.load();
  }));
  EXPECT_EQ(out.ExceptionMessage(), "");
  const Bytes expected = Files::Get().Decoded("vbr_noinfo.mp3");
  const Bytes written = Files::Get().Decoded("out.wav");
  EXPECT_EQ(written.size(), expected.size());
  EXPECT_TRUE(written == expected);
}

}  // namespace
}  // namespace melvanto::testing
