#pragma once

#include <string>
#include <vector>

#include "settings.h"

namespace melvanto {

// One installed WMA codec with the formats it offers, as the WMA output numbers them.
struct TWMACodec {
  std::string Name;
  std::vector<std::string> Formats;
};

// The installed WMA codecs in order, each with its CBR formats, or with its VBR formats
// when vbr is set (none for a codec that refuses VBR).
std::vector<TWMACodec> ListWMACodecs(bool vbr);

// The WMA codec and format the main window starts with: the stored choice when codecs
// hold it; otherwise the first format described as "96 kbps, 44 khz, stereo CBR" (letter
// case ignored) over all codecs in order; otherwise codec 0, format 0.
void ChooseDefaultWMAFormat(const std::vector<TWMACodec>& codecs, TOptionsSetting& settings);
// A stored VBR choice whose codec has no VBR formats among vbrCodecs (ListWMACodecs(true))
// cannot convert: it is turned off, so that the CBR choice stands.
void DropUnusableWMAVbr(const std::vector<TWMACodec>& vbrCodecs, TOptionsSetting& settings);

}  // namespace melvanto
