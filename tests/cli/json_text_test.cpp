// The JSON string writer of `info --json`: every control byte escaped, and the result read
// back by a JSON parser we did not write.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "json_text.h"
#include "temp_dir.h"
#include "tools.h"

namespace melvanto::testing {
namespace {

using cli::JsonString;

// Each control byte between two letters, as it must be written.
const char* const kControlEscapes[32] = {
    "a\\u0000z", "a\\u0001z", "a\\u0002z", "a\\u0003z", "a\\u0004z", "a\\u0005z", "a\\u0006z", "a\\u0007z",
    "a\\bz",     "a\\tz",     "a\\nz",     "a\\u000bz", "a\\fz",     "a\\rz",     "a\\u000ez", "a\\u000fz",
    "a\\u0010z", "a\\u0011z", "a\\u0012z", "a\\u0013z", "a\\u0014z", "a\\u0015z", "a\\u0016z", "a\\u0017z",
    "a\\u0018z", "a\\u0019z", "a\\u001az", "a\\u001bz", "a\\u001cz", "a\\u001dz", "a\\u001ez", "a\\u001fz",
};

std::string Between(char c) { return std::string("a") + c + "z"; }

TEST(CliJson, EveryControlByteIsEscaped) {
  for (int c = 0; c < 0x20; ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(JsonString(Between(static_cast<char>(c))), std::string("\"") + kControlEscapes[c] + "\"");
  }
  // Several in a row, and at both ends.
  EXPECT_EQ(JsonString(std::string("\0\x1f\n", 3)), "\"\\u0000\\u001f\\n\"");
}

TEST(CliJson, QuoteAndBackslashAreEscapedDeleteIsNot) {
  EXPECT_EQ(JsonString("\""), "\"\\\"\"");
  EXPECT_EQ(JsonString("\\"), "\"\\\\\"");
  EXPECT_EQ(JsonString("\\\"\\"), "\"\\\\\\\"\\\\\"");
  // JSON asks escapes of U+0000..U+001F only; DEL is an ordinary character.
  EXPECT_EQ(JsonString("a\x7fz"), "\"a\x7fz\"");
  EXPECT_EQ(JsonString(" ~"), "\" ~\"");
}

TEST(CliJson, EveryEscapedStringParsesBackToItsText) {
  MELVANTO_REQUIRE_COMMAND("python3");
  std::vector<std::string> texts;
  for (int c = 0; c < 0x20; ++c) texts.push_back(Between(static_cast<char>(c)));
  texts.push_back(Between('"'));
  texts.push_back(Between('\\'));
  texts.push_back(Between('\x7f'));
  std::string all;
  for (int c = 0; c < 0x80; ++c) all += static_cast<char>(c);
  texts.push_back(all);

  TempDir dir;
  const std::string path = (dir / "strings.json").string();
  {
    std::ofstream json(path, std::ios::binary);
    json << "[";
    for (std::size_t i = 0; i < texts.size(); ++i) json << (i > 0 ? ",\n" : "") << JsonString(texts[i]);
    json << "]";
  }
  // Python's parser refuses raw control characters in strings; each string comes back as its
  // code points in hex.
  const std::string decoded = CaptureText(
      "python3 -c 'import json,sys\n"
      "for s in json.load(open(sys.argv[1])): print(\" \".join(\"%x\" % ord(c) for c in s))' '" +
      path + "'");
  std::string expected;
  for (const std::string& text : texts) {
    std::string line;
    for (const char c : text) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned char>(c));
      line += (line.empty() ? "" : " ") + std::string(hex);
    }
    expected += line + "\n";
  }
  EXPECT_EQ(decoded, expected);
}

}  // namespace
}  // namespace melvanto::testing
