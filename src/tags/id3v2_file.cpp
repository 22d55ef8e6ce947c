// TId3v2Tags' own file access: reading a 2.2, 2.3 or 2.4 tag at the current position,
// writing a 2.4 tag in front of the file's content.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "file_access.h"
#include "id3.h"
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
  std::uint8_t Flags = 0;
  std::uint32_t BodySize = 0;  // extended header, frames and padding
  std::int64_t TagLength = 0;  // header, frames, padding and footer
};

constexpr std::uint8_t kUnsynchronised = 0x80, kExtendedHeader = 0x40, kCompressedV22 = 0x40;

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
  header.Flags = flags;
  header.BodySize = Syncsafe(&h[6]);
  header.TagLength = std::int64_t{header.BodySize} + kHeaderSize + ((flags & 0x10) != 0 ? kHeaderSize : 0);
  return header;
}

using Bytes = std::vector<std::uint8_t>;

// Undoes unsynchronisation: every 0xFF 0x00 was a lone 0xFF before.
Bytes Resynchronised(const std::uint8_t* p, std::size_t n) {
  Bytes out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0x00) ++i;
  }
  return out;
}

std::uint32_t Be24(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2]; }
std::uint32_t Be32(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 24) | Be24(p + 1); }

bool FrameIdByte(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Whether a frame, padding or the end of the frames can start here.
bool PlausibleFrameAt(const Bytes& body, std::size_t at, std::size_t idLength) {
  if (at == body.size()) return true;
  if (at > body.size()) return false;
  if (body[at] == 0) return true;
  if (at + idLength > body.size()) return false;
  for (std::size_t i = 0; i < idLength; ++i)
    if (!FrameIdByte(body[at + i])) return false;
  return true;
}

// A 2.4 frame's size. Some writers put plain 32-bit sizes into 2.4 tags: taken when the
// syncsafe reading cannot be one or leads nowhere while the plain one leads to a frame.
std::uint32_t FrameSizeV24(const Bytes& body, std::size_t at) {
  const std::uint8_t* p = &body[at + 4];
  const std::uint32_t plain = Be32(p);
  if ((p[0] | p[1] | p[2] | p[3]) & 0x80) return plain;
  const std::uint32_t safe = Syncsafe(p);
  if (safe == plain) return safe;
  const std::size_t data = at + kHeaderSize;
  if (!PlausibleFrameAt(body, data + safe, 4) && data + plain <= body.size() && PlausibleFrameAt(body, data + plain, 4))
    return plain;
  return safe;
}

// One string of a frame in its encoding, from `from` to its terminator; `next` is set past
// the terminator. Latin-1 stays ANSI; null for an encoding we cannot read.
TTagValue DecodeString(const Bytes& data, std::uint8_t encoding, std::size_t from, std::size_t& next) {
  next = data.size();
  if (from > data.size()) return {};
  if (encoding == 0 || encoding == 3) {
    std::size_t end = from;
    while (end < data.size() && data[end] != 0) ++end;
    next = std::min(data.size(), end + 1);
    std::string text(reinterpret_cast<const char*>(data.data()) + from, end - from);
    if (encoding == 0) return text;
    return Utf8ToWide(text);
  }
  if (encoding != 1 && encoding != 2) return {};
  // A byte-order mark picks the order; without one, a 2.3 string is little-endian as most
  // writers make it and a 2.4 big-endian one (encoding 2) is big-endian.
  bool bigEndian = encoding == 2;
  std::size_t i = from;
  if (i + 1 < data.size() && data[i] == 0xFE && data[i + 1] == 0xFF) {
    bigEndian = true;
    i += 2;
  } else if (i + 1 < data.size() && data[i] == 0xFF && data[i + 1] == 0xFE) {
    bigEndian = false;
    i += 2;
  }
  std::u16string text;
  for (; i + 1 < data.size(); i += 2) {
    const auto unit = static_cast<char16_t>(bigEndian ? (data[i] << 8) | data[i + 1] : data[i] | (data[i + 1] << 8));
    if (unit == 0) {
      next = i + 2;
      return text;
    }
    text.push_back(unit);
  }
  return text;
}

constexpr std::u16string_view kValueSeparator = u"; ";

// A text frame's value. A 2.4 frame may hold several values, each ended by a null: they
// are shown joined. Earlier versions hold one; what follows its null is not text.
TTagValue FrameText(const Bytes& data, bool severalValues) {
  if (data.empty()) return {};
  std::size_t pos = 1, next = 0;
  TTagValue first = DecodeString(data, data[0], pos, next);
  if (!severalValues || IsNull(first)) return first;
  std::u16string joined = TagValueAsWideString(first);
  const bool wide = !std::holds_alternative<std::string>(first);
  for (pos = next; pos < data.size(); pos = next) {
    const TTagValue more = DecodeString(data, data[0], pos, next);
    const std::u16string text = TagValueAsWideString(more);
    if (text.empty()) continue;
    if (!joined.empty()) joined += kValueSeparator;
    joined += text;
  }
  if (!wide) return WideToLatin1(joined);
  return joined;
}

// A genre as taggers store it: "(17)" or "(17)Rock" in 2.3 (the text after a number
// refines it), a bare "17" in 2.4, "(RX)"/"(CR)"; the ID3v1 table's name for a number.
std::u16string GenreName(std::u16string_view value) {
  std::u16string_view rest = value;
  std::u16string number;
  if (rest.starts_with(u"(RX)")) return rest.size() > 4 ? std::u16string(rest.substr(4)) : u"Remix";
  if (rest.starts_with(u"(CR)")) return rest.size() > 4 ? std::u16string(rest.substr(4)) : u"Cover";
  const bool bracketed = rest.starts_with(u"(");
  std::size_t i = bracketed ? 1 : 0;
  while (i < rest.size() && rest[i] >= u'0' && rest[i] <= u'9' && number.size() < 4) number.push_back(rest[i++]);
  if (number.empty()) return std::u16string(value);
  if (bracketed) {
    if (i >= rest.size() || rest[i] != u')') return std::u16string(value);
    rest = rest.substr(i + 1);
    if (!rest.empty() && !rest.starts_with(u"(")) return std::u16string(rest);
  } else if (i != rest.size()) {
    return std::u16string(value);
  }
  const auto code = static_cast<std::size_t>(std::stoi(std::string(number.begin(), number.end())));
  return code < kId3v1GenreCount ? Latin1ToWide(kId3v1Genres[code]) : std::u16string(value);
}

std::string LeadingDigits(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  return text.substr(0, digits);
}

struct Comment {
  TTagValue Text;
  std::string Language;
  std::u16string Description;
};

// A COMM frame: encoding, language, a description, then the text.
std::optional<Comment> ParseComment(const Bytes& data) {
  if (data.size() < 4) return std::nullopt;
  Comment c;
  c.Language.assign(reinterpret_cast<const char*>(&data[1]), 3);
  std::size_t next = 0;
  const TTagValue description = DecodeString(data, data[0], 4, next);
  if (IsNull(description)) return std::nullopt;
  c.Description = TagValueAsWideString(description);
  c.Text = DecodeString(data, data[0], next, next);
  return c;
}

// The MIME type for a 2.2 image format or a bare type name ("JPG", "png").
std::string MimeTypeOf(std::string format) {
  for (char& ch : format)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  if (format == "jpg" || format == "jpeg" || format == "image/jpg") return "image/jpeg";
  if (format.find('/') != std::string::npos || format.empty()) return format;
  return "image/" + format;
}

// An APIC frame (MIME type) or a 2.2 PIC frame (a 3-letter image format). A picture given
// only as a link ("-->") carries no image and is left out.
std::optional<TTagPicture> ParsePicture(const Bytes& data, bool threeLetterFormat) {
  if (data.size() < 2) return std::nullopt;
  TTagPicture picture;
  std::size_t pos = 1;
  if (threeLetterFormat) {
    if (data.size() < 5) return std::nullopt;
    // Text ends at a null: a format with one would write a MIME type that reads back shorter.
    std::string format(reinterpret_cast<const char*>(&data[1]), 3);
    format.resize(std::min(format.find('\0'), format.size()));
    picture.MimeType = MimeTypeOf(format);
    pos = 4;
  } else {
    std::size_t next = 0;
    const std::string mimeType = TagValueAsString(DecodeString(data, 0, pos, next));
    if (mimeType == "-->") return std::nullopt;
    picture.MimeType = MimeTypeOf(mimeType);
    pos = next;
  }
  if (pos >= data.size()) return std::nullopt;
  picture.Type = data[pos++];
  std::size_t next = 0;
  const TTagValue description = DecodeString(data, data[0], pos, next);
  if (IsNull(description)) return std::nullopt;
  picture.Description = TagValueAsWideString(description);
  if (next >= data.size()) return std::nullopt;
  picture.Data.assign(data.begin() + static_cast<std::ptrdiff_t>(next), data.end());
  return picture;
}

// The tag's body, its unsynchronisation undone where it covers the whole tag; nothing
// when the tag does not lie inside the file (sizes in the file are never trusted).
std::optional<Bytes> ReadBody(TFileHandle fd, const Header& header) {
  const auto position = file_access::Position(fd);
  const auto fileSize = file_access::Size(fd);
  if (!position || !fileSize || *fileSize - *position < header.TagLength - std::int64_t{kHeaderSize})
    return std::nullopt;
  if (header.Version == 2 && (header.Flags & kCompressedV22) != 0) return std::nullopt;  // no known way to read it
  Bytes body(header.BodySize);
  if (file_access::Read(fd, body.data(), body.size()) != body.size()) return std::nullopt;
  // Before 2.4 the whole tag is unsynchronised at once, sizes counting the restored bytes.
  if (header.Version < 4 && (header.Flags & kUnsynchronised) != 0) return Resynchronised(body.data(), body.size());
  return body;
}

// Where the frames start after an extended header; nothing when it does not fit.
std::optional<std::size_t> FramesStart(const Header& header, const Bytes& body) {
  if (header.Version == 2 || (header.Flags & kExtendedHeader) == 0) return 0;
  if (body.size() < 4) return std::nullopt;
  // 2.3 counts the bytes after the size field, 2.4 the whole extended header.
  const std::uint64_t length =
      header.Version == 3 ? std::uint64_t{Be32(body.data())} + 4 : std::uint64_t{Syncsafe(body.data())};
  if (length < 4 || length > body.size()) return std::nullopt;
  return static_cast<std::size_t>(length);
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
  if (const auto body = ReadBody(Handle, *header))
    if (const auto first = FramesStart(*header, *body)) ReadFrames(*body, *first, header->Version, header->Flags);
  file_access::Seek(Handle, end, SEEK_SET);
  return true;
}

void TId3v2Tags::ReadFrames(const std::vector<std::uint8_t>& body, std::size_t first, int version,
                            std::uint8_t flags) {
  const Header header{version, flags};
  const std::size_t frameHeaderSize = header.Version == 2 ? 6 : 10;
  const std::size_t idLength = header.Version == 2 ? 3 : 4;
  bool sawYear = false;
  std::string recordingTime, date;
  int commentRank = 0;  // 2: one without a description, 1: another one, 0: none yet
  std::vector<TTagPicture> pictures;

  for (std::size_t pos = first; pos + frameHeaderSize <= body.size();) {
    const std::uint8_t* fh = &body[pos];
    if (!PlausibleFrameAt(body, pos, idLength) || fh[0] == 0) break;  // padding or garbage ends the frames
    std::uint32_t size;
    std::uint8_t format = 0;
    if (header.Version == 2) {
      size = Be24(fh + 3);
    } else if (header.Version == 3) {
      size = Be32(fh + 4);
      format = fh[9];
    } else {
      size = FrameSizeV24(body, pos);
      format = fh[9];
    }
    const std::size_t dataStart = pos + frameHeaderSize;
    if (size > body.size() - dataStart) break;  // a frame running past the tag ends it
    pos = dataStart + size;
    const std::string id(reinterpret_cast<const char*>(fh), idLength);

    std::size_t skip = 0;
    bool unsync = false;
    if (header.Version == 3) {
      if ((format & 0xC0) != 0) continue;  // compressed or encrypted
      if ((format & 0x20) != 0) skip = 1;  // group id
    } else if (header.Version == 4) {
      if ((format & 0x0C) != 0) continue;  // compressed or encrypted
      if ((format & 0x40) != 0) skip += 1;  // group id
      if ((format & 0x01) != 0) skip += 4;  // data length indicator
      unsync = (format & 0x02) != 0 || (header.Flags & kUnsynchronised) != 0;
    }
    if (skip > size) continue;
    const std::uint8_t* raw = &body[dataStart + skip];
    const std::size_t rawSize = size - skip;
    const Bytes data = unsync ? Resynchronised(raw, rawSize) : Bytes(raw, raw + rawSize);
    if (data.empty()) continue;

    if (id == "APIC" || id == "PIC") {
      if (auto picture = ParsePicture(data, id == "PIC")) pictures.push_back(std::move(*picture));
      continue;
    }
    if (id == FrameId(tfComment, NewFrameIds_)) {
      const auto comment = ParseComment(data);
      // The comment without a description is the one meant for people; others hold
      // what players keep there (loudness, gapless data).
      const int rank = !comment ? 0 : comment->Description.empty() ? 2 : comment->Description.starts_with(u"iTun") ? 0 : 1;
      if (rank > commentRank && !IsNull(comment->Text)) {
        commentRank = rank;
        SetValue(id, comment->Text);
        CommentLanguage_ = comment->Language;
      }
      continue;
    }
    if (id == FrameId(tfLink, NewFrameIds_)) {
      // A description, then the address in Latin-1: keep the address.
      std::size_t next = 0;
      DecodeString(data, data[0], 1, next);
      const TTagValue address = DecodeString(data, 0, next, next);
      if (!TagValueAsString(address).empty()) SetValue(id, address);
      continue;
    }
    const bool recordingTimeFrame = header.Version == 4 && id == "TDRC";
    const bool dateFrame = (header.Version == 3 && id == "TDAT") || (header.Version == 2 && id == "TDA");
    bool wanted = recordingTimeFrame || dateFrame;
    for (int f = 0; f < tfFrameCount && !wanted; ++f)
      wanted = f != tfComment && f != tfLink && id == FrameId(static_cast<TFrame>(f), NewFrameIds_);
    if (!wanted) continue;
    const TTagValue value = FrameText(data, header.Version == 4);
    if (IsNull(value)) continue;
    if (recordingTimeFrame || dateFrame) {
      (recordingTimeFrame ? recordingTime : date) = WideToLatin1(TagValueAsWideString(value));
      continue;
    }
    sawYear = sawYear || id == FrameId(tfYear, NewFrameIds_);
    if (id == FrameId(tfGenre, NewFrameIds_)) {
      std::u16string names;
      const std::u16string joined = TagValueAsWideString(value);
      for (std::size_t from = 0; from <= joined.size();) {
        const auto to = std::min(joined.find(kValueSeparator, from), joined.size());
        if (!names.empty()) names += kValueSeparator;
        names += GenreName(std::u16string_view(joined).substr(from, to - from));
        from = to + kValueSeparator.size();
      }
      SetValue(id, names == joined ? value : TTagValue(names));
      continue;
    }
    SetValue(id, value);
  }

  const char* yearId = FrameId(tfYear, NewFrameIds_);
  // Version 2.4 has no year frame; its recording time carries the year, and the date whole.
  if (!sawYear && !recordingTime.empty()) SetValue(yearId, recordingTime);
  // Earlier versions keep the day apart ("DDMM"): joined to a four-digit year as one date.
  const std::string year = AsString(yearId);
  if (date.size() == 4 && LeadingDigits(date) == date && year.size() == 4 && LeadingDigits(year) == year)
    SetValue(yearId, year + "-" + date.substr(2, 2) + "-" + date.substr(0, 2));
  if (!pictures.empty()) Pictures_ = std::move(pictures);
}

namespace {

void AppendFrame(Bytes& frames, const char* id, const Bytes& data) {
  const std::size_t at = frames.size();
  frames.resize(at + kHeaderSize);
  std::memcpy(&frames[at], id, 4);
  PutSyncsafe(&frames[at + 4], static_cast<std::uint32_t>(data.size()));
  frames.insert(frames.end(), data.begin(), data.end());
}

void AppendText(Bytes& data, const std::string& text, bool terminated) {
  data.insert(data.end(), text.begin(), text.end());
  if (terminated) data.push_back(0);
}

// A wide text in the tag's encoding: UTF-8 (3) when Unicode is asked for, else Latin-1 (0).
std::string Encoded(std::u16string_view text, bool unicode) { return unicode ? WideToUtf8(text) : WideToLatin1(text); }

}  // namespace

std::optional<std::vector<std::uint8_t>> TId3v2Tags::RenderTag(bool Unicode) const {
  Bytes frames;
  for (int f = 0; f < tfFrameCount; ++f) {
    const auto frame = static_cast<TFrame>(f);
    // Values come from the id set the properties use, so a 2.2 tag read here is written
    // out again; the file always gets the four-letter ids.
    const char* storeId = FrameId(frame, NewFrameIds_);
    const bool wide = std::holds_alternative<std::u16string>(GetValue(storeId));
    const std::uint8_t encoding = Unicode && wide ? 3 : 0;
    Bytes data{encoding};
    if (frame == tfLink) {
      // An empty description and its terminator, then the address, which is Latin-1.
      const std::string address = AsString(storeId);
      if (address.empty()) continue;
      data = {0, 0};
      AppendText(data, address, false);
    } else if (frame == tfComment) {
      const std::u16string text = AsWideString(storeId);
      if (text.empty()) continue;
      // Readers match comments by language: the source's, else English.
      const bool known = CommentLanguage_.size() == 3 &&
                         std::all_of(CommentLanguage_.begin(), CommentLanguage_.end(),
                                     [](char c) { return c >= 'a' && c <= 'z'; });
      AppendText(data, known ? CommentLanguage_ : "eng", false);
      data.push_back(0);  // an empty description
      AppendText(data, Encoded(text, encoding == 3), false);
    } else {
      const std::string text = encoding == 3 ? WideToUtf8(AsWideString(storeId)) : AsString(storeId);
      if (text.empty()) continue;
      AppendText(data, text, false);
    }
    if (data.size() > kSyncsafeMax) return std::nullopt;
    // The year is written as the 2.4 recording time; 2.4 has no year frame.
    AppendFrame(frames, frame == tfYear ? "TDRC" : FrameId(frame, true), data);
  }
  for (const TTagPicture& picture : Pictures_) {
    if (picture.Data.empty()) continue;
    const bool unicodeDescription = Unicode && WideToLatin1(picture.Description) != WideToUtf8(picture.Description);
    Bytes data{static_cast<std::uint8_t>(unicodeDescription ? 3 : 0)};
    AppendText(data, picture.MimeType, true);
    data.push_back(picture.Type);
    AppendText(data, Encoded(picture.Description, unicodeDescription), true);
    if (picture.Data.size() > kSyncsafeMax - data.size()) return std::nullopt;
    data.insert(data.end(), picture.Data.begin(), picture.Data.end());
    AppendFrame(frames, "APIC", data);
  }

  const std::size_t padding = 16 - ((frames.size() + kHeaderSize) % 16);
  const std::size_t body = frames.size() + padding;
  if (body > kSyncsafeMax) return std::nullopt;
  Bytes tag{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
  PutSyncsafe(&tag[6], static_cast<std::uint32_t>(body));
  tag.insert(tag.end(), frames.begin(), frames.end());
  tag.resize(kHeaderSize + body, 0);
  return tag;
}

namespace {

// Puts `tag` at the start of the file in place of its first `oldLength` bytes, moving the
// rest of the file back.
bool PutInFront(TFileHandle Handle, const Bytes& tag, std::int64_t oldLength) {
  const auto oldSize = file_access::Size(Handle);
  if (!oldSize || oldLength > *oldSize) return false;
  const auto growth = static_cast<std::int64_t>(tag.size()) - oldLength;
  const std::int64_t newSize = *oldSize + growth;
  // The room is taken on disk first: a mapped write into space the disk does not have
  // kills the process instead of failing.
  if (growth > 0 && !file_access::Reserve(Handle, *oldSize, growth)) {
    file_access::Truncate(Handle, *oldSize);
    return false;
  }
  file_access::WritableMapping view(Handle, static_cast<std::size_t>(newSize));
  if (!view.Valid()) {
    // A failed tag write must not leave a damaged file.
    file_access::Truncate(Handle, *oldSize);
    return false;
  }
  std::uint8_t* base = view.Data();
  std::memmove(base + tag.size(), base + oldLength, static_cast<std::size_t>(*oldSize - oldLength));
  std::memcpy(base, tag.data(), tag.size());
  return view.Flush();
}

}  // namespace

bool TId3v2Tags::WriteToFile(TFileHandle Handle, bool Unicode) {
  if (!TAuTags::WriteToFile(Handle, Unicode)) return false;
  const auto tag = RenderTag(Unicode);
  return tag && PutInFront(Handle, *tag, 0);
}

bool TId3v2Tags::ReplaceLeadingTag(TFileHandle Handle, bool Unicode) {
  if (!TAuTags::WriteToFile(Handle, Unicode)) return false;
  auto tag = RenderTag(Unicode);
  const auto size = file_access::Size(Handle);
  if (!tag || !size || !file_access::Seek(Handle, 0, SEEK_SET)) return false;
  const auto old = ReadHeader(Handle);
  const std::int64_t oldLength = old && old->TagLength <= *size ? old->TagLength : 0;
  if (static_cast<std::int64_t>(tag->size()) > oldLength) return PutInFront(Handle, *tag, oldLength);
  // It fits in the old tag's room: the rest becomes padding and the audio stays where it is.
  tag->resize(static_cast<std::size_t>(oldLength), 0);
  PutSyncsafe(&(*tag)[6], static_cast<std::uint32_t>(oldLength - static_cast<std::int64_t>(kHeaderSize)));
  return file_access::Seek(Handle, 0, SEEK_SET) && file_access::WriteAll(Handle, tag->data(), tag->size());
}

}  // namespace melvanto
