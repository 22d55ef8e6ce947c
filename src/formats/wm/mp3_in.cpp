#include "mp3_in.h"

namespace melvanto {

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

}  // namespace melvanto
