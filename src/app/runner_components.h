#pragma once

// The components a runner converts with. Only the runner and tests include this: the
// application's public headers name no format.

#include "mp3_in.h"
#include "mp3_out.h"
#include "wave_in.h"
#include "wave_out.h"
#include "wm_in.h"
#include "wma_out.h"

namespace melvanto {

// One input per source format and one output per target format. The outputs come last, so
// that they stop before the inputs they read go.
struct TRunnerComponents {
  TWaveIn WaveIn1;
  TMP3In MP3In1;
  TWMIn WMIn1;
  TWaveOut WaveOut1;
  TMP3Out MP3Out1;
  TWMAOut WMAOut1;
};

}  // namespace melvanto
