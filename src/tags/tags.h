#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "persistent.h"
#include "tag_value.h"

namespace melvanto {

// An open file for the containers' own file access: a POSIX descriptor, -1 for none.
using TFileHandle = int;
constexpr TFileHandle kInvalidFileHandle = -1;

// Named tag values of one audio file. The set of names is fixed by each kind's
// constructor; values change, names never do. Names are kept sorted without case, so
// list positions follow the alphabet, not the order of registration.
class TAuTags : public TPersistent {
 public:
  TAuTags() = default;
  TAuTags(const TAuTags&) = delete;
  TAuTags& operator=(const TAuTags&) = delete;
  ~TAuTags() override = default;

  // A new, untouched container of the same kind.
  virtual std::unique_ptr<TAuTags> Create() const;
  const char* ClassName() const override { return "TAuTags"; }

  int Count() const { return static_cast<int>(Entries.size()); }
  // Empty when the index is out of range.
  std::string NameByIndex(int index) const;

  // Null for a name not in the list.
  TTagValue GetValue(std::string_view Name) const;
  // Ignored for a name not in the list and for a value equal to the stored one.
  void SetValue(std::string_view Name, const TTagValue& Value);

  std::int32_t AsInteger(std::string_view Name) const;
  std::string AsString(std::string_view Name) const;
  std::u16string AsWideString(std::string_view Name) const;

  // Every value null; the names stay.
  void Clear();
  bool Empty() const { return Empty_; }
  bool Changed() const { return Changed_; }

  // Copies every value by name from another container (names this one lacks are
  // skipped); any other source fails with EConvertError.
  void Assign(const TPersistent* Source) override;

  // The container's own bytes in an open file. They never raise: failure is false.
  virtual bool Detect(TFileHandle Handle);
  virtual bool ReadFromFile(TFileHandle Handle);
  virtual bool WriteToFile(TFileHandle Handle, bool Unicode);

 protected:
  void AssignTo(TPersistent* Dest) const override;
  // Called after the values were copied from another container: state beyond the values.
  virtual void CopyStateFrom(const TAuTags& /*Source*/) {}
  // Called by Clear: state beyond the values.
  virtual void ClearState() {}
  // Registers a name with its first value; constructors only.
  bool AddTag(std::string_view Name, const TTagValue& Initial);

  using WideText = std::u16string_view;
  using AnsiText = std::string_view;
  std::u16string WideTag(std::string_view Name) const { return AsWideString(Name); }
  void SetWideTag(std::string_view Name, std::u16string_view Value) { SetValue(Name, std::u16string(Value)); }
  std::string AnsiTag(std::string_view Name) const { return AsString(Name); }
  void SetAnsiTag(std::string_view Name, std::string_view Value) { SetValue(Name, std::string(Value)); }

 private:
  struct Entry {
    std::string Name;
    TTagValue Value;
  };
  void CopyValuesFrom(const TAuTags& Source);
  const Entry* Find(std::string_view Name) const;

  std::vector<Entry> Entries;  // sorted by CompareText
  bool Empty_ = true;
  bool Changed_ = false;
};

// Typed views onto fixed names. Wide properties take and give UTF-16, ANSI ones Latin-1.
#define MELVANTO_WIDE_TAG(Property, Name)                                  \
  std::u16string Property() const { return WideTag(Name); }                \
  void Set##Property(std::u16string_view Value) { SetWideTag(Name, Value); }
#define MELVANTO_ANSI_TAG(Property, Name)                                  \
  std::string Property() const { return AnsiTag(Name); }                   \
  void Set##Property(std::string_view Value) { SetAnsiTag(Name, Value); }

// A small format-neutral set; every value starts as an empty ANSI string.
class TCommonTags : public TAuTags {
 public:
  TCommonTags();
  std::unique_ptr<TAuTags> Create() const override { return std::make_unique<TCommonTags>(); }
  const char* ClassName() const override { return "TCommonTags"; }

  MELVANTO_WIDE_TAG(Artist, "Artist")
  MELVANTO_WIDE_TAG(Album, "Album")
  MELVANTO_WIDE_TAG(Genre, "Genre")
  MELVANTO_ANSI_TAG(Year, "Year")
  MELVANTO_ANSI_TAG(Track, "Track")
  MELVANTO_WIDE_TAG(Title, "Title")
};

// The fields of an ID3v1 record; reads and writes the record at the end of a file.
class TId3v1Tags : public TAuTags {
 public:
  TId3v1Tags();
  std::unique_ptr<TAuTags> Create() const override { return std::make_unique<TId3v1Tags>(); }
  const char* ClassName() const override { return "TId3v1Tags"; }

  MELVANTO_ANSI_TAG(Title, "title")
  MELVANTO_ANSI_TAG(Artist, "artist")
  MELVANTO_ANSI_TAG(Album, "album")
  MELVANTO_ANSI_TAG(Comment, "comment")
  std::uint16_t Year() const { return static_cast<std::uint16_t>(AsInteger("year")); }
  void SetYear(std::uint16_t Value) { SetValue("year", Value); }
  std::uint8_t Track() const { return static_cast<std::uint8_t>(AsInteger("track")); }
  void SetTrack(std::uint8_t Value) { SetValue("track", Value); }

  // 0..147; a stored code outside the table reads as 12 ("Other").
  std::uint8_t GenreId() const;
  void SetGenreId(std::uint8_t Value) { SetValue("genre", Value); }
  // The table name of GenreId; setting a name not in the table changes nothing.
  std::string Genre() const;
  void SetGenre(std::string_view Value);

  bool Detect(TFileHandle Handle) override;
  bool ReadFromFile(TFileHandle Handle) override;
  bool WriteToFile(TFileHandle Handle, bool Unicode) override;
};

// A picture a file carries (ID3v2 APIC, WMA WM/Picture): the bytes as stored, never decoded.
struct TTagPicture {
  std::string MimeType;          // e.g. "image/jpeg"
  std::uint8_t Type = 3;         // the ID3v2/WM picture type; 3 is the front cover
  std::u16string Description;
  std::vector<std::uint8_t> Data;
  bool operator==(const TTagPicture&) const = default;
};

// A set of ID3v2 frames, under the three-letter ids of version 2.2 and the four-letter
// ids of 2.3/2.4; reads a tag at the start of a file and writes a 2.4 tag there.
class TId3v2Tags : public TAuTags {
 public:
  // The frames in the writer's order.
  enum TFrame { tfAlbum, tfArtist, tfGenre, tfTitle, tfTrack, tfYear, tfComment, tfComposer,
                tfEncoder, tfCopyright, tfLanguage, tfLink, tfFrameCount };
  static const char* FrameId(TFrame Frame, bool NewFrameIds);

  TId3v2Tags();
  std::unique_ptr<TAuTags> Create() const override { return std::make_unique<TId3v2Tags>(); }
  const char* ClassName() const override { return "TId3v2Tags"; }

  // True: the properties use the four-letter ids; false (after reading a 2.2 tag): three.
  bool NewFrameIds() const { return NewFrameIds_; }

  // Pictures travel with the values: Assign and Clear take them too.
  const std::vector<TTagPicture>& Pictures() const { return Pictures_; }
  void SetPictures(std::vector<TTagPicture> Value) { Pictures_ = std::move(Value); }
  // Each frame this container has no text in takes from's value (pictures stay as they are):
  // how one file's second source of tags fills the gaps of its first.
  void TakeMissingValues(const TId3v2Tags& from);
  // The comment's three-letter language as read ("eng"), travelling like the pictures;
  // empty when unknown.
  const std::string& CommentLanguage() const { return CommentLanguage_; }
  void SetCommentLanguage(std::string Value) { CommentLanguage_ = std::move(Value); }

#define MELVANTO_ID3V2_TAG(Property, Frame, Kind)                                        \
  auto Property() const { return Kind##Tag(FrameId(Frame, NewFrameIds_)); }              \
  void Set##Property(Kind##Text Value) { Set##Kind##Tag(FrameId(Frame, NewFrameIds_), Value); }
  MELVANTO_ID3V2_TAG(Album, tfAlbum, Wide)
  MELVANTO_ID3V2_TAG(Artist, tfArtist, Wide)
  MELVANTO_ID3V2_TAG(Genre, tfGenre, Wide)
  MELVANTO_ID3V2_TAG(Title, tfTitle, Wide)
  MELVANTO_ID3V2_TAG(Track, tfTrack, Ansi)
  MELVANTO_ID3V2_TAG(Year, tfYear, Ansi)
  MELVANTO_ID3V2_TAG(Comment, tfComment, Wide)
  MELVANTO_ID3V2_TAG(Composer, tfComposer, Wide)
  MELVANTO_ID3V2_TAG(Encoder, tfEncoder, Wide)
  MELVANTO_ID3V2_TAG(Copyright, tfCopyright, Wide)
  MELVANTO_ID3V2_TAG(Language, tfLanguage, Wide)
  MELVANTO_ID3V2_TAG(Link, tfLink, Wide)
#undef MELVANTO_ID3V2_TAG

  bool Detect(TFileHandle Handle) override;
  bool ReadFromFile(TFileHandle Handle) override;
  bool WriteToFile(TFileHandle Handle, bool Unicode) override;
  // Puts this tag in place of the ID3v2 tag at the file's start (in front of a file without
  // one): over the old one where it fits, the rest of the old room becoming padding, else
  // moving the file's content back. False on failure, the file's content kept.
  bool ReplaceLeadingTag(TFileHandle Handle, bool Unicode);

 protected:
  // A copy of a container read from a 2.2 tag keeps reading the three-letter ids it holds.
  void CopyStateFrom(const TAuTags& Source) override;
  void ClearState() override {
    Pictures_.clear();
    CommentLanguage_.clear();
  }

 private:
  // The whole 2.4 tag; nothing when a frame or the tag is too large for one.
  std::optional<std::vector<std::uint8_t>> RenderTag(bool Unicode) const;
  // Reads the frames of a tag's body (unsynchronisation of the whole tag undone) from `first`.
  void ReadFrames(const std::vector<std::uint8_t>& body, std::size_t first, int version, std::uint8_t flags);

  bool NewFrameIds_ = true;
  std::vector<TTagPicture> Pictures_;
  std::string CommentLanguage_;
};

// A set of APEv2 items.
class TAPEv2Tags : public TAuTags {
 public:
  TAPEv2Tags();
  std::unique_ptr<TAuTags> Create() const override { return std::make_unique<TAPEv2Tags>(); }
  const char* ClassName() const override { return "TAPEv2Tags"; }

  MELVANTO_WIDE_TAG(Artist, "Artist")
  MELVANTO_WIDE_TAG(Composer, "Composer")
  MELVANTO_WIDE_TAG(Album, "Album")
  MELVANTO_WIDE_TAG(DebutAlbum, "Debut album")
  MELVANTO_WIDE_TAG(Publisher, "Publisher")
  MELVANTO_WIDE_TAG(Conductor, "Conductor")
  MELVANTO_WIDE_TAG(Copyright, "Copyright")
  MELVANTO_ANSI_TAG(ISBN, "ISBN")
  MELVANTO_ANSI_TAG(ISRC, "ISRC")
  MELVANTO_ANSI_TAG(BarCode, "EAN/UPC")
  MELVANTO_ANSI_TAG(LabelCode, "LC")
  MELVANTO_ANSI_TAG(Catalog, "Catalog")
  MELVANTO_WIDE_TAG(Language, "Language")
  MELVANTO_WIDE_TAG(Genre, "Genre")
  // Read through the wide form and narrowed, as the item may hold either.
  std::string Year() const;
  void SetYear(std::string_view Value) { SetAnsiTag("Year", Value); }
  MELVANTO_ANSI_TAG(RecordDate, "Record Date")
  MELVANTO_WIDE_TAG(RecordLocation, "Record Location")
  MELVANTO_WIDE_TAG(File_, "File")
  MELVANTO_WIDE_TAG(Related, "Related")
  MELVANTO_WIDE_TAG(Abstract, "Abstract")
  MELVANTO_WIDE_TAG(Bibliography, "Bibliography")
  MELVANTO_ANSI_TAG(Track, "Track")
  MELVANTO_WIDE_TAG(Title, "Title")
  MELVANTO_WIDE_TAG(SubTitle, "Subtitle")
  MELVANTO_WIDE_TAG(Comment, "Comment")
};

#undef MELVANTO_WIDE_TAG
#undef MELVANTO_ANSI_TAG

}  // namespace melvanto
