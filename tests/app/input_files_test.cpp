// Folders among a batch's inputs: which files they add, in which order, with which subfolder.
#include "input_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "temp_dir.h"
#include "text_file.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

class InputFilesTest : public ::testing::Test {
 protected:
  void Make(const std::string& relative) {
    fs::create_directories((dir_ / relative).parent_path());
    WriteText(dir_ / relative, "x");
  }
  std::string At(const std::string& relative) const { return (dir_ / relative).string(); }

  TempDir dir_;
};

TEST_F(InputFilesTest, AFolderAddsItsSourceFilesRecursivelyByPathWithTheirSubfolders) {
  Make("music/b.wav");
  Make("music/a/z.WAV");  // any case
  Make("music/a/b/deep.wav");
  Make("music/a/notes.txt");
  Make("music/a/song.mp3");
  Make("music/.hidden.wav");
  Make("music/a/._shadow.wav");
  Make("music/.git/x.wav");
  fs::create_directories(dir_ / "music/empty");

  const TInputList list = CollectInputs({At("music")}, TSourceFormat::sfWav);
  ASSERT_EQ(list.Files.size(), 3u);
  EXPECT_EQ(list.Files[0].Path, At("music/a/b/deep.wav"));
  EXPECT_EQ(list.Files[0].Subfolder, "a/b/");
  EXPECT_EQ(list.Files[1].Path, At("music/a/z.WAV"));
  EXPECT_EQ(list.Files[1].Subfolder, "a/");
  EXPECT_EQ(list.Files[2].Path, At("music/b.wav"));
  EXPECT_EQ(list.Files[2].Subfolder, "");
  EXPECT_TRUE(list.Problems.empty());

  const TInputList mp3 = CollectInputs({At("music/") }, TSourceFormat::sfMp3);
  ASSERT_EQ(mp3.Files.size(), 1u);
  EXPECT_EQ(mp3.Files[0].Path, At("music/a/song.mp3"));  // one slash, though the folder had one
}

TEST_F(InputFilesTest, NamedFilesStayAsNamedAndInOrderAroundFolders) {
  Make("one.txt");
  Make("dir/x.wav");
  const TInputList list = CollectInputs({At("one.txt"), At("dir"), At("missing.wav")}, TSourceFormat::sfWav);
  ASSERT_EQ(list.Files.size(), 3u);
  // Named files are the user's choice: the conversion says what is wrong with them.
  EXPECT_EQ(list.Files[0].Path, At("one.txt"));
  EXPECT_EQ(list.Files[1].Path, At("dir/x.wav"));
  EXPECT_EQ(list.Files[2].Path, At("missing.wav"));
  EXPECT_TRUE(list.Problems.empty());
}

TEST_F(InputFilesTest, LinksToFoldersAreFollowedOnceAndLoopsEnd) {
  Make("lib/a/1.wav");
  Make("other/2.wav");
  fs::create_directory_symlink(dir_ / "lib", dir_ / "lib/a/back");   // a loop
  fs::create_directory_symlink(dir_ / "other", dir_ / "lib/linked");  // followed
  fs::create_symlink(dir_ / "nowhere", dir_ / "lib/dangling.wav");
  fs::create_symlink(dir_ / "lib/self.wav", dir_ / "lib/self.wav");  // a link to itself

  const TInputList list = CollectInputs({At("lib")}, TSourceFormat::sfWav);
  ASSERT_EQ(list.Files.size(), 2u);
  EXPECT_EQ(list.Files[0].Path, At("lib/a/1.wav"));
  EXPECT_EQ(list.Files[1].Path, At("lib/linked/2.wav"));
  EXPECT_EQ(list.Files[1].Subfolder, "linked/");
  ASSERT_EQ(list.Problems.size(), 1u);
  EXPECT_NE(list.Problems[0].find(At("lib/a/back")), std::string::npos) << list.Problems[0];
  EXPECT_FALSE(list.Incomplete) << "a loop and links to nothing hide no file";
}

TEST_F(InputFilesTest, FoldersThatCannotBeReadOrEnteredMakeTheListIncomplete) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not hold for root; the command line test covers it";
  Make("music/a.wav");
  Make("music/locked/b.wav");
  Make("music/closed/c.wav");
  fs::permissions(dir_ / "music/locked", fs::perms::owner_read);  // listed, not entered
  fs::permissions(dir_ / "music/closed", fs::perms::none);
  const TInputList list = CollectInputs({At("music")}, TSourceFormat::sfWav);
  fs::permissions(dir_ / "music/locked", fs::perms::owner_all);
  fs::permissions(dir_ / "music/closed", fs::perms::owner_all);

  ASSERT_EQ(list.Files.size(), 1u);
  EXPECT_EQ(list.Files[0].Path, At("music/a.wav"));
  EXPECT_TRUE(list.Incomplete);
  ASSERT_EQ(list.Problems.size(), 2u);
  EXPECT_EQ(list.Problems[0].rfind(At("music/closed") + ": ", 0), 0u) << list.Problems[0];
  EXPECT_EQ(list.Problems[1].rfind(At("music/locked/b.wav") + ": ", 0), 0u) << list.Problems[1];
}

TEST(SourceExtensionTest, MatchesTheLastExtensionInAnyCase) {
  EXPECT_TRUE(HasSourceExtension("/a.b/Song.Wma", TSourceFormat::sfWma));
  EXPECT_FALSE(HasSourceExtension("/a.wma/song", TSourceFormat::sfWma));
  EXPECT_FALSE(HasSourceExtension("/a/.wma", TSourceFormat::sfWma));
  EXPECT_FALSE(HasSourceExtension("/a/song.wma.part", TSourceFormat::sfWma));
}

}  // namespace
}  // namespace melvanto::testing
