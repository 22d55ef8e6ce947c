#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace melvanto {

// One stored tag value: null, an unsigned 8- or 16-bit integer, an ANSI (Latin-1) string
// or a wide (UTF-16) string.
using TTagValue = std::variant<std::monostate, std::uint8_t, std::uint16_t, std::string, std::u16string>;

inline bool IsNull(const TTagValue& v) { return std::holds_alternative<std::monostate>(v); }

// Two nulls are the same; a null and a non-null never are; otherwise the values compare
// as values, whatever their types: the 8-bit 12, the 16-bit 12 and the text "12" are
// the same, as are the ANSI and wide forms of one text.
bool SameTagValue(const TTagValue& a, const TTagValue& b);

// The value as an integer (strings when their whole text is one), 0 otherwise.
std::int32_t TagValueAsInteger(const TTagValue& v);
// The value as text: integers in decimal, empty for null.
std::string TagValueAsString(const TTagValue& v);
std::u16string TagValueAsWideString(const TTagValue& v);

}  // namespace melvanto
