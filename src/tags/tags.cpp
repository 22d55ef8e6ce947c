#include "tags.h"

#include <algorithm>

#include "id3.h"
#include "text_codec.h"

namespace melvanto {

// ---- TAuTags ---------------------------------------------------------------------------

std::unique_ptr<TAuTags> TAuTags::Create() const { return std::make_unique<TAuTags>(); }

const TAuTags::Entry* TAuTags::Find(std::string_view Name) const {
  auto it = std::lower_bound(Entries.begin(), Entries.end(), Name,
                             [](const Entry& e, std::string_view n) { return CompareText(e.Name, n) < 0; });
  return it != Entries.end() && SameText(it->Name, Name) ? &*it : nullptr;
}

bool TAuTags::AddTag(std::string_view Name, const TTagValue& Initial) {
  if (Name.empty()) return false;
  auto it = std::lower_bound(Entries.begin(), Entries.end(), Name,
                             [](const Entry& e, std::string_view n) { return CompareText(e.Name, n) < 0; });
  if (it == Entries.end() || !SameText(it->Name, Name)) Entries.insert(it, Entry{std::string(Name), Initial});
  return true;
}

std::string TAuTags::NameByIndex(int index) const {
  if (index < 0 || index >= Count()) return {};
  return Entries[static_cast<std::size_t>(index)].Name;
}

TTagValue TAuTags::GetValue(std::string_view Name) const {
  const Entry* e = Find(Name);
  return e != nullptr ? e->Value : TTagValue{};
}

void TAuTags::SetValue(std::string_view Name, const TTagValue& Value) {
  auto* e = const_cast<Entry*>(Find(Name));
  if (e == nullptr || SameTagValue(e->Value, Value)) return;
  e->Value = Value;
  Empty_ = false;
  Changed_ = true;
}

std::int32_t TAuTags::AsInteger(std::string_view Name) const { return TagValueAsInteger(GetValue(Name)); }
std::string TAuTags::AsString(std::string_view Name) const { return TagValueAsString(GetValue(Name)); }
std::u16string TAuTags::AsWideString(std::string_view Name) const {
  return TagValueAsWideString(GetValue(Name));
}

void TAuTags::Clear() {
  for (Entry& e : Entries) e.Value = TTagValue{};
  ClearState();
  Empty_ = true;
  Changed_ = true;
}

void TAuTags::CopyValuesFrom(const TAuTags& Source) {
  if (&Source == this) return;  // clearing first would lose every value
  Clear();
  for (const Entry& e : Source.Entries) SetValue(e.Name, e.Value);
  CopyStateFrom(Source);
}

void TAuTags::Assign(const TPersistent* Source) {
  if (const auto* tags = dynamic_cast<const TAuTags*>(Source)) {
    CopyValuesFrom(*tags);
    return;
  }
  TPersistent::Assign(Source);
}

void TAuTags::AssignTo(TPersistent* Dest) const {
  if (auto* tags = dynamic_cast<TAuTags*>(Dest)) {
    tags->CopyValuesFrom(*this);
    return;
  }
  TPersistent::AssignTo(Dest);
}

bool TAuTags::Detect(TFileHandle Handle) { return Handle >= 0; }

bool TAuTags::ReadFromFile(TFileHandle Handle) {
  if (Handle < 0) return false;
  Clear();
  return true;
}

bool TAuTags::WriteToFile(TFileHandle Handle, bool /*Unicode*/) { return Handle >= 0; }

// ---- kinds -----------------------------------------------------------------------------

TCommonTags::TCommonTags() {
  for (const char* name : {"Title", "Album", "Artist", "Genre", "Year", "Track"}) AddTag(name, std::string());
}

TId3v1Tags::TId3v1Tags() {
  for (const char* name : {"artist", "album", "year", "track", "title", "comment"}) AddTag(name, {});
  AddTag("genre", std::uint8_t{12});
}

std::uint8_t TId3v1Tags::GenreId() const {
  const std::int32_t id = AsInteger("genre");
  return id >= 0 && id < static_cast<std::int32_t>(kId3v1GenreCount) ? static_cast<std::uint8_t>(id) : 12;
}

std::string TId3v1Tags::Genre() const { return std::string(kId3v1Genres[GenreId()]); }

void TId3v1Tags::SetGenre(std::string_view Value) {
  const std::string name = TrimControl(Value);
  for (std::size_t code = 0; code < kId3v1GenreCount; ++code) {
    if (SameText(kId3v1Genres[code], name)) {
      SetGenreId(static_cast<std::uint8_t>(code));
      return;
    }
  }
}

namespace {

struct FrameIds {
  const char* Old;
  const char* New;
};
constexpr FrameIds kFrameIds[TId3v2Tags::tfFrameCount] = {
    {"TAL", "TALB"}, {"TP1", "TPE1"}, {"TCO", "TCON"}, {"TT2", "TIT2"}, {"TRK", "TRCK"}, {"TYE", "TYER"},
    {"COM", "COMM"}, {"TCM", "TCOM"}, {"TEN", "TENC"}, {"TCR", "TCOP"}, {"TLA", "TLAN"}, {"WXX", "WXXX"},
};

}  // namespace

const char* TId3v2Tags::FrameId(TFrame Frame, bool NewFrameIds) {
  return NewFrameIds ? kFrameIds[Frame].New : kFrameIds[Frame].Old;
}

void TId3v2Tags::CopyStateFrom(const TAuTags& Source) {
  if (const auto* v2 = dynamic_cast<const TId3v2Tags*>(&Source)) {
    NewFrameIds_ = v2->NewFrameIds_;
    Pictures_ = v2->Pictures_;
    CommentLanguage_ = v2->CommentLanguage_;
  }
}

void TId3v2Tags::TakeMissingValues(const TId3v2Tags& from) {
  for (int f = 0; f < tfFrameCount; ++f) {
    const auto frame = static_cast<TFrame>(f);
    const char* id = FrameId(frame, NewFrameIds_);
    if (TagValueAsWideString(GetValue(id)).empty()) SetValue(id, from.GetValue(FrameId(frame, from.NewFrameIds_)));
  }
}

TId3v2Tags::TId3v2Tags() {
  for (const FrameIds& ids : kFrameIds) {
    AddTag(ids.Old, {});
    AddTag(ids.New, {});
  }
}

TAPEv2Tags::TAPEv2Tags() {
  for (const char* name :
       {"Artist", "Composer", "Album", "Debut album", "Publisher", "Conductor", "Copyright", "ISBN", "ISRC",
        "EAN/UPC", "LC", "Catalog", "Language", "Genre", "Year", "Record Date", "Record Location", "File",
        "Related", "Abstract", "Bibliography", "Track", "Title", "Subtitle", "Comment"})
    AddTag(name, {});
}

std::string TAPEv2Tags::Year() const { return WideToLatin1(AsWideString("Year")); }

}  // namespace melvanto
