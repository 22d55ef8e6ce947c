#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace melvanto {

// Tag text comes in two forms: "ANSI" single-byte text, which here is ISO-8859-1 (the
// ID3v1 convention, and what other tag readers assume), and wide UTF-16 text.

std::u16string Latin1ToWide(std::string_view latin1);
// Characters that Latin-1 cannot hold become "?".
std::string WideToLatin1(std::u16string_view wide);

// UTF-8 as found in tag frames: malformed sequences decode to U+FFFD instead of failing,
// so one bad byte does not cost the whole value.
std::u16string Utf8ToWide(std::string_view utf8);
// Unpaired surrogates encode as U+FFFD, so the result is always valid UTF-8.
std::string WideToUtf8(std::u16string_view wide);

// UTF-8 text cut to at most max bytes without splitting a character.
std::string CutUtf8(std::string text, std::size_t max);

// Characters of code 32 and below removed at both ends.
std::string TrimControl(std::string_view text);
std::u16string TrimControl(std::u16string_view text);

// The whole text as a 32-bit integer (optional sign, decimal digits), or nothing.
std::optional<std::int32_t> ParseInteger(std::u16string_view text);
std::optional<std::int32_t> ParseInteger(std::string_view text);

// c in lower case when it is an ASCII capital; any other byte as it is.
char AsciiLower(char c);
// Case-insensitive comparison of ASCII letters; other characters compare by code.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

}  // namespace melvanto
