#include "taglib_binding.h"

#include <dlfcn.h>

#include <memory>
#include <mutex>

#include "au_exception.h"
#include "text_codec.h"

namespace melvanto {

namespace {

struct DlClose {
  void operator()(void* handle) const { ::dlclose(handle); }
};

std::mutex BindingLock;
std::string LibraryName = "libtag_c.so.0";
std::unique_ptr<void, DlClose> Handle;
TTagLibBinding Binding;

template <class F>
bool Resolve(void* handle, const char* name, F& slot) {
  slot = reinterpret_cast<F>(::dlsym(handle, name));
  return slot != nullptr;
}

// Frees the library's file handle on every path out.
struct FileCloser {
  const TTagLibBinding& Lib;
  void operator()(TagLib_File* file) const { Lib.taglib_file_free(file); }
};

}  // namespace

TTagLibBinding BindTagLib() {
  std::lock_guard lock(BindingLock);
  if (Binding.Loaded) return Binding;
  std::unique_ptr<void, DlClose> handle(::dlopen(LibraryName.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!handle) return Binding;
  TTagLibBinding found;
  bool all = true;
#define MELVANTO_TAGLIB_RESOLVE(name) all = Resolve(handle.get(), #name, found.name) && all;
  MELVANTO_TAGLIB_NAMES(MELVANTO_TAGLIB_RESOLVE)
#undef MELVANTO_TAGLIB_RESOLVE
  // A library without every name we may call is as good as none.
  if (!all) return Binding;
  found.Loaded = true;
  Handle = std::move(handle);
  Binding = found;
  return Binding;
}

void WriteTagsWithTagLib(const TTagLibBinding& lib, const std::string& fileName, const TId3v2Tags& tags) {
  lib.taglib_id3v2_set_default_text_encoding(TagLib_ID3v2_UTF16);
  std::unique_ptr<TagLib_File, FileCloser> file(lib.taglib_file_new(fileName.c_str()), FileCloser{lib});
  if (!file || !lib.taglib_file_is_valid(file.get())) throw EAuException("Failed to write tags");
  TagLib_Tag* tag = lib.taglib_file_tag(file.get());
  if (tag == nullptr) throw EAuException("Failed to write tags");

  lib.taglib_tag_set_title(tag, WideToUtf8(tags.Title()).c_str());
  lib.taglib_tag_set_artist(tag, WideToUtf8(tags.Artist()).c_str());
  lib.taglib_tag_set_album(tag, WideToUtf8(tags.Album()).c_str());
  lib.taglib_tag_set_genre(tag, WideToUtf8(tags.Genre()).c_str());
  // Numbers that are not whole non-negative numbers are left out; the rest still saves.
  if (const auto year = ParseInteger(tags.Year()); year && *year >= 0)
    lib.taglib_tag_set_year(tag, static_cast<unsigned>(*year));
  if (const auto track = ParseInteger(tags.Track()); track && *track >= 0)
    lib.taglib_tag_set_track(tag, static_cast<unsigned>(*track));

  if (!lib.taglib_file_save(file.get())) throw EAuException("Failed to save tags");
}

void SetTagLibLibraryNameForTesting(const std::string& name) {
  std::lock_guard lock(BindingLock);
  LibraryName = name;
  Binding = TTagLibBinding{};
  Handle.reset();
}

}  // namespace melvanto
