#include "taglib_binding.h"

#include <memory>
#include <mutex>
#include <optional>

#include "au_exception.h"
#include "dynamic_library.h"
#include "text_codec.h"

namespace melvanto {

namespace {

std::mutex BindingLock;
std::string LibraryName = "libtag_c.so.0";
std::unique_ptr<TDynamicLibrary> Library;
TTagLibBinding Binding;

// Frees the library's file handle on every path out.
struct FileCloser {
  const TTagLibBinding& Lib;
  void operator()(TagLib_File* file) const { Lib.taglib_file_free(file); }
};

// The whole number a tag text starts with ("3" of "3/12", "2024" of "2024-05-01").
std::optional<unsigned> LeadingNumber(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0) return std::nullopt;
  return static_cast<unsigned>(std::stoul(text.substr(0, digits)));
}

}  // namespace

TTagLibBinding BindTagLib() {
  std::lock_guard lock(BindingLock);
  if (Binding.Loaded) return Binding;
  auto library = std::make_unique<TDynamicLibrary>(LibraryName);
  if (!library->Loaded()) return Binding;
  TTagLibBinding found;
#define MELVANTO_TAGLIB_RESOLVE(name) library->Resolve(#name, found.name);
  MELVANTO_TAGLIB_NAMES(MELVANTO_TAGLIB_RESOLVE)
#undef MELVANTO_TAGLIB_RESOLVE
  // The names the tag writing calls must all be there; the others may be missing.
  const bool usable = found.taglib_id3v2_set_default_text_encoding && found.taglib_file_new &&
                      found.taglib_file_is_valid && found.taglib_file_tag && found.taglib_tag_set_title &&
                      found.taglib_tag_set_artist && found.taglib_tag_set_album && found.taglib_tag_set_genre &&
                      found.taglib_tag_set_year && found.taglib_tag_set_track && found.taglib_file_save &&
                      found.taglib_file_free;
  if (!usable) return Binding;
  // A process-wide setting of the library: set once here rather than by every writer
  // thread. Text frames the library creates are UTF-16.
  found.taglib_id3v2_set_default_text_encoding(TagLib_ID3v2_UTF16);
  found.Loaded = true;
  Library = std::move(library);
  Binding = found;
  return Binding;
}

void WriteTagsWithTagLib(const TTagLibBinding& lib, const std::string& fileName, const TId3v2Tags& tags) {
  std::unique_ptr<TagLib_File, FileCloser> file(lib.taglib_file_new(fileName.c_str()), FileCloser{lib});
  if (!file || !lib.taglib_file_is_valid(file.get())) throw EAuException("Failed to write tags");
  TagLib_Tag* tag = lib.taglib_file_tag(file.get());
  if (tag == nullptr) throw EAuException("Failed to write tags");

  lib.taglib_tag_set_title(tag, WideToUtf8(tags.Title()).c_str());
  lib.taglib_tag_set_artist(tag, WideToUtf8(tags.Artist()).c_str());
  lib.taglib_tag_set_album(tag, WideToUtf8(tags.Album()).c_str());
  lib.taglib_tag_set_genre(tag, WideToUtf8(tags.Genre()).c_str());
  // Texts that do not start with a number are left out; the rest still saves.
  if (const auto year = LeadingNumber(tags.Year())) lib.taglib_tag_set_year(tag, *year);
  if (const auto track = LeadingNumber(tags.Track())) lib.taglib_tag_set_track(tag, *track);

  if (!lib.taglib_file_save(file.get())) throw EAuException("Failed to save tags");
}

std::string TagLibVersion() {
  if (!BindTagLib().Loaded) return {};
  // The flat interface has no version call, and the number in the library's file name is its
  // interface's, not TagLib's release (1.13 ships libtag.so.1.19.0): name the file, so nobody
  // takes it for the release.
  const std::string version = LibraryFileVersion(LoadedLibraryFile("libtag"), "libtag");
  return version.empty() ? "unknown" : "libtag.so." + version;
}

void SetTagLibLibraryNameForTesting(const std::string& name) {
  std::lock_guard lock(BindingLock);
  LibraryName = name;
  Binding = TTagLibBinding{};
  Library.reset();
}

}  // namespace melvanto
