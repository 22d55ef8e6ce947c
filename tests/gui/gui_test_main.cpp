// The window tests run without a display: Qt's offscreen platform, one QApplication for all,
// and folders of their own for settings and the single-instance socket, so that no test
// touches the user's.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <string>

#include "main_thread_bridge.h"
#include "temp_dir.h"
#include "theme.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  melvanto::testing::TempDir home;
  ::setenv("XDG_CONFIG_HOME", (home.String() + "/config").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", home.String().c_str(), 1);
  ::setenv("XDG_MUSIC_DIR", (home.String() + "/music").c_str(), 1);
  QApplication app(argc, argv);
  melvanto::gui::ApplyTheme(app);
  melvanto::gui::TMainThreadBridge bridge;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
