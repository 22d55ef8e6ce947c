#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "wide_name.h"

namespace melvanto {

namespace {

TOpenedFile Failed(int error) {
  TOpenedFile result;
  result.Error = error;
  return result;
}

}  // namespace

TOpenedFile OpenRegularFile(const std::u16string& fileName, int flags) {
  const std::string path = Utf16ToUtf8(fileName);
  int opened;
  do {
    opened = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (opened < 0 && errno == EINTR);
  if (opened < 0) return Failed(errno);
  TOpenedFile result;
  result.Fd.Reset(opened);
  struct stat st{};
  if (::fstat(opened, &st) != 0) return Failed(errno);
  if (S_ISDIR(st.st_mode)) return Failed(EISDIR);
  if (!S_ISREG(st.st_mode)) return Failed(kNotRegularFile);
  if (::fcntl(opened, F_SETFL, ::fcntl(opened, F_GETFL) & ~O_NONBLOCK) != 0) return Failed(errno);
  return result;
}

}  // namespace melvanto
