#pragma once

#include "wm_in.h"

namespace melvanto {

// MP3 files through the same runtime, with a third of a second more allowed at the end.
// Tags come from the file's own ID3v2 tag and ID3v1 record, the runtime's values filling
// what those lack.
class TMP3In : public TWMIn {
 public:
  TMP3In();
  ~TMP3In() override;

 protected:
  void OpenFile() override;
  void ReadTags() override;
};

}  // namespace melvanto
