// The bottom library: descriptors, regular files, file names.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>

#include "part_file.h"
#include "regular_file.h"
#include "temp_dir.h"
#include "text_file.h"
#include "unique_fd.h"
#include "wide_name.h"

namespace melvanto::testing {
namespace {

// ---- UniqueFd ----

bool FdOpen(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFdTest, ClosesExactlyOnceAcrossMovesAndRelease) {
  const int f1 = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int f2 = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(f1, 0);
  ASSERT_GE(f2, 0);
  {
    UniqueFd a(f1);
    UniqueFd b(f2);
    b = std::move(a);  // b's old descriptor goes, a's moves over
    EXPECT_FALSE(a.Valid());
    EXPECT_FALSE(FdOpen(f2));
    UniqueFd& alias = b;
    b = std::move(alias);
    EXPECT_EQ(b.Get(), f1);
    UniqueFd c(std::move(b));
    EXPECT_FALSE(b.Valid());
    EXPECT_TRUE(FdOpen(f1));
  }
  EXPECT_FALSE(FdOpen(f1));

  const int f3 = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  {
    UniqueFd d(f3);
    EXPECT_EQ(d.Release(), f3);
  }
  EXPECT_TRUE(FdOpen(f3));
  UniqueFd e(f3);
  e.Reset();
  EXPECT_FALSE(FdOpen(f3));
}

// ---- regular files ----

TEST(RegularFileTest, OpensOnlyRegularFilesAndSaysWhyNot) {
  TempDir tmp;
  const std::string dir = tmp.String();
  const std::string file = dir + "/song.wav";
  const std::string fifo = dir + "/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  TOpenedFile made = OpenRegularFile(Utf8ToUtf16(file), O_WRONLY | O_CREAT | O_TRUNC);
  ASSERT_EQ(made.Error, 0);
  ASSERT_TRUE(made.Fd.Valid());
  EXPECT_EQ(::write(made.Fd.Get(), "abc", 3), 3);
  // Blocking again once known to be a file, and not inherited by programs we start.
  EXPECT_EQ(::fcntl(made.Fd.Get(), F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(::fcntl(made.Fd.Get(), F_GETFD) & FD_CLOEXEC, 0);

  TOpenedFile again = OpenRegularFile(Utf8ToUtf16(file), O_RDONLY);
  ASSERT_EQ(again.Error, 0);
  char buf[4] = {};
  EXPECT_EQ(::read(again.Fd.Get(), buf, sizeof buf), 3);

  const struct {
    std::string path;
    int flags;
    int error;
  } refused[] = {
      {dir + "/missing.wav", O_RDONLY, ENOENT},
      {dir, O_RDONLY, EISDIR},
      {fifo, O_RDONLY, kNotRegularFile},  // would hang a blocking open: no writer ever comes
      {"/dev/null", O_RDONLY, kNotRegularFile},
  };
  for (const auto& r : refused) {
    TOpenedFile opened = OpenRegularFile(Utf8ToUtf16(r.path), r.flags);
    EXPECT_EQ(opened.Error, r.error) << r.path;
    EXPECT_FALSE(opened.Fd.Valid()) << r.path;
  }
}

// ---- UTF-8 <-> UTF-16 names ----

TEST(WideNameTest, ValidTextConvertsBothWays) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"", u""},
      {"song-01.wav", u"song-01.wav"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\xC2\x80\xDF\xBF", u"\u0080\u07FF"},                                              // two-byte bounds
      {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", u"\u0800\uD7FF\uE000\uFFFF"},  // around surrogates
      {"\xF0\x90\x80\x80", u"\U00010000"},
      {"\xF0\x9F\x8E\xB5!", u"\U0001F3B5!"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
  }
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x8E\xB5"), (std::u16string{0xD83C, 0xDFB5}));
}

TEST(WideNameTest, InvalidBytesEscapeToLoneSurrogatesAndComeBackExactly) {
  const struct {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"\xC0\x80", {0xDCC0, 0xDC80}},                          // overlong NUL
      {"\xE0\x80\xAF", {0xDCE0, 0xDC80, 0xDCAF}},              // overlong '/'
      {"\xF0\x80\x80\xAF", {0xDCF0, 0xDC80, 0xDC80, 0xDCAF}},  // overlong '/'
      {"\xE2\x82", {0xDCE2, 0xDC82}},                          // truncated at the end
      {"\xE2\x82"
       "A",
       {0xDCE2, 0xDC82, u'A'}},  // truncated before ASCII
      {"a\xBF"
       "b",
       {u'a', 0xDCBF, u'b'}},                                  // stray continuation
      {"\xED\xA0\x80", {0xDCED, 0xDCA0, 0xDC80}},              // encoded high surrogate
      {"\xED\xBF\xBF", {0xDCED, 0xDCBF, 0xDCBF}},              // encoded low surrogate
      {"\xF4\x90\x80\x80", {0xDCF4, 0xDC90, 0xDC80, 0xDC80}},  // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", {0xDCF8, 0xDC88, 0xDC80, 0xDC80, 0xDC80}},
      {"\xFF\xC3\xA9", {0xDCFF, 0x00E9}},                  // resynchronises at once
      {"\xF0\x9F\x8E\xB5\x80", {0xD83C, 0xDFB5, 0xDC80}},  // escape right after a pair
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << ::testing::PrintToString(c.utf8);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << ::testing::PrintToString(c.utf8);
  }
}

TEST(WideNameTest, EveryShortByteStringRoundTrips) {
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      const std::string s{static_cast<char>(a), static_cast<char>(b)};
      ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s) << a << "," << b;
    }
  // Longer strings, drawn mostly from the bytes that start or continue sequences.
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> len(1, 12), pick(0, 9), high(0x80, 0xFF), any(0, 0xFF);
  for (int i = 0; i < 20000; ++i) {
    std::string s(static_cast<std::size_t>(len(rng)), '\0');
    for (char& ch : s) ch = static_cast<char>(pick(rng) < 8 ? high(rng) : any(rng));
    ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(s)), s) << ::testing::PrintToString(s);
  }
}

TEST(WideNameTest, SurrogatesThatAreNotEscapesBecomeReplacementCharacter) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800}), fffd);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD83C}), "a" + fffd);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC7F}), fffd);                 // just below the escapes
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDFB5, 0xD83C}), fffd + fffd);  // pair reversed
}

// ---- part files ----

TEST(PartFileTest, NameIsHiddenBesideTheOutputAndCarriesThePid) {
  EXPECT_EQ(PartFileName("/out/song.mp3", 42), "/out/.song.mp3.melvanto-42.part.mp3");
  EXPECT_EQ(PartFileName("song.mp3", 7), ".song.mp3.melvanto-7.part.mp3")
      << "a bare name stays in the current folder";
  EXPECT_EQ(PartFileName("/a.b/song", 1), "/a.b/.song.melvanto-1.part") << "no extension, none added";
  EXPECT_EQ(PartFileName("/out/.wav", 1), "/out/..wav.melvanto-1.part") << "a leading dot is no extension";
}

TEST(PartFileTest, CreatedExclusivelyNeverThroughALinkWithTheUmasksPermissions) {
  TempDir dir;
  const std::string part = (dir / ".a.wav.melvanto-1.part").string();
  const mode_t old = ::umask(027);
  const int created = CreatePartFile(part);
  ::umask(old);
  ASSERT_EQ(created, 0);
  struct stat st {};
  ASSERT_EQ(::stat(part.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(CreatePartFile(part), EEXIST) << "someone else's file of that name is never taken over";

  // A link planted at the name, dangling or not: nothing is created or truncated where it points.
  const std::filesystem::path target = dir / "target", dangling = dir / "nowhere";
  WriteText(target, "kept");
  const std::string linked = (dir / ".b.wav.melvanto-1.part").string();
  const std::string danglingLink = (dir / ".c.wav.melvanto-1.part").string();
  std::filesystem::create_symlink(target, linked);
  std::filesystem::create_symlink(dangling, danglingLink);
  EXPECT_NE(CreatePartFile(linked), 0);
  EXPECT_NE(CreatePartFile(danglingLink), 0);
  EXPECT_EQ(ReadText(target), "kept");
  EXPECT_FALSE(std::filesystem::exists(dangling));
}

TEST(PartFileTest, PublishReplacesALinkItselfNeverItsTarget) {
  TempDir dir;
  const std::filesystem::path target = dir / "target", final = dir / "a.wav";
  WriteText(target, "the link's target");
  std::filesystem::create_symlink(target, final);
  const std::string part = PartFileName(final.string(), 5);
  ASSERT_EQ(CreatePartFile(part), 0);
  WriteText(part, "new");
  ASSERT_EQ(PublishPartFile(part, final.string()), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(final));
  EXPECT_EQ(ReadText(final), "new");
  EXPECT_EQ(ReadText(target), "the link's target");
  EXPECT_FALSE(std::filesystem::exists(part));
  // Gone meanwhile: the error is told and nothing stands under the final name's place.
  EXPECT_EQ(PublishPartFile(part, (dir / "b.wav").string()), ENOENT);
  EXPECT_FALSE(std::filesystem::exists(dir / "b.wav"));
  DiscardPartFile(part);  // nothing there: no harm
}

// The id of a process that has ended (and been reaped).
pid_t DeadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

TEST(PartFileTest, DeadRunsPartFilesOfTheNamesGivenGo_OthersAndLookalikesStay) {
  TempDir dir;
  const std::string dead = std::to_string(DeadPid()), live = std::to_string(::getpid());
  const std::vector<std::string> gone = {".a.mp3.melvanto-" + dead + ".part.mp3",
                                         ".b.melvanto-" + dead + ".part", "..wav.melvanto-" + dead + ".part"};
  const std::vector<std::string> kept = {
      ".a.mp3.melvanto-" + live + ".part.mp3",  // this process's
      ".c.mp3.melvanto-" + dead + ".part.mp3",  // not a name given
      "a.mp3.melvanto-" + dead + ".part.mp3",   // not hidden
      ".a.mp3.melvanto-" + dead + ".part.wav",  ".a.mp3.melvanto-" + dead + ".part.mp3.bak",
      ".a.mp3.melvanto-" + dead + "x.part.mp3", ".a.mp3.melvanto-.part.mp3"};
  for (const auto& names : {gone, kept})
    for (const std::string& name : names) WriteText(dir.Path() / name, "x");
  EXPECT_EQ(RemoveDeadPartFiles(dir.String(), {"a.mp3", "b", ".wav"}), static_cast<int>(gone.size()));
  for (const std::string& name : gone) EXPECT_FALSE(std::filesystem::exists(dir.Path() / name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(std::filesystem::exists(dir.Path() / name)) << name;
}

}  // namespace
}  // namespace melvanto::testing
