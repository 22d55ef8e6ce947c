#include "tag_value.h"

#include "text_codec.h"

namespace melvanto {

namespace {

bool IsInteger(const TTagValue& v) {
  return std::holds_alternative<std::uint8_t>(v) || std::holds_alternative<std::uint16_t>(v);
}

std::int32_t IntegerOf(const TTagValue& v) {
  if (const auto* b = std::get_if<std::uint8_t>(&v)) return *b;
  return std::get<std::uint16_t>(v);
}

}  // namespace

bool SameTagValue(const TTagValue& a, const TTagValue& b) {
  if (IsNull(a) || IsNull(b)) return IsNull(a) && IsNull(b);
  if (IsInteger(a) && IsInteger(b)) return IntegerOf(a) == IntegerOf(b);
  return TagValueAsWideString(a) == TagValueAsWideString(b);
}

std::int32_t TagValueAsInteger(const TTagValue& v) {
  if (IsNull(v)) return 0;
  if (IsInteger(v)) return IntegerOf(v);
  if (const auto* s = std::get_if<std::string>(&v)) return ParseInteger(std::string_view(*s)).value_or(0);
  return ParseInteger(std::u16string_view(std::get<std::u16string>(v))).value_or(0);
}

std::string TagValueAsString(const TTagValue& v) {
  if (IsNull(v)) return {};
  if (IsInteger(v)) return std::to_string(IntegerOf(v));
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return WideToLatin1(std::get<std::u16string>(v));
}

std::u16string TagValueAsWideString(const TTagValue& v) {
  if (const auto* w = std::get_if<std::u16string>(&v)) return *w;
  return Latin1ToWide(TagValueAsString(v));
}

}  // namespace melvanto
