#include "wm_asf_header.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "wm_little_endian.h"
#include "wm_picture.h"

namespace melvanto::wmf {
namespace {

using Guid = std::array<std::uint8_t, 16>;
using Bytes = std::vector<std::uint8_t>;

// {75B22630-668E-11CF-A6D9-00AA0062CE6C}, as stored in the file.
constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
// {8CABDCA1-A947-11CF-8EE4-00C00C205365}
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// {D2D0A440-E307-11D2-97F0-00A0C95EA850}
constexpr Guid kExtendedContentDescription = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                              0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
// {5FBF03B5-A92E-11CF-8EE3-00C00C205365}
constexpr Guid kHeaderExtension = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                   0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// {ABD3D211-A9BA-11CF-8EE6-00C00C205365}: the Header Extension's first reserved field.
constexpr Guid kReserved1 = {0x11, 0xD2, 0xD3, 0xAB, 0xBA, 0xA9, 0xCF, 0x11,
                             0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
// {44231C94-9498-49D1-A141-1D134E457054}
constexpr Guid kMetadataLibrary = {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                   0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};

constexpr std::uint16_t kByteArray = 1;
constexpr std::size_t kObjectHead = 24;          // GUID and 64-bit size
constexpr std::size_t kHeaderExtensionHead = 46;  // and the reserved fields and the data size
constexpr std::uint64_t kMaxHeader = 256u << 20;
constexpr std::size_t kMoveChunk = 1 << 20;

void Put16(Bytes& out, std::uint64_t v) {
  for (int i = 0; i < 2; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put32(Bytes& out, std::uint64_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Set16(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 2; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Set32(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Set64(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
bool Is(const std::uint8_t* p, const Guid& g) { return std::equal(g.begin(), g.end(), p); }

Bytes NameBytes(const std::u16string& name) {
  Bytes out;
  for (char16_t c : name) Put16(out, c);
  Put16(out, 0);
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

// Appends descriptors (count of them) to an object whose 16-bit count is at countAt.
bool Extend(Bytes& object, std::size_t countAt, const Bytes& records, std::size_t count) {
  const std::size_t total = (object[countAt] | object[countAt + 1] << 8) + count;
  if (total > 0xFFFF) return false;
  Set16(object, countAt, total);
  object.insert(object.end(), records.begin(), records.end());
  Set64(object, 16, object.size());
  return true;
}

// The children of the Header Extension object at [at, at + size) of the header.
std::vector<std::pair<std::size_t, std::size_t>> ExtensionChildren(const Bytes& header, std::size_t at,
                                                                   std::size_t size) {
  if (size < kHeaderExtensionHead || LE32(&header[at + 42]) != size - kHeaderExtensionHead) return {};
  return Children(header, at + kHeaderExtensionHead, at + size);
}

// The Header Extension with the Metadata Library records added (the library made if missing).
bool ExtendHeaderExtension(Bytes& extension, const Bytes& records, std::size_t count) {
  if (extension.size() < kHeaderExtensionHead) return false;
  const auto inner = ExtensionChildren(extension, 0, extension.size());
  if (inner.empty() && extension.size() != kHeaderExtensionHead) return false;
  Bytes rebuilt(extension.begin(), extension.begin() + kHeaderExtensionHead);
  bool added = false;
  for (const auto& [at, size] : inner) {
    Bytes object(extension.begin() + static_cast<std::ptrdiff_t>(at),
                 extension.begin() + static_cast<std::ptrdiff_t>(at + size));
    if (!added && Is(object.data(), kMetadataLibrary) && object.size() >= kObjectHead + 2) {
      if (!Extend(object, kObjectHead, records, count)) return false;
      added = true;
    }
    rebuilt.insert(rebuilt.end(), object.begin(), object.end());
  }
  if (!added) {
    Bytes library = NewObject(kMetadataLibrary, 2);
    if (!Extend(library, kObjectHead, records, count)) return false;
    rebuilt.insert(rebuilt.end(), library.begin(), library.end());
  }
  Set32(rebuilt, 42, rebuilt.size() - kHeaderExtensionHead);
  Set64(rebuilt, 16, rebuilt.size());
  extension = std::move(rebuilt);
  return true;
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t size, std::uint64_t at) {
  while (size > 0) {
    const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    at += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t at) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    at += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
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
    const auto name = header.begin() + static_cast<std::ptrdiff_t>(at + 12);
    const auto data = name + static_cast<std::ptrdiff_t>(nameSize);
    if (type == kByteArray && std::equal(name, data, pictureName.begin(), pictureName.end()) &&
        DecodeWmPicture(&*data, dataSize))
      pictures.emplace_back(data, data + static_cast<std::ptrdiff_t>(dataSize));
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
      Put16(small, name.size());
      small.insert(small.end(), name.begin(), name.end());
      Put16(small, kByteArray);
      Put16(small, a.Value.size());
      small.insert(small.end(), a.Value.begin(), a.Value.end());
      ++smallCount;
    } else {
      Put16(large, 0);  // the language list's first entry
      Put16(large, 0);  // the whole file, no stream
      Put16(large, name.size());
      Put16(large, kByteArray);
      Put32(large, a.Value.size());
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
  const auto children = Children(header, 30, header.size());
  if (children.size() != LE32(&header[24])) return S_FALSE;

  Bytes rebuilt(header.begin(), header.begin() + 30);
  std::uint32_t objects = 0;
  bool smallDone = smallCount == 0, largeDone = largeCount == 0, sized = false;
  std::size_t filePropertiesAt = 0;
  for (const auto& [at, size] : children) {
    Bytes object(header.begin() + static_cast<std::ptrdiff_t>(at),
                 header.begin() + static_cast<std::ptrdiff_t>(at + size));
    if (!smallDone && Is(object.data(), kExtendedContentDescription) && object.size() >= kObjectHead + 2) {
      if (!Extend(object, kObjectHead, small, smallCount)) return S_FALSE;
      smallDone = true;
    } else if (!largeDone && Is(object.data(), kHeaderExtension)) {
      if (!ExtendHeaderExtension(object, large, largeCount)) return S_FALSE;
      largeDone = true;
    } else if (!sized && Is(object.data(), kFileProperties) && object.size() >= 48) {
      filePropertiesAt = rebuilt.size();
      sized = true;
    }
    rebuilt.insert(rebuilt.end(), object.begin(), object.end());
    ++objects;
  }
  if (!sized) return S_FALSE;
  if (!smallDone) {
    Bytes object = NewObject(kExtendedContentDescription, 2);
    Extend(object, kObjectHead, small, smallCount);
    rebuilt.insert(rebuilt.end(), object.begin(), object.end());
    ++objects;
  }
  if (!largeDone) {
    Bytes object = NewObject(kHeaderExtension, kHeaderExtensionHead - kObjectHead);
    std::copy(kReserved1.begin(), kReserved1.end(), object.begin() + kObjectHead);
    Set16(object, 40, 6);
    if (!ExtendHeaderExtension(object, large, largeCount)) return S_FALSE;
    rebuilt.insert(rebuilt.end(), object.begin(), object.end());
    ++objects;
  }
  const std::uint64_t delta = rebuilt.size() - header.size();
  Set64(rebuilt, 16, rebuilt.size());
  Set32(rebuilt, 24, objects);
  Set64(rebuilt, filePropertiesAt + 40, fileSize + delta);

  if (!MoveTail(fd, headerSize, fileSize, delta) || !WriteAll(fd, rebuilt.data(), rebuilt.size(), 0))
    return NS_E_FILE_WRITE;
  return S_OK;
}

}  // namespace melvanto::wmf
