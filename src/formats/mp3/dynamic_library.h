#pragma once

// A shared library loaded by name at run time, unloaded with its owner; and what the
// process has loaded.

#include <dlfcn.h>

#include <memory>
#include <string>
#include <string_view>

namespace melvanto {

class TDynamicLibrary {
 public:
  TDynamicLibrary() = default;
  explicit TDynamicLibrary(const std::string& name) : Handle(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

  bool Loaded() const { return Handle != nullptr; }

  // Looks a name up into a typed slot; false when the library lacks it.
  template <class F>
  bool Resolve(const char* name, F& slot) const {
    slot = Handle ? reinterpret_cast<F>(::dlsym(Handle.get(), name)) : nullptr;
    return slot != nullptr;
  }

 private:
  struct Close {
    void operator()(void* handle) const { ::dlclose(handle); }
  };
  std::unique_ptr<void, Close> Handle;
};

// The real file (links resolved) of the loaded library STEM.so[.N...] ("libtag" ->
// "/usr/lib/.../libtag.so.1.19.0"); empty when none is loaded.
std::string LoadedLibraryFile(std::string_view stem);

// The version a library's file name carries: "1.19.0" of ".../libtag.so.1.19.0" for the
// stem "libtag"; empty when the name is not STEM.so.NUMBERS.
std::string LibraryFileVersion(std::string_view path, std::string_view stem);

}  // namespace melvanto
