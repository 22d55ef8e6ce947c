#pragma once

// The files a batch converts, from the paths a user names: files as they are, folders
// searched for the direction's source files.

#include <string>
#include <vector>

#include "conversion_mode.h"

namespace melvanto {

// One file of a batch. Subfolder is the folder the file was found in, relative to the folder
// the user named, with a trailing '/' ("live/1999/"); empty for a file named itself or found
// at the top of a named folder. Outputs may keep the tree with it.
struct TInputFile {
  std::string Path;
  std::string Subfolder;
};

struct TInputList {
  std::vector<TInputFile> Files;
  // "PATH: why" for each folder or entry that could not be read, or link that leads back into
  // a folder already searched; those are skipped, the rest of the batch goes on.
  std::vector<std::string> Problems;
  // Whether something could not be read, so files the user meant may be missing from Files;
  // a link loop alone leaves the list whole.
  bool Incomplete = false;
};

// The extensions of a source format's files, lower case with the dot (".wav").
std::vector<std::string> SourceExtensions(TSourceFormat source);
// Whether F's extension is one of source's, in any case (".WAV" counts).
bool HasSourceExtension(const std::string& F, TSourceFormat source);

// paths in the order given: a folder (or a link to one) adds the files inside it, recursively,
// whose extension is source's, ordered by path; names starting with '.' are skipped (hidden
// files, and the "._" shadows other systems leave). Every real folder is searched once, so
// a link loop ends. Anything else is kept as named, so that a missing or unreadable file is
// reported by the conversion like any other.
TInputList CollectInputs(const std::vector<std::string>& paths, TSourceFormat source);

// The paths of files.
std::vector<std::string> PathsOf(const std::vector<TInputFile>& files);

}  // namespace melvanto
