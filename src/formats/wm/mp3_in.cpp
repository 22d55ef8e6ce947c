#include "mp3_in.h"

#include <fcntl.h>

#include "id3.h"
#include "text_codec.h"
#include "unique_fd.h"

namespace melvanto {

namespace {

// The ID3v1 record's values as ID3v2 ones: empty where the record has none.
void TakeRecord(const TId3v1Tags& v1, TId3v2Tags& into) {
  into.SetTitle(Latin1ToWide(v1.Title()));
  into.SetArtist(Latin1ToWide(v1.Artist()));
  into.SetAlbum(Latin1ToWide(v1.Album()));
  into.SetComment(Latin1ToWide(v1.Comment()));
  if (v1.Year() != 0) into.SetYear(std::to_string(v1.Year()));
  if (v1.Track() != 0) into.SetTrack(std::to_string(v1.Track()));
  // A code outside the table (255 for none) reads as "Other": only real codes count.
  if (v1.AsInteger("genre") < static_cast<std::int32_t>(kId3v1GenreCount)) into.SetGenre(Latin1ToWide(v1.Genre()));
}


}  // namespace

TMP3In::TMP3In() = default;

TMP3In::~TMP3In() {
  NotifyDestruction();
  CloseFile();
}

void TMP3In::OpenFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount != 0) return TWMIn::OpenFile();
  TWMIn::OpenFile();
  // An unknown length stays unknown: an allowance alone would cut delivery at a third of a second.
  if (Size() <= 0) return;
  const std::int64_t extra = SampleRate_ / 3;
  TotalSamples_ += extra;
  Size_ += static_cast<std::int64_t>(BitsPerSample_ / 8) * Channels_ * extra;
}

void TMP3In::ReadTags() {
  TWMIn::ReadTags();
  // A caller's stream has no name to read the tags from: the runtime's values stay.
  if (StreamAssigned() || FileName().empty()) return;
  UniqueFd fd(::open(FileName().c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) return;

  // The runtime's values fill gaps, but not the comment: ours reads COMM whole and chooses
  // among several by their descriptions, which the runtime does not.
  TId3v2Tags runtime;
  runtime.Assign(Id3v2Tags_.get());
  runtime.SetComment(u"");
  TId3v2Tags own, record;
  own.ReadFromFile(fd.Get());
  if (Id3v1Tags_->ReadFromFile(fd.Get()))
    TakeRecord(*Id3v1Tags_, record);
  else
    Id3v1Tags_->Clear();
  own.TakeMissingValues(runtime);
  own.TakeMissingValues(record);
  Id3v2Tags_->Assign(&own);

  TCommonTags& common = *CommonTags_;
  common.SetTitle(own.Title());
  common.SetArtist(own.Artist());
  common.SetAlbum(own.Album());
  common.SetGenre(own.Genre());
  common.SetYear(own.Year());
  common.SetTrack(own.Track());
}

}  // namespace melvanto
