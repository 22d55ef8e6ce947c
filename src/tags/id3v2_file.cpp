// TId3v2Tags' own file access: reading a 2.2, 2.3 or 2.4 tag at the current position,
// writing a 2.4 tag in front of the file's content.
#include <unistd.h>

#include <array>
#include <cstring>
#include <vector>

#include "file_access.h"
#include "tags.h"
#include "text_codec.h"

namespace melvanto {

namespace {

constexpr std::size_t kHeaderSize = 10;
constexpr std::uint32_t kSyncsafeMax = 0x0FFFFFFF;

std::uint32_t Syncsafe(const std::uint8_t* p) {
  return (std::uint32_t{p[0] & 0x7Fu} << 21) | (std::uint32_t{p[1] & 0x7Fu} << 14) |
         (std::uint32_t{p[2] & 0x7Fu} << 7) | std::uint32_t{p[3] & 0x7Fu};
}

void PutSyncsafe(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>((value >> 21) & 0x7F);
  p[1] = static_cast<std::uint8_t>((value >> 14) & 0x7F);
  p[2] = static_cast<std::uint8_t>((value >> 7) & 0x7F);
  p[3] = static_cast<std::uint8_t>(value & 0x7F);
}

struct Header {
  int Version = 0;
  std::int64_t TagLength = 0;  // header, frames, padding and footer
};

// Reads and checks the 10-byte tag header at the current position.
std::optional<Header> ReadHeader(TFileHandle fd) {
  std::array<std::uint8_t, kHeaderSize> h{};
  if (file_access::Read(fd, h.data(), h.size()) != h.size()) return std::nullopt;
  if (std::memcmp(h.data(), "ID3", 3) != 0 || h[4] == 0xFF) return std::nullopt;
  const std::uint8_t version = h[3], flags = h[5];
  const bool flagsOk = (version == 2 && (flags & 0x3F) == 0) || (version == 3 && (flags & 0x1F) == 0) ||
                       (version == 4 && (flags & 0x0F) == 0);
  if (!flagsOk) return std::nullopt;
  for (std::size_t i = 6; i < 10; ++i)
    if (h[i] >= 0x80) return std::nullopt;
  Header header;
  header.Version = version;
  header.TagLength = std::int64_t{Syncsafe(&h[6])} + kHeaderSize + ((flags & 0x10) != 0 ? kHeaderSize : 0);
  return header;
}

std::size_t TerminatorOf(const std::vector<std::uint8_t>& data, std::size_t from) {
  std::size_t end = from;
  while (end < data.size() && data[end] != 0) ++end;
  return end;
}

std::u16string Utf16Units(const std::vector<std::uint8_t>& data, std::size_t from, bool bigEndian) {
  std::u16string text;
  for (std::size_t i = from; i + 1 < data.size(); i += 2) {
    const auto unit = static_cast<char16_t>(bigEndian ? (data[i] << 8) | data[i + 1] : data[i] | (data[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

// The text of a frame by its encoding byte, from `from` to its terminator; null for an
// encoding we cannot read.
TTagValue DecodeText(const std::vector<std::uint8_t>& data, std::size_t from) {
  if (data.empty() || from > data.size()) return {};
  const auto bytes = [&](std::size_t begin) {
    return std::string(reinterpret_cast<const char*>(data.data()) + begin, TerminatorOf(data, begin) - begin);
  };
  switch (data[0]) {
    case 0:
      return bytes(from);
    case 1: {
      // A byte-order mark picks the order; without one, little-endian as most writers use.
      if (from + 1 < data.size() && data[from] == 0xFE && data[from + 1] == 0xFF) return Utf16Units(data, from + 2, true);
      if (from + 1 < data.size() && data[from] == 0xFF && data[from + 1] == 0xFE) return Utf16Units(data, from + 2, false);
      return Utf16Units(data, from, false);
    }
    case 2:
      return Utf16Units(data, from, true);
    case 3:
      return Utf8ToWide(bytes(from));
    default:
      return {};
  }
}

// Where the text after a frame's own first string (a description) begins.
std::size_t AfterFirstString(const std::vector<std::uint8_t>& data) {
  if (data.empty()) return 0;
  const bool wide = data[0] == 1 || data[0] == 2;
  std::size_t i = 1;
  if (!wide) return std::min(data.size(), TerminatorOf(data, 1) + 1);
  for (; i + 1 < data.size(); i += 2)
    if (data[i] == 0 && data[i + 1] == 0) return i + 2;
  return data.size();
}

// The year of a 2.4 recording time such as "2024-05-01": its leading digits.
TTagValue YearOf(const TTagValue& recordingTime) {
  const std::u16string text = TagValueAsWideString(recordingTime);
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9') ++digits;
  if (digits == 0) return recordingTime;
  return WideToLatin1(text.substr(0, digits));
}

}  // namespace

bool TId3v2Tags::Detect(TFileHandle Handle) {
  if (!TAuTags::Detect(Handle)) return false;
  const auto position = file_access::Position(Handle);
  if (!position) return false;
  const bool valid = ReadHeader(Handle).has_value();
  file_access::Seek(Handle, *position, SEEK_SET);
  return valid;
}

bool TId3v2Tags::ReadFromFile(TFileHandle Handle) {
  if (!TAuTags::ReadFromFile(Handle)) return false;
  const auto start = file_access::Position(Handle);
  if (!start) return false;
  const auto header = ReadHeader(Handle);
  if (!header) return false;
  NewFrameIds_ = header->Version != 2;

  const std::int64_t end = *start + header->TagLength;
  const std::size_t frameHeaderSize = header->Version == 2 ? 6 : 10;
  const std::size_t idLength = header->Version == 2 ? 3 : 4;
  const auto fileSize = file_access::Size(Handle);
  std::int64_t pos = *start + static_cast<std::int64_t>(kHeaderSize);
  bool sawYear = false;
  TTagValue recordingTime;

  // Sizes in the file are never trusted: every read stays inside the tag, which lies
  // inside the file.
  while (fileSize && *fileSize >= end && pos < end) {
    std::array<std::uint8_t, 10> fh{};
    if (file_access::Read(Handle, fh.data(), frameHeaderSize) != frameHeaderSize) break;
    pos += static_cast<std::int64_t>(frameHeaderSize);
    if (fh[0] < 'A' || fh[0] > 'Z' || pos >= end) break;

    std::uint32_t size;
    if (header->Version == 2)
      size = (std::uint32_t{fh[3]} << 16) | (std::uint32_t{fh[4]} << 8) | fh[5];
    else if (header->Version == 3)
      size = (std::uint32_t{fh[4]} << 24) | (std::uint32_t{fh[5]} << 16) | (std::uint32_t{fh[6]} << 8) | fh[7];
    else
      size = Syncsafe(&fh[4]);
    if (size == 0) continue;
    if (std::int64_t{size} > end - pos) break;  // a frame running past the tag ends it

    const std::string id(reinterpret_cast<const char*>(fh.data()), idLength);
    const bool recordingTimeFrame = header->Version == 4 && id == "TDRC";
    bool wanted = recordingTimeFrame;
    for (int f = 0; f < tfFrameCount && !wanted; ++f)
      wanted = f != tfComment && id == FrameId(static_cast<TFrame>(f), NewFrameIds_);
    if (!wanted) {
      if (!file_access::Seek(Handle, pos + size, SEEK_SET)) break;
      pos += size;
      continue;
    }

    std::vector<std::uint8_t> data(size);
    if (file_access::Read(Handle, data.data(), size) != size) break;
    pos += size;

    const bool link = id == FrameId(tfLink, NewFrameIds_);
    // A link frame holds a description, then the address in Latin-1: keep the address.
    TTagValue value;
    if (link) {
      const std::size_t from = AfterFirstString(data);
      value = std::string(reinterpret_cast<const char*>(data.data()) + from, TerminatorOf(data, from) - from);
    } else {
      value = DecodeText(data, 1);
    }
    if (IsNull(value)) continue;
    if (recordingTimeFrame) {
      recordingTime = value;
      continue;
    }
    sawYear = sawYear || id == FrameId(tfYear, NewFrameIds_);
    SetValue(id, value);
  }

  // Version 2.4 has no year frame; its recording time carries the year.
  if (!sawYear && !IsNull(recordingTime)) SetValue(FrameId(tfYear, true), YearOf(recordingTime));
  file_access::Seek(Handle, end, SEEK_SET);
  return true;
}

bool TId3v2Tags::WriteToFile(TFileHandle Handle, bool Unicode) {
  if (!TAuTags::WriteToFile(Handle, Unicode)) return false;

  std::vector<std::uint8_t> frames;
  for (int f = 0; f < tfFrameCount; ++f) {
    const auto frame = static_cast<TFrame>(f);
    if (frame == tfComment) continue;
    // Values come from the id set the properties use, so a 2.2 tag read here is written
    // out again; the file always gets the four-letter ids.
    const char* storeId = FrameId(frame, NewFrameIds_);
    const bool wide = std::holds_alternative<std::u16string>(GetValue(storeId));
    std::string text;
    std::uint8_t encoding = 0;
    if (frame == tfLink) {
      // An empty description and its terminator, then the address, which is Latin-1.
      text = AsString(storeId);
      if (!text.empty()) text.insert(text.begin(), '\0');
    } else if (Unicode && wide) {
      text = WideToUtf8(AsWideString(storeId));
      encoding = 3;
    } else {
      text = AsString(storeId);
    }
    if (text.empty()) continue;
    const std::size_t frameSize = 1 + text.size();
    if (frameSize > kSyncsafeMax) return false;
    // The year is written as the 2.4 recording time; 2.4 has no year frame.
    const char* fileId = frame == tfYear ? "TDRC" : FrameId(frame, true);
    const std::size_t at = frames.size();
    frames.resize(at + kHeaderSize + frameSize);
    std::memcpy(&frames[at], fileId, 4);
    PutSyncsafe(&frames[at + 4], static_cast<std::uint32_t>(frameSize));
    frames[at + kHeaderSize] = encoding;
    std::memcpy(&frames[at + kHeaderSize + 1], text.data(), text.size());
  }

  const std::size_t padding = 16 - ((frames.size() + kHeaderSize) % 16);
  const std::size_t body = frames.size() + padding;
  if (body > kSyncsafeMax) return false;
  const std::size_t tagLength = kHeaderSize + body;
  std::array<std::uint8_t, kHeaderSize> header{'I', 'D', '3', 4, 0, 0};
  PutSyncsafe(&header[6], static_cast<std::uint32_t>(body));

  const auto oldSize = file_access::Size(Handle);
  if (!oldSize) return false;
  const auto newSize = file_access::Seek(Handle, static_cast<std::int64_t>(tagLength), SEEK_END);
  if (!newSize) return false;
  // The room is taken on disk first: a mapped write into space the disk does not have
  // kills the process instead of failing.
  if (!file_access::Reserve(Handle, *oldSize, static_cast<std::int64_t>(tagLength))) {
    file_access::Truncate(Handle, *oldSize);
    return false;
  }

  file_access::WritableMapping view(Handle, static_cast<std::size_t>(*newSize));
  if (!view.Valid()) {
    // A failed tag write must not leave a damaged file.
    file_access::Truncate(Handle, *oldSize);
    return false;
  }
  std::uint8_t* base = view.Data();
  std::memmove(base + tagLength, base, static_cast<std::size_t>(*newSize) - tagLength);
  std::memcpy(base, header.data(), header.size());
  if (!frames.empty()) std::memcpy(base + kHeaderSize, frames.data(), frames.size());
  std::memset(base + kHeaderSize + frames.size(), 0, padding);
  return view.Flush();
}

}  // namespace melvanto
