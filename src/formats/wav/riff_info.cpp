#include "riff_info.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "id3v2_bytes.h"
#include "riff.h"
#include "text_codec.h"

namespace melvanto {

namespace {

struct TInfoField {
  const char* Id;
  TId3v2Tags::TFrame Frame;
  bool Fallback = false;  // read only when the file has no other item for the field
};

// The INFO items that have a field in the tag model. IPRT (part) is what some writers use
// for the track; ITRK, when the file has both, wins. Written in this order, IPRT left out.
constexpr std::array<TInfoField, 9> kInfoFields = {{
    {"INAM", TId3v2Tags::tfTitle},
    {"IART", TId3v2Tags::tfArtist},
    {"IPRD", TId3v2Tags::tfAlbum},
    {"ICRD", TId3v2Tags::tfYear},
    {"IGNR", TId3v2Tags::tfGenre},
    {"ICMT", TId3v2Tags::tfComment},
    {"ITRK", TId3v2Tags::tfTrack},
    {"ICOP", TId3v2Tags::tfCopyright},
    {"IPRT", TId3v2Tags::tfTrack, true},
}};

// Chunks looked at in one file; a file of tiny chunks cannot keep the scan going for long.
constexpr int kMaxChunks = 4096;
// What a chunk may occupy in memory, however much it claims: INFO text is short, an ID3 tag
// may carry pictures.
constexpr std::int64_t kMaxInfoChunkBytes = 1 << 20;
constexpr std::int64_t kMaxId3ChunkBytes = 16 << 20;

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      code = c & 0x07u;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
      return false;
    i += length;
  }
  return true;
}

// INFO text carries no mark of its encoding: what is valid UTF-8 is taken as UTF-8 (Latin-1
// text outside ASCII almost never is), anything else as Latin-1. It ends at the first null.
std::u16string DecodeInfoText(std::span<const std::uint8_t> bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const std::string text(bytes.begin(), end);
  return IsUtf8(text) ? Utf8ToWide(text) : Latin1ToWide(text);
}

void SetField(TId3v2Tags& tags, TId3v2Tags::TFrame frame, const std::u16string& text) {
  const char* id = TId3v2Tags::FrameId(frame, tags.NewFrameIds());
  // A creation date stays whole ("2024-05-01"), as ID3v2 and WMA keep it.
  if (frame == TId3v2Tags::tfYear || frame == TId3v2Tags::tfTrack) {
    tags.SetValue(id, WideToLatin1(text));
  } else {
    tags.SetValue(id, text);
  }
}

bool ReadAt(TStream& stream, std::int64_t position, std::uint8_t* bytes, std::int64_t count) {
  return stream.Seek(position, TSeekOrigin::soBeginning) == position && stream.Read(bytes, count) == count;
}

std::vector<std::uint8_t> ReadBody(TStream& stream, std::int64_t position, std::int64_t count) {
  std::vector<std::uint8_t> body(static_cast<std::size_t>(count));
  if (!ReadAt(stream, position, body.data(), count)) body.clear();
  return body;
}

}  // namespace

void ParseRiffInfo(std::span<const std::uint8_t> body, TId3v2Tags& tags) {
  if (body.size() < 4 || !IdentifierMatch(body.data(), "INFO")) return;
  bool sawTrack = false;
  std::size_t pos = 4;
  while (body.size() - pos >= 8) {
    const std::uint8_t* header = body.data() + pos;
    const std::uint32_t size = GetLE32(header + 4);
    pos += 8;
    const std::size_t length = std::min<std::size_t>(size, body.size() - pos);
    for (const TInfoField& field : kInfoFields) {
      if (!IdentifierMatch(header, field.Id)) continue;
      const std::u16string text = DecodeInfoText(body.subspan(pos, length));
      if (!text.empty() && !(field.Fallback && sawTrack)) {
        SetField(tags, field.Frame, text);
        sawTrack = sawTrack || (field.Frame == TId3v2Tags::tfTrack && !field.Fallback);
      }
      break;
    }
    if (length < size) break;
    pos += length;
    // The pad byte after an odd size: some writers leave it out, and an identifier never
    // starts with a zero byte.
    if (size % 2 != 0 && pos < body.size() && body[pos] == 0) ++pos;
  }
}

std::vector<std::uint8_t> BuildRiffInfo(const TId3v2Tags& tags) {
  std::vector<std::uint8_t> chunk(12);
  for (const TInfoField& field : kInfoFields) {
    if (field.Fallback) continue;
    // UTF-8, not Latin-1: the readers in use (ffmpeg, sox, taggers) pass INFO bytes through
    // as UTF-8, and Latin-1 cannot hold most of the text users tag with.
    const std::string text =
        CutUtf8(WideToUtf8(tags.AsWideString(TId3v2Tags::FrameId(field.Frame, tags.NewFrameIds()))),
                kMaxInfoValueBytes);
    if (text.empty()) continue;
    const std::size_t at = chunk.size();
    const auto size = static_cast<std::uint32_t>(text.size() + 1);  // with its null
    chunk.resize(at + 8 + size + size % 2, 0);
    PutId(&chunk[at], field.Id);
    PutLE32(&chunk[at + 4], size);
    std::copy(text.begin(), text.end(), chunk.begin() + static_cast<std::ptrdiff_t>(at + 8));
  }
  if (chunk.size() == 12) return {};
  PutId(chunk.data(), "LIST");
  PutLE32(chunk.data() + 4, static_cast<std::uint32_t>(chunk.size() - 8));
  PutId(chunk.data() + 8, "INFO");
  return chunk;
}

void ReadWaveTags(TStream& stream, std::int64_t start, TId3v2Tags& tags) {
  tags.Clear();
  const std::int64_t restore = stream.Position();
  const std::int64_t end = stream.Size();
  std::uint8_t header[12];
  if (!ReadAt(stream, start, header, 12) || !IdentifierMatch(header, "RIFF") ||
      !IdentifierMatch(header + 8, "WAVE")) {
    stream.SetPosition(restore);
    return;
  }
  TId3v2Tags id3;
  bool sawId3 = false;
  std::int64_t pos = start + 12;
  for (int chunks = 0; chunks < kMaxChunks && end - pos >= 8; ++chunks) {
    if (!ReadAt(stream, pos, header, 8)) break;
    const std::uint32_t size = GetLE32(header + 4);
    const std::int64_t body = pos + 8;
    // A size past the end of the file counts only what is there.
    const std::int64_t present = std::min<std::int64_t>(size, end - body);
    if (IdentifierMatch(header, "LIST")) {
      ParseRiffInfo(ReadBody(stream, body, std::min(present, kMaxInfoChunkBytes)), tags);
    } else if (IdentifierMatch(header, "id3 ") && !sawId3) {
      sawId3 = ReadId3v2FromBytes(id3, ReadBody(stream, body, std::min(present, kMaxId3ChunkBytes)));
    }
    if (present < size) break;
    pos = body + size;
    if (size % 2 != 0 && pos < end) {
      std::uint8_t pad = 1;
      if (ReadAt(stream, pos, &pad, 1) && pad == 0) ++pos;
    }
  }
  // The ID3 values win; INFO fills what the ID3 tag lacks.
  if (sawId3) {
    id3.TakeMissingValues(tags);
    tags.Assign(&id3);
  }
  stream.SetPosition(restore);
}

}  // namespace melvanto
