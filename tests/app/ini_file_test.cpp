// The INI file: reading what hand-edited files hold, writing in place without losing
// anything foreign, and the atomic save with its failure paths.

#include "ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "file_size_limit.h"
#include "temp_dir.h"
#include "text_file.h"

namespace melvanto::testing {
namespace {

namespace fs = std::filesystem;

// "K0", "K1", ...: appended, since GCC 12 warns (wrongly) on a literal + a temporary string.
std::string Key(std::size_t i) {
  return std::string(1, 'K').append(std::to_string(i));
}

// Names of everything in a folder, so a leftover temporary file shows.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(IniFile, ReadsHandEditedFiles) {
  TempDir dir;
  // A byte-order mark, CRLF line ends, blanks everywhere, comments and junk lines.
  WriteText(dir / "a.ini",
            "\xEF\xBB\xBF[First]\r\n"
            "  Name =  Value with spaces  \r\n"
            "; Name=commented out\r\n"
            "# Other=also a comment\r\n"
            "Quoted=\"  kept blanks  \"\r\n"
            "Inner=a \"b\" c\r\n"
            "Lone=\"\r\n"
            "junk line without equals\r\n"
            "Empty=\r\n"
            "  [ Second ]  \r\n"
            "name=second section\r\n"
            "Eq=a=b\r\n"
            "[first]\r\n"
            "Late=from the repeated header\r\n"
            "Name=shadowed by the first one\r\n");
  TIniFile ini;
  ASSERT_TRUE(ini.Load((dir / "a.ini").string()));
  EXPECT_EQ(ini.ReadString("First", "Name", "x"), "Value with spaces");
  EXPECT_EQ(ini.ReadString("FIRST", "nAmE", "x"), "Value with spaces") << "names compare without case";
  EXPECT_EQ(ini.ReadString("First", "Other", "fallback"), "fallback");
  EXPECT_EQ(ini.ReadString("First", "Quoted", "x"), "  kept blanks  ");
  EXPECT_EQ(ini.ReadString("First", "Inner", "x"), "a \"b\" c");
  EXPECT_EQ(ini.ReadString("First", "Lone", "x"), "\"");
  EXPECT_EQ(ini.ReadString("First", "Empty", "x"), "") << "a present empty value is a value";
  EXPECT_EQ(ini.ReadString("Second", "Name", "x"), "second section");
  EXPECT_EQ(ini.ReadString("Second", "Eq", "x"), "a=b");
  EXPECT_EQ(ini.ReadString("First", "Late", "x"), "from the repeated header");
  EXPECT_EQ(ini.ReadString("Second", "Quoted", "x"), "x") << "keys belong to their own section";
  EXPECT_EQ(ini.ReadString("Missing", "Name", "x"), "x");
}

TEST(IniFile, IntegersAndBooleans) {
  TempDir dir;
  WriteText(dir / "a.ini",
            "[N]\nplain=42\nneg=-17\nplus=+5\nblank= 8 \nquoted=\" 9 \"\nmin=-2147483648\nmax=2147483647\n"
            "over=2147483648\nunder=-2147483649\nhuge=99999999999999999999\nsuffix=12abc\nempty=\nsign=-\n"
            "hex=0x10\nspace=1 2\nfloat=1.5\n"
            "two=2\nzero=0\nminus=-1\nword=yes\n");
  TIniFile ini;
  ASSERT_TRUE(ini.Load((dir / "a.ini").string()));
  EXPECT_EQ(ini.ReadInteger("N", "plain", 7), 42);
  EXPECT_EQ(ini.ReadInteger("N", "neg", 7), -17);
  EXPECT_EQ(ini.ReadInteger("N", "plus", 7), 5);
  EXPECT_EQ(ini.ReadInteger("N", "blank", 7), 8);
  EXPECT_EQ(ini.ReadInteger("N", "quoted", 7), 9);
  EXPECT_EQ(ini.ReadInteger("N", "min", 7), INT32_MIN);
  EXPECT_EQ(ini.ReadInteger("N", "max", 7), INT32_MAX);
  for (const char* bad :
       {"over", "under", "huge", "suffix", "empty", "sign", "hex", "space", "float", "missing"})
    EXPECT_EQ(ini.ReadInteger("N", bad, 7), 7) << bad;

  EXPECT_TRUE(ini.ReadBool("N", "two", false)) << "any non-zero value is true";
  EXPECT_TRUE(ini.ReadBool("N", "minus", false));
  EXPECT_FALSE(ini.ReadBool("N", "zero", true));
  EXPECT_TRUE(ini.ReadBool("N", "word", true)) << "not a number: the fallback";
  EXPECT_FALSE(ini.ReadBool("N", "word", false));
  EXPECT_TRUE(ini.ReadBool("N", "missing", true));
}

TEST(IniFile, WritesInPlaceAndKeepsEverythingElse) {
  TempDir dir;
  const std::string original =
      "; settings of several programs\n"
      "[A]\n"
      "One=1\n"
      "# keep me\n"
      "Two=2\n"
      "\n"
      "[B]\n"
      "Other=x\n"
      "unparsable line\n";
  WriteText(dir / "a.ini", original);
  TIniFile ini;
  ASSERT_TRUE(ini.Load((dir / "a.ini").string()));
  ini.WriteInteger("a", "ONE", -5);    // replaced where it stands
  ini.WriteString("A", "Three", "3");  // after A's last entry, before the blank line
  ini.WriteBool("C", "Flag", true);    // a new section at the end
  ini.WriteBool("C", "Off", false);
  ini.WriteString("A", "Padded", " p ");  // blanks that reading would strip are quoted
  ini.WriteString("A", "Quotes", "\"q\"");
  ASSERT_TRUE(ini.SaveAtomically((dir / "a.ini").string()));
  EXPECT_EQ(ReadText(dir / "a.ini"),
            "; settings of several programs\n"
            "[A]\n"
            "ONE=-5\n"
            "# keep me\n"
            "Two=2\n"
            "Three=3\n"
            "Padded=\" p \"\n"
            "Quotes=\"\"q\"\"\n"
            "\n"
            "[B]\n"
            "Other=x\n"
            "unparsable line\n"
            "\n"
            "[C]\n"
            "Flag=1\n"
            "Off=0\n");

  TIniFile back;
  ASSERT_TRUE(back.Load((dir / "a.ini").string()));
  EXPECT_EQ(back.ReadString("A", "Padded", ""), " p ");
  EXPECT_EQ(back.ReadString("A", "Quotes", ""), "\"q\"");
  EXPECT_EQ(back.ReadInteger("A", "One", 0), -5);
}

TEST(IniFile, ValuesSurviveTheRoundTrip) {
  TempDir dir;
  TIniFile ini;
  const std::string values[] = {
      "",      " ", "\t lead", "trail ", "\"", "\"\"", "a=b;c#d", "[not a section]", "/home/ü ser/Müsik ♪/",
      "\"half"};
  for (std::size_t i = 0; i < std::size(values); ++i)
    ini.WriteString("S", Key(i), values[i]);
  ini.WriteString("S", "Broken", "line\none");
  ASSERT_TRUE(ini.SaveAtomically((dir / "a.ini").string()));

  TIniFile back;
  ASSERT_TRUE(back.Load((dir / "a.ini").string()));
  for (std::size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(back.ReadString("S", Key(i), "fallback"), values[i]) << i;
  EXPECT_EQ(back.ReadString("S", "Broken", ""), "line one") << "a line break cannot start a line of its own";
  EXPECT_EQ(back.ReadString("S", "one", "absent"), "absent");
}

TEST(IniFile, MissingOrUnreadableFileIsEmpty) {
  TempDir dir;
  fs::create_directory(dir / "folder.ini");
  // A named pipe with no writer: opening it to read would wait for one forever.
  ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
  for (const char* name : {"missing.ini", "folder.ini", "fifo.ini"}) {
    TIniFile ini;
    EXPECT_FALSE(ini.Load((dir / name).string())) << name;
    EXPECT_EQ(ini.ReadInteger("A", "B", 3), 3);
  }
  // A failed load leaves nothing of an earlier one behind.
  WriteText(dir / "a.ini", "[A]\nB=1\n");
  TIniFile ini;
  ASSERT_TRUE(ini.Load((dir / "a.ini").string()));
  EXPECT_FALSE(ini.Load((dir / "missing.ini").string()));
  EXPECT_EQ(ini.ReadInteger("A", "B", 3), 3);
}

TEST(IniFile, SaveKeepsPermissionsAndReplacesLinksWithoutFollowingThem) {
  TempDir dir;
  TIniFile ini;
  ini.WriteInteger("A", "B", 1);

  const mode_t oldMask = ::umask(027);
  ASSERT_TRUE(ini.SaveAtomically((dir / "new.ini").string()));
  ::umask(oldMask);
  EXPECT_EQ(fs::status(dir / "new.ini").permissions(), fs::perms(0640)) << "0644 under the umask";

  WriteText(dir / "private.ini", "old");
  fs::permissions(dir / "private.ini", fs::perms(0600));
  ASSERT_TRUE(ini.SaveAtomically((dir / "private.ini").string()));
  EXPECT_EQ(fs::status(dir / "private.ini").permissions(), fs::perms(0600));
  EXPECT_EQ(ReadText(dir / "private.ini"), "[A]\nB=1\n");

  // A link at the name is replaced by a regular file; what it pointed to, through a second
  // link or nowhere, stays as it was (a settings file never writes outside its folder).
  fs::create_directory(dir / "real");
  WriteText(dir / "real" / "target.ini", "old");
  fs::permissions(dir / "real" / "target.ini", fs::perms(0604));
  fs::create_symlink("real/target.ini", dir / "hop.ini");
  fs::create_symlink("hop.ini", dir / "link.ini");
  ASSERT_TRUE(ini.SaveAtomically((dir / "link.ini").string()));
  EXPECT_FALSE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadText(dir / "link.ini"), "[A]\nB=1\n");
  EXPECT_NE(fs::status(dir / "link.ini").permissions(), fs::perms(0604)) << "the target lends no mode";
  EXPECT_TRUE(fs::is_symlink(dir / "hop.ini"));
  EXPECT_EQ(ReadText(dir / "real" / "target.ini"), "old");
  EXPECT_EQ(Listing(dir / "real"), std::vector<std::string>{"target.ini"});

  fs::create_symlink("real/later.ini", dir / "dangling.ini");
  ASSERT_TRUE(ini.SaveAtomically((dir / "dangling.ini").string()));
  EXPECT_FALSE(fs::is_symlink(dir / "dangling.ini"));
  EXPECT_EQ(ReadText(dir / "dangling.ini"), "[A]\nB=1\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "real" / "later.ini")));
}

// The size is checked before reading: a file of a megabyte is read, one byte more is not.
TEST(IniFile, FilesOverAMegabyteAreRefused) {
  TempDir dir;
  const std::string head = "[A]\nB=7\n;";
  WriteText(dir / "a.ini", head);
  fs::resize_file(dir / "a.ini", kMaxIniFileBytes);  // sparse: a comment line of zero bytes
  TIniFile ini;
  const TReadResult exact = ini.Load((dir / "a.ini").string());
  EXPECT_EQ(exact.Status, TReadResult::rsRead);
  EXPECT_EQ(ini.ReadInteger("A", "B", 0), 7);

  fs::resize_file(dir / "a.ini", kMaxIniFileBytes + 1);
  const TReadResult over = ini.Load((dir / "a.ini").string());
  EXPECT_EQ(over.Status, TReadResult::rsTooLarge);
  EXPECT_EQ(ini.ReadInteger("A", "B", 0), 0);
  std::string contents = "x";
  EXPECT_EQ(ReadFileUpTo((dir / "a.ini").string(), 16, contents).Status, TReadResult::rsTooLarge);
  EXPECT_EQ(contents, "");
  EXPECT_EQ(ReadFileUpTo((dir / "missing.ini").string(), 16, contents).Status, TReadResult::rsMissing);
  fs::create_directory(dir / "folder.ini");
  EXPECT_EQ(ReadFileUpTo((dir / "folder.ini").string(), 16, contents).Status, TReadResult::rsUnreadable);
}

TEST(IniFile, FailedSaveLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string old = "[A]\nB=old\n";
  WriteText(dir / "a.ini", old);
  TIniFile ini;
  ASSERT_TRUE(ini.Load((dir / "a.ini").string()));
  ini.WriteString("A", "B", std::string(4096, 'x'));
  {
    const FileSizeLimit limit(100);
    EXPECT_FALSE(ini.SaveAtomically((dir / "a.ini").string())) << "the write itself fails";
  }
  EXPECT_EQ(ReadText(dir / "a.ini"), old);
  EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"a.ini"});

  fs::create_directory(dir / "folder.ini");
  EXPECT_FALSE(ini.SaveAtomically((dir / "folder.ini").string())) << "a folder is not replaced";
  EXPECT_TRUE(fs::is_directory(dir / "folder.ini"));
  EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"a.ini", "folder.ini"}));

  EXPECT_FALSE(ini.SaveAtomically((dir / "gone" / "a.ini").string())) << "no folder to write in";
  WriteText(dir / "file", "");
  EXPECT_FALSE(ini.SaveAtomically((dir / "file" / "a.ini").string())) << "a file where the folder should be";
  EXPECT_FALSE(ini.SaveAtomically(""));
  EXPECT_EQ(ReadText(dir / "a.ini"), old);
}

TEST(IniFile, EveryLeadingByteOrderMarkGoes) {
  // A second mark left on the first line would be stripped at the next load, turning that line
  // into a section the file did not have and hiding the value written below.
  TempDir dir;
  WriteText(dir / "a.ini", "\xEF\xBB\xBF\xEF\xBB\xBF[S]\nK=old\n");
  TIniFile ini;
  ASSERT_TRUE(ini.Load((dir / "a.ini").string()));
  EXPECT_EQ(ini.ReadString("S", "K", ""), "old");
  ini.WriteString("S", "K", "new");
  ASSERT_TRUE(ini.SaveAtomically((dir / "a.ini").string()));
  TIniFile back;
  ASSERT_TRUE(back.Load((dir / "a.ini").string()));
  EXPECT_EQ(back.ReadString("S", "K", ""), "new");
}

}  // namespace
}  // namespace melvanto::testing
