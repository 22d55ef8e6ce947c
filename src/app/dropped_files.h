#pragma once

// Paths dropped on the window or named when the program starts, sorted by the source type
// of the files they hold, so that the user picks one direction for them.

#include <string>
#include <vector>

#include "conversion_mode.h"
#include "input_files.h"

namespace melvanto {

// The files of one source type among the paths.
struct TSourceGroup {
  TSourceFormat Source;
  TInputList Inputs;
};

struct TDroppedFiles {
  // WAV, MP3, WMA, only the types that have files.
  std::vector<TSourceGroup> Groups;
  // Named paths that are neither a folder nor of a source type: converted by no direction.
  std::vector<std::string> Unused;
};

// Folders among paths are searched for each source type (CollectInputs); a named file joins
// the group of its extension.
TDroppedFiles SortDroppedPaths(const std::vector<std::string>& paths);

// The two directions from source, in the order the window offers them.
std::vector<TConversionMode> DirectionsFrom(TSourceFormat source);

}  // namespace melvanto
