#pragma once

#include "wm_in.h"

namespace melvanto {

// MP3 files through the same runtime, with a third of a second more allowed at the end.
class TMP3In : public TWMIn {
 public:
  TMP3In();
  ~TMP3In() override;

 protected:
  void OpenFile() override;
};

}  // namespace melvanto
