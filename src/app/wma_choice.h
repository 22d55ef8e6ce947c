#pragma once

#include "settings.h"
#include "wma_out.h"

namespace melvanto {

// The WMA codec and format the main window starts with: the stored choice when lister's
// lists hold it; otherwise the first format described as "96 kbps, 44 khz, stereo CBR"
// (letter case ignored) over all codecs in order; otherwise codec 0, format 0.
// lister is only used for its lists (with its VBR setting as it is).
void ChooseDefaultWMAFormat(TWMAOut& lister, TOptionsSetting& settings);

}  // namespace melvanto
