#pragma once

// Source files a test program makes once, with a shell command run in a temporary folder of
// their own, and shares between its tests.

#include <string>

#include "temp_dir.h"
#include "tools.h"

namespace melvanto::testing {

class MadeFiles {
 public:
  // Nothing runs when canMake is false (a tool the command needs is missing).
  MadeFiles(bool canMake, const std::string& command) {
    if (canMake) ready_ = Shell("cd '" + dir_.String() + "' && " + command);
  }
  MadeFiles(const MadeFiles&) = delete;
  MadeFiles& operator=(const MadeFiles&) = delete;

  bool Ready() const { return ready_; }
  std::string operator/(const std::string& name) const { return (dir_ / name).string(); }

 private:
  TempDir dir_;
  bool ready_ = false;
};

}  // namespace melvanto::testing
