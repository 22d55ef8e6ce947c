#pragma once

// TagLib's flat function interface, loaded by name at run time and bound once per
// process; and the writing of an ID3v2 tag into a finished MP3 file through it.

#include <taglib/tag_c.h>

#include <string>

#include "tags.h"

namespace melvanto {

// The 29 names, in the order they are looked up.
#define MELVANTO_TAGLIB_NAMES(X)                                                                              \
  X(taglib_audioproperties_bitrate) X(taglib_audioproperties_channels) X(taglib_audioproperties_length)       \
  X(taglib_audioproperties_samplerate) X(taglib_file_audioproperties) X(taglib_file_free)                      \
  X(taglib_file_is_valid) X(taglib_file_new) X(taglib_file_new_type) X(taglib_file_save) X(taglib_file_tag)   \
  X(taglib_id3v2_set_default_text_encoding) X(taglib_set_string_management_enabled)                          \
  X(taglib_set_strings_unicode) X(taglib_tag_album) X(taglib_tag_artist) X(taglib_tag_comment)                \
  X(taglib_tag_free_strings) X(taglib_tag_genre) X(taglib_tag_set_album) X(taglib_tag_set_artist)             \
  X(taglib_tag_set_comment) X(taglib_tag_set_genre) X(taglib_tag_set_title) X(taglib_tag_set_track)           \
  X(taglib_tag_set_year) X(taglib_tag_title) X(taglib_tag_track) X(taglib_tag_year)

struct TTagLibBinding {
  bool Loaded = false;
#define MELVANTO_TAGLIB_SLOT(name) decltype(&::name) name = nullptr;
  MELVANTO_TAGLIB_NAMES(MELVANTO_TAGLIB_SLOT)
#undef MELVANTO_TAGLIB_SLOT
};

// Binds under a process-wide lock: nothing when already loaded; a failed load leaves the
// flag false and is tried again next time. Returns the binding.
TTagLibBinding BindTagLib();

// Writes title, artist, album, genre, year and track into the named file as an ID3v2 tag
// (UTF-16 text frames). Raises "Failed to write tags" when the library cannot open or parse
// the file and "Failed to save tags" when it cannot save; the library's file handle is
// freed either way.
void WriteTagsWithTagLib(const TTagLibBinding& lib, const std::string& fileName, const TId3v2Tags& tags);

// The TagLib library in use by its file name ("libtag.so.1.19.0"),
// binding first; empty when it does not load, "unknown" when the file name says nothing.
std::string TagLibVersion();

// Tests only: the library name to load, and forgetting the binding.
void SetTagLibLibraryNameForTesting(const std::string& name);

}  // namespace melvanto
