// TId3v1Tags' own file access: the 128-byte record at the end of a file.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "file_access.h"
#include "id3.h"
#include "id3v1_record.h"
#include "tags.h"
#include "text_codec.h"

namespace melvanto {

namespace {

using Record = TId3v1Record;

// Seeks to the record and reads it; true when a whole record with its marker was read.
bool ReadRecord(TFileHandle fd, Record& record) {
  if (!file_access::Seek(fd, -static_cast<std::int64_t>(id3v1::kRecordSize), SEEK_END)) return false;
  return file_access::Read(fd, record.data(), record.size()) == record.size() &&
         std::memcmp(record.data(), "TAG", 3) == 0;
}

// A text field: up to its first zero byte (what follows is left-over garbage in files of
// old taggers), trimmed of blanks and control characters.
std::string Field(const Record& record, std::size_t offset, std::size_t length) {
  const auto* begin = reinterpret_cast<const char*>(record.data() + offset);
  const std::string_view raw(begin, length);
  return TrimControl(raw.substr(0, raw.find('\0')));
}

}  // namespace

bool TId3v1Tags::Detect(TFileHandle Handle) {
  if (!TAuTags::Detect(Handle)) return false;
  const auto position = file_access::Position(Handle);
  if (!position) return false;
  Record record;
  const bool found = ReadRecord(Handle, record);
  file_access::Seek(Handle, *position, SEEK_SET);
  return found;
}

bool TId3v1Tags::ReadFromFile(TFileHandle Handle) {
  if (!TAuTags::ReadFromFile(Handle)) return false;
  Record record;
  if (!ReadRecord(Handle, record)) return false;

  SetTitle(Field(record, id3v1::kTitle, id3v1::kTextLength));
  SetArtist(Field(record, id3v1::kArtist, id3v1::kTextLength));
  SetAlbum(Field(record, id3v1::kAlbum, id3v1::kTextLength));
  SetYear(static_cast<std::uint16_t>(ParseInteger(Field(record, id3v1::kYear, id3v1::kYearLength)).value_or(0)));

  const std::uint8_t marker = record[id3v1::kTrackMarker], track = record[id3v1::kTrack];
  const bool hasTrack = (marker == 0 && track != 0) || (marker == 32 && track != 32);
  if (hasTrack) {
    SetComment(Field(record, id3v1::kComment, id3v1::kCommentWithTrackLength));
    SetTrack(track);
  } else {
    SetComment(Field(record, id3v1::kComment, id3v1::kTextLength));
    SetTrack(0);
  }
  SetGenreId(record[id3v1::kGenre]);
  return true;
}

bool TId3v1Tags::WriteToFile(TFileHandle Handle, bool Unicode) {
  if (!TAuTags::WriteToFile(Handle, Unicode)) return false;
  if (!file_access::Seek(Handle, 0, SEEK_END)) return false;

  const TId3v1Record record = MakeId3v1Record(*this, TId3v1YearForm::AnyYear);
  return file_access::WriteAll(Handle, record.data(), record.size());
}

}  // namespace melvanto
