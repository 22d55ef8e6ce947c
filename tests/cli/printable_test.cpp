// What may reach a terminal: control characters and broken UTF-8 escaped, every other
// character as it was.
#include "printable.h"

#include <gtest/gtest.h>

#include <string>

namespace melvanto::testing {
namespace {

using cli::Printable;

TEST(CliPrintable, ControlCharactersAreEscaped) {
  EXPECT_EQ(Printable("a\nb\rc\td"), "a\\nb\\rc\\td");
  EXPECT_EQ(Printable(std::string("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(Printable("\x1b]0;x\x07\x1b[2J"), "\\x1b]0;x\\x07\\x1b[2J");
  EXPECT_EQ(Printable("\x1f\x7f"), "\\x1f\\x7f");
  // C1 controls as UTF-8: U+0080, U+009B (the one-byte CSI), U+009F; U+00A0 is no control.
  EXPECT_EQ(Printable("\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0"), "\\u0080\\u009b\\u009f\xc2\xa0");
  for (int c = 0; c < 0x20; ++c) {
    const std::string shown = Printable(std::string(1, static_cast<char>(c)));
    EXPECT_EQ(shown.front(), '\\') << c;
    for (const char s : shown) EXPECT_GE(static_cast<unsigned char>(s), 0x20) << c;
  }
}

TEST(CliPrintable, BytesThatAreNotUtf8AreEscaped) {
  EXPECT_EQ(Printable("\x9b"), "\\x9b") << "a lone C1 byte: some terminals take it as CSI";
  EXPECT_EQ(Printable("a\xff\xfe"), "a\\xff\\xfe");
  EXPECT_EQ(Printable("\xc3"), "\\xc3") << "cut short at the end";
  EXPECT_EQ(Printable("\xe2\x82z"), "\\xe2\\x82z") << "cut short before a letter";
  EXPECT_EQ(Printable("\xc0\x8a"), "\\xc0\\x8a") << "an overlong line break";
  EXPECT_EQ(Printable("\xe0\x82\x9b"), "\\xe0\\x82\\x9b") << "an overlong C1 control";
  EXPECT_EQ(Printable("\xed\xa0\x80"), "\\xed\\xa0\\x80") << "a surrogate";
  EXPECT_EQ(Printable("\xf4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80") << "past U+10FFFF";
}

TEST(CliPrintable, OrdinaryTextIsUntouched) {
  for (const char* text :
       {"", "Plain title", "Sö \"quoted\" ÿ", "Жёлтый", "東京事変", "كلمات",
        "🎵 🇩🇪 👩‍👩‍👧", "\xf4\x8f\xbf\xbf", "\xef\xbf\xbd", "back\\slash 100%"})
    EXPECT_EQ(Printable(text), text);
}

}  // namespace
}  // namespace melvanto::testing
