// The versions of the run-time loaded libraries, checked against what other tools say about
// the same libraries.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "dynamic_library.h"
#include "lame_enc.h"
#include "taglib_binding.h"
#include "tools.h"

namespace melvanto::testing {
namespace {

TEST(LibraryFileVersion, TakesOnlyDottedNumbersAfterTheStemsSo) {
  EXPECT_EQ(LibraryFileVersion("/usr/lib/x86_64-linux-gnu/libtag.so.1.20.1", "libtag"), "1.20.1");
  EXPECT_EQ(LibraryFileVersion("libtag.so.2", "libtag"), "2");
  EXPECT_EQ(LibraryFileVersion("libtag.so.1.19.0", "libtag"), "1.19.0");
  for (const char* name : {"libtag.so", "libtag.so.", "libtag_c.so.0.0.0", "libtag.so.1..2", "libtag.so.1.2.",
                           "libtag.so.1.19.0-debug", "/opt/libtag.so.1/other", "xlibtag.so.1", ""})
    EXPECT_EQ(LibraryFileVersion(name, "libtag"), "") << name;
}

TEST(LoadedLibraryFile, FindsTheMappedFileUnderItsRealName) {
  EXPECT_EQ(LoadedLibraryFile("libmelvanto-never-built"), "");
  // The C interface these tests link brings TagLib itself in: the kernel's list of mappings
  // names its real file.
  std::ifstream maps("/proc/self/maps");
  std::string line, mapped;
  const std::regex tagLib(R"((/\S*/libtag\.so\.[0-9.]+)$)");
  for (std::smatch m; std::getline(maps, line);)
    if (std::regex_search(line, m, tagLib)) mapped = m[1];
  ASSERT_FALSE(mapped.empty());
  const std::string found = LoadedLibraryFile("libtag");
  EXPECT_EQ(found.substr(found.rfind('/')), mapped.substr(mapped.rfind('/')));
}

TEST(RuntimeVersions, LameSaysWhatTheLameToolSays) {
  MELVANTO_REQUIRE_COMMAND("lame");
  // "LAME 64bits version 3.100 (http://lame.sf.net)": the tool on the same library.
  const std::string banner = CaptureText("lame --version");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(banner, m, std::regex(R"(version (\S+))"))) << banner;
  EXPECT_EQ(LameVersion(), m[1].str());
}

TEST(RuntimeVersions, TagLibIsTheLoadedFilesVersion) {
  const std::string version = TagLibVersion();
  EXPECT_TRUE(std::regex_match(version, std::regex(R"(libtag\.so\.\d+(\.\d+)*)"))) << version;
  EXPECT_EQ(LoadedLibraryFile("libtag").substr(LoadedLibraryFile("libtag").rfind('/') + 1), version);
}

TEST(RuntimeVersions, ALibraryThatDoesNotLoadHasNoVersion) {
  SetLameLibraryNameForTesting("libmelvanto-no-such-lame.so.0");
  SetTagLibLibraryNameForTesting("libmelvanto-no-such-tag_c.so.0");
  const std::string lame = LameVersion();
  const std::string tagLib = TagLibVersion();
  SetLameLibraryNameForTesting("libmp3lame.so.0");
  SetTagLibLibraryNameForTesting("libtag_c.so.0");
  EXPECT_EQ(lame, "");
  EXPECT_EQ(tagLib, "") << "TagLib is mapped (the tests link it) but not loaded for tagging";
  EXPECT_FALSE(LameVersion().empty()) << "loads again under its own name";
}

}  // namespace
}  // namespace melvanto::testing
