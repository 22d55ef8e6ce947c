#include "wma_choice.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace melvanto {
namespace {

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  if (part.size() > text.size()) return false;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < part.size() && lower(text[i + k]) == lower(part[k])) ++k;
    if (k == part.size()) return true;
  }
  return false;
}

}  // namespace

void ChooseDefaultWMAFormat(TWMAOut& lister, TOptionsSetting& settings) {
  const auto codecs = static_cast<std::int32_t>(lister.Codecs().size());
  // A negative format position would select nothing: not a choice to keep.
  if (settings.CodecIndex >= 0 && settings.CodecIndex < codecs && settings.FormatIndex >= 0 &&
      settings.FormatIndex < static_cast<std::int32_t>(lister.Formats(settings.CodecIndex).size()))
    return;
  for (std::int32_t c = 0; c < codecs; ++c) {
    // Formats() refills one list on every call: take a copy before the next codec's.
    const std::vector<std::string> formats = lister.Formats(c);
    for (std::size_t f = 0; f < formats.size(); ++f) {
      if (ContainsIgnoringCase(formats[f], "96 kbps, 44 khz, stereo CBR")) {
        settings.CodecIndex = c;
        settings.FormatIndex = static_cast<std::int32_t>(f);
        return;
      }
    }
  }
  settings.CodecIndex = 0;
  settings.FormatIndex = 0;
}

}  // namespace melvanto
