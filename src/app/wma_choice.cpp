#include "wma_choice.h"

#include <cstddef>
#include <string>
#include <string_view>

#include "wma_out.h"

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

std::vector<TWMACodec> ListWMACodecs(bool vbr) {
  TWMAOut lister;
  lister.SetVBR(vbr);
  std::vector<TWMACodec> codecs;
  for (const std::string& name : lister.Codecs()) {
    const auto index = static_cast<std::int32_t>(codecs.size());
    codecs.push_back({name, lister.Formats(index)});
  }
  return codecs;
}

void ChooseDefaultWMAFormat(const std::vector<TWMACodec>& codecs, TOptionsSetting& settings) {
  const auto count = static_cast<std::int32_t>(codecs.size());
  // A negative format position would select nothing: not a choice to keep.
  if (settings.CodecIndex >= 0 && settings.CodecIndex < count && settings.FormatIndex >= 0 &&
      settings.FormatIndex < static_cast<std::int32_t>(codecs[static_cast<std::size_t>(settings.CodecIndex)].Formats.size()))
    return;
  for (std::int32_t c = 0; c < count; ++c) {
    const std::vector<std::string>& formats = codecs[static_cast<std::size_t>(c)].Formats;
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

void DropUnusableWMAVbr(const std::vector<TWMACodec>& vbrCodecs, TOptionsSetting& settings) {
  if (!settings.VBR) return;
  const auto codec = static_cast<std::size_t>(settings.CodecIndex);
  if (settings.CodecIndex < 0 || codec >= vbrCodecs.size() || vbrCodecs[codec].Formats.empty())
    settings.VBR = false;
}

}  // namespace melvanto
