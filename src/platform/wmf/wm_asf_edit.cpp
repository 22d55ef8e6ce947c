#include "wm_asf_edit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "wm_asf_objects.h"
#include "wm_little_endian.h"
#include "wm_picture.h"

namespace melvanto::wmf {
namespace {

using namespace asf;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kByteArray = 1;
constexpr std::size_t kObjectHead = 24;          // GUID and 64-bit size
constexpr std::size_t kHeaderExtensionHead = 46;  // and the reserved fields and the data size
constexpr std::uint64_t kMaxHeader = 256u << 20;
constexpr std::size_t kMoveChunk = 1 << 20;

// The low bytes of v, little-endian: appended, or written over b from at.
void Put(Bytes& out, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Set(Bytes& b, std::size_t at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes NameBytes(const std::u16string& name) {
  Bytes out;
  for (char16_t c : name) Put(out, c, 2);
  Put(out, 0, 2);
  return out;
}

Bytes NewObject(const Guid& guid, std::size_t headRoom) {
  Bytes object(guid.begin(), guid.end());
  object.resize(kObjectHead + headRoom, 0);
  return object;
}

// The objects one after another from at to end; empty when one of them does not fit.
std::vector<std::pair<std::size_t, std::size_t>> Children(const Bytes& b, std::size_t at, std::size_t end) {
  std::vector<std::pair<std::size_t, std::size_t>> list;
  while (at < end) {
    if (end - at < kObjectHead) return {};
    const std::uint64_t size = LE64(&b[at + 16]);
    if (size < kObjectHead || size > end - at) return {};
    list.emplace_back(at, static_cast<std::size_t>(size));
    at += static_cast<std::size_t>(size);
  }
  return list;
}

// The children of the Header Extension object at [at, at + size) of the header.
std::vector<std::pair<std::size_t, std::size_t>> ExtensionChildren(const Bytes& header, std::size_t at,
                                                                   std::size_t size) {
  if (size < kHeaderExtensionHead || LE32(&header[at + 42]) != size - kHeaderExtensionHead) return {};
  return Children(header, at + kHeaderExtensionHead, at + size);
}

// The first child of that kind among parent's objects from `first` on, changed by add; or,
// when there is none, fresh changed by add and put after them (made then tells so). False
// when the children do not parse or add refuses.
template <class Add>
bool ChangeChild(Bytes& parent, std::size_t first, const Guid& guid, Bytes fresh, Add add, bool& made) {
  const auto children = Children(parent, first, parent.size());
  if (children.empty() && parent.size() != first) return false;
  made = false;
  for (const auto& [at, size] : children) {
    if (!Is(&parent[at], guid)) continue;
    const auto begin = parent.begin() + static_cast<std::ptrdiff_t>(at);
    Bytes object(begin, begin + static_cast<std::ptrdiff_t>(size));
    if (!add(object)) return false;
    parent.erase(begin, begin + static_cast<std::ptrdiff_t>(size));
    parent.insert(parent.begin() + static_cast<std::ptrdiff_t>(at), object.begin(), object.end());
    return true;
  }
  if (!add(fresh)) return false;
  parent.insert(parent.end(), fresh.begin(), fresh.end());
  made = true;
  return true;
}

// Adds records (count of them) to a content description or a metadata library: both keep a
// 16-bit count right after their head.
auto AddRecords(const Bytes& records, std::size_t count) {
  return [&records, count](Bytes& object) {
    if (object.size() < kObjectHead + 2) return false;
    const std::size_t total = (object[kObjectHead] | object[kObjectHead + 1] << 8) + count;
    if (total > 0xFFFF) return false;
    Set(object, kObjectHead, total, 2);
    object.insert(object.end(), records.begin(), records.end());
    Set(object, 16, object.size(), 8);
    return true;
  };
}

// Adds the records to the Header Extension's Metadata Library.
auto AddLibraryRecords(const Bytes& records, std::size_t count) {
  return [&records, count](Bytes& extension) {
    if (extension.size() < kHeaderExtensionHead || LE32(&extension[42]) != extension.size() - kHeaderExtensionHead)
      return false;
    bool made = false;
    if (!ChangeChild(extension, kHeaderExtensionHead, kMetadataLibrary, NewObject(kMetadataLibrary, 2),
                     AddRecords(records, count), made))
      return false;
    Set(extension, 42, extension.size() - kHeaderExtensionHead, 4);
    Set(extension, 16, extension.size(), 8);
    return true;
  };
}

// The whole range through pread or pwrite, again after a signal.
template <class Byte, class Call>
bool Whole(Call call, int fd, Byte* data, std::size_t size, std::uint64_t at) {
  while (size > 0) {
    const ssize_t n = call(fd, data, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    at += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}
bool ReadAll(int fd, std::uint8_t* data, std::size_t size, std::uint64_t at) {
  return Whole(::pread, fd, data, size, at);
}
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t at) {
  return Whole(::pwrite, fd, data, size, at);
}

// Moves [from, end) of the file back by delta bytes, the last chunk first.
bool MoveTail(int fd, std::uint64_t from, std::uint64_t end, std::uint64_t delta) {
  Bytes chunk;
  while (end > from) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kMoveChunk, end - from));
    end -= n;
    chunk.resize(n);
    if (!ReadAll(fd, chunk.data(), n, end) || !WriteAll(fd, chunk.data(), n, end + delta)) return false;
  }
  return true;
}

// The whole header object; empty when it is not one or not whole.
Bytes ReadHeader(TStreamIo& io) {
  Bytes header(30);
  if (!io.SeekTo(0) || io.Read(header.data(), 30) != 30 || !Is(header.data(), kHeaderObject)) return {};
  const std::uint64_t size = LE64(&header[16]);
  const std::int64_t known = io.KnownSize();
  if (size <= 30 || size > kMaxHeader || (known >= 0 && size > static_cast<std::uint64_t>(known))) return {};
  header.resize(static_cast<std::size_t>(size));
  if (io.Read(header.data() + 30, static_cast<std::uint32_t>(size - 30)) != size - 30) return {};
  return header;
}

// The WM/Picture values among the Metadata Library's records at [at, end).
void LibraryPictures(const Bytes& header, std::size_t at, std::size_t end, std::vector<Bytes>& pictures) {
  const std::size_t records = header[at] | header[at + 1] << 8;
  const Bytes pictureName = NameBytes(g_wszWMPicture);
  at += 2;
  // Each record: language, stream, name length, type (16 bits each), data length (32), name, data.
  for (std::size_t r = 0; r < records && end - at >= 12; ++r) {
    const std::size_t nameSize = header[at + 4] | header[at + 5] << 8;
    const std::size_t type = header[at + 6] | header[at + 7] << 8;
    const std::size_t dataSize = LE32(&header[at + 8]);
    if (nameSize > end - at - 12 || dataSize > end - at - 12 - nameSize) return;
    const std::uint8_t* name = header.data() + at + 12;
    const std::uint8_t* data = name + nameSize;
    if (type == kByteArray && std::equal(name, data, pictureName.begin(), pictureName.end()) &&
        DecodeWmPicture(data, dataSize))
      pictures.emplace_back(data, data + dataSize);
    at += 12 + nameSize + dataSize;
  }
}

}  // namespace

std::vector<Bytes> AsfLibraryPictures(TStreamIo& io) {
  std::vector<Bytes> pictures;
  const std::int64_t saved = io.Position;
  const Bytes header = ReadHeader(io);
  io.SeekTo(saved);
  if (header.empty()) return pictures;
  for (const auto& [at, size] : Children(header, 30, header.size())) {
    if (!Is(&header[at], kHeaderExtension)) continue;
    for (const auto& [inner, innerSize] : ExtensionChildren(header, at, size))
      if (Is(&header[inner], kMetadataLibrary) && innerSize >= kObjectHead + 2)
        LibraryPictures(header, inner + kObjectHead, inner + innerSize, pictures);
  }
  return pictures;
}

HRESULT AddAsfAttributes(int fd, const std::vector<TAsfBinaryAttribute>& attributes) {
  // The records of both objects, built first: the header is read only once they are known.
  Bytes small, large;
  std::size_t smallCount = 0, largeCount = 0;
  for (const TAsfBinaryAttribute& a : attributes) {
    const Bytes name = NameBytes(a.Name);
    if (a.Value.empty() || name.size() > 0xFFFF || a.Value.size() > 0xFFFFFFFFu) continue;
    if (a.Value.size() <= 0xFFFF) {
      Put(small, name.size(), 2);
      small.insert(small.end(), name.begin(), name.end());
      Put(small, kByteArray, 2);
      Put(small, a.Value.size(), 2);
      small.insert(small.end(), a.Value.begin(), a.Value.end());
      ++smallCount;
    } else {
      Put(large, 0, 2);  // the language list's first entry
      Put(large, 0, 2);  // the whole file, no stream
      Put(large, name.size(), 2);
      Put(large, kByteArray, 2);
      Put(large, a.Value.size(), 4);
      large.insert(large.end(), name.begin(), name.end());
      large.insert(large.end(), a.Value.begin(), a.Value.end());
      ++largeCount;
    }
  }
  if (smallCount + largeCount == 0) return S_FALSE;

  struct stat st{};
  if (::fstat(fd, &st) != 0 || st.st_size < 30) return S_FALSE;
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);
  Bytes head(30);
  if (!ReadAll(fd, head.data(), head.size(), 0) || !Is(head.data(), kHeaderObject)) return S_FALSE;
  const std::uint64_t headerSize = LE64(&head[16]);
  if (headerSize < 30 || headerSize > fileSize || headerSize > kMaxHeader) return S_FALSE;
  Bytes header(static_cast<std::size_t>(headerSize));
  if (!ReadAll(fd, header.data(), header.size(), 0)) return S_FALSE;
  if (Children(header, 30, header.size()).size() != LE32(&header[24])) return S_FALSE;

  std::uint32_t objects = LE32(&header[24]);
  bool made = false;
  if (smallCount > 0) {
    if (!ChangeChild(header, 30, kExtendedContentDescription, NewObject(kExtendedContentDescription, 2),
                     AddRecords(small, smallCount), made))
      return S_FALSE;
    objects += made ? 1 : 0;
  }
  if (largeCount > 0) {
    Bytes extension = NewObject(kHeaderExtension, kHeaderExtensionHead - kObjectHead);
    std::copy(kHeaderExtensionReserved.begin(), kHeaderExtensionReserved.end(), extension.begin() + kObjectHead);
    Set(extension, 40, 6, 2);
    if (!ChangeChild(header, 30, kHeaderExtension, std::move(extension), AddLibraryRecords(large, largeCount), made))
      return S_FALSE;
    objects += made ? 1 : 0;
  }
  const auto children = Children(header, 30, header.size());
  const auto properties = std::find_if(children.begin(), children.end(), [&](const auto& c) {
    return Is(&header[c.first], kFileProperties) && c.second >= 48;
  });
  if (properties == children.end()) return S_FALSE;
  const std::uint64_t delta = header.size() - headerSize;
  Set(header, 16, header.size(), 8);
  Set(header, 24, objects, 4);
  Set(header, properties->first + 40, fileSize + delta, 8);

  if (!MoveTail(fd, headerSize, fileSize, delta) || !WriteAll(fd, header.data(), header.size(), 0))
    return NS_E_FILE_WRITE;
  return S_OK;
}

}  // namespace melvanto::wmf
