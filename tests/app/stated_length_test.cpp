// The lengths the readers state for WMA and MP3 files: what info shows is what a decoder
// delivers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "media_probe.h"
#include "require_tool.h"
#include "temp_dir.h"
#include "tools.h"

namespace melvanto::testing {
namespace {

// Samples per channel ffmpeg decodes from a file.
std::int64_t DecodedFrames(const std::string& path, int channels) {
  const std::string text = CaptureText("ffmpeg -nostdin -v error -i '" + path + "' -f s16le - | wc -c");
  return text.empty() ? -1 : std::atoll(text.c_str()) / (2 * channels);
}

TEST(StatedLength, WmaLengthIsWhatDecodes) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  TempDir dir;
  struct Case {
    const char* codec;
    int rate, channels;
    const char* seconds;
    int frame;  // the codec's frame in samples
  } cases[] = {
      {"wmav2", 44100, 2, "2", 2048},   {"wmav2", 44100, 1, "3.3", 2048}, {"wmav2", 48000, 2, "4.33", 2048},
      {"wmav2", 22050, 1, "1.3", 1024}, {"wmav2", 8000, 1, "0.7", 512},   {"wmav1", 32000, 2, "1.9", 1024},
      {"wmav1", 44100, 2, "12.01", 2048},
  };
  for (const Case& c : cases) {
    const std::string name = std::string(c.codec) + "-" + std::to_string(c.rate) + "-" + std::to_string(c.channels) +
                             "-" + c.seconds + ".wma";
    SCOPED_TRACE(name);
    const std::string path = (dir / name).string();
    ASSERT_TRUE(Shell("ffmpeg -nostdin -v error -y -f lavfi -i 'sine=f=440:d=" + std::string(c.seconds) +
                      ":r=" + std::to_string(c.rate) + "' -ac " + std::to_string(c.channels) + " -c:a " + c.codec +
                      " '" + path + "'"));
    const TMediaInfo info = ProbeMedia(path);
    ASSERT_EQ(info.Error, "");
    ASSERT_EQ(info.Container, "WMA");
    const std::int64_t decoded = DecodedFrames(path, c.channels);
    ASSERT_GT(decoded, 0);
    // Never less: the stated length also ends delivery.
    EXPECT_GE(info.Frames, decoded);
    EXPECT_LE(info.Frames, decoded + c.frame);
  }
}

}  // namespace
}  // namespace melvanto::testing
