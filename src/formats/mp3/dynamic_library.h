#pragma once

// A shared library loaded by name at run time, unloaded with its owner.

#include <dlfcn.h>

#include <memory>
#include <string>

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

}  // namespace melvanto
