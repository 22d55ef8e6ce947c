#include "wma_choice.h"

#include <gtest/gtest.h>

#include <string>

namespace melvanto::testing {
namespace {

// Where the lists hold "96 kbps, 44 kHz, stereo CBR", found independently of the code.
std::pair<std::int32_t, std::int32_t> Position96(const std::vector<TWMACodec>& codecs) {
  for (std::int32_t c = 0; c < static_cast<std::int32_t>(codecs.size()); ++c) {
    const auto& formats = codecs[static_cast<std::size_t>(c)].Formats;
    for (std::size_t f = 0; f < formats.size(); ++f)
      if (formats[f] == "96 kbps, 44 kHz, stereo CBR") return {c, static_cast<std::int32_t>(f)};
  }
  return {-1, -1};
}

TEST(WmaChoice, StoredValidChoiceIsKept) {
  const std::vector<TWMACodec> lister = ListWMACodecs(false);
  TOptionsSetting s;
  s.CodecIndex = 1;
  s.FormatIndex = 3;
  ChooseDefaultWMAFormat(lister, s);
  EXPECT_EQ(s.CodecIndex, 1);
  EXPECT_EQ(s.FormatIndex, 3);
}

TEST(WmaChoice, NoChoiceOrAnInvalidOneTakesThe96KbpsStereoFormat) {
  const std::vector<TWMACodec> lister = ListWMACodecs(false);
  const auto [codec, format] = Position96(lister);
  ASSERT_EQ(codec, 0) << "the first codec offers it";
  ASSERT_GT(format, 0);
  const std::int32_t codecs = static_cast<std::int32_t>(lister.size());
  const std::int32_t formats = static_cast<std::int32_t>(lister[0].Formats.size());
  // None chosen; codec past the list; format past its codec's list; a negative format.
  const std::pair<std::int32_t, std::int32_t> stored[] = {
      {-1, -1}, {codecs, 0}, {0, formats}, {0, -1}, {-1, 5}};
  for (const auto& [c, f] : stored) {
    TOptionsSetting s;
    s.CodecIndex = c;
    s.FormatIndex = f;
    ChooseDefaultWMAFormat(lister, s);
    EXPECT_EQ(s.CodecIndex, codec) << c << "/" << f;
    EXPECT_EQ(s.FormatIndex, format) << c << "/" << f;
  }
}

TEST(WmaChoice, ListsWithoutThe96KbpsFormatFallBackToCodecZeroFormatZero) {
  // The runtime refuses VBR for every codec, so with VBR asked no codec lists a format.
  const std::vector<TWMACodec> lister = ListWMACodecs(true);
  ASSERT_FALSE(lister.empty());
  for (const TWMACodec& codec : lister) ASSERT_TRUE(codec.Formats.empty()) << codec.Name;
  TOptionsSetting s;
  s.CodecIndex = 1;
  s.FormatIndex = 2;
  ChooseDefaultWMAFormat(lister, s);
  EXPECT_EQ(s.CodecIndex, 0);
  EXPECT_EQ(s.FormatIndex, 0);
}

}  // namespace
}  // namespace melvanto::testing
