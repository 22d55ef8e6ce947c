// The media libraries' version as loaded, against what the ffmpeg tool and the installed
// development files say.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tools.h"
#include "wm_backend_version.h"

namespace melvanto::testing {
namespace {

TEST(WmBackendVersion, NamesTheReleaseAndTheLibrariesAsTheToolsDo) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("pkg-config");
  std::smatch m;
  const std::string banner = CaptureText("ffmpeg -hide_banner -version");
  ASSERT_TRUE(std::regex_search(banner, m, std::regex(R"(^ffmpeg version (\S+))"))) << banner;
  const std::string release = m[1];
  auto trimmed = [](std::string text) { return text.substr(0, text.find_last_not_of("\n ") + 1); };
  const std::string codec = trimmed(CaptureText("pkg-config --modversion libavcodec"));
  const std::string format = trimmed(CaptureText("pkg-config --modversion libavformat"));
  EXPECT_EQ(WmBackendVersion(), release + " (libavcodec " + codec + ", libavformat " + format + ")");
}

}  // namespace
}  // namespace melvanto::testing
