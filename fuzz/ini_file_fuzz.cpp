// Arbitrary bytes as options.ini: reading never fails unsafely, and values written into
// whatever was read read back as written.

#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "ini_file.h"

namespace {

// One folder for the whole run: each input saves over the same file.
const std::string& SaveFolder() {
  static const std::string folder = [] {
    char name[] = "/tmp/ini_fuzz_XXXXXX";
    return std::string(mkdtemp(name) ? name : "/tmp");
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace melvanto;
  const int fd = memfd_create("ini", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size == 0 || write(fd, data, size) == static_cast<ssize_t>(size)) {
    TIniFile ini;
    ini.Load("/proc/self/fd/" + std::to_string(fd));
    const std::string text = ini.ReadString("CommonOptions", "OutputFolder", "default");
    const std::int32_t number = ini.ReadInteger("Mp3Options", "BitRate", 128);
    ini.ReadBool("WMAOptions", "VBR", false);
    // The fuzzer's own text as a value: it must come back whole (line breaks aside).
    std::string value(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
    for (char& c : value)
      if (c == '\n' || c == '\r' || c == '\0') c = ' ';
    ini.WriteString("CommonOptions", "OutputFolder", value);
    ini.WriteInteger("Mp3Options", "BitRate", number);
    ini.WriteBool("New Section", "Flag", true);
    const std::string path = SaveFolder() + "/options.ini";
    if (!ini.SaveAtomically(path)) __builtin_trap();
    TIniFile back;
    if (!back.Load(path)) __builtin_trap();
    if (back.ReadString("CommonOptions", "OutputFolder", "") != value) __builtin_trap();
    if (back.ReadInteger("Mp3Options", "BitRate", number + 1) != number) __builtin_trap();
    if (!back.ReadBool("New Section", "Flag", false)) __builtin_trap();
    (void)text;
  }
  close(fd);
  return 0;
}
