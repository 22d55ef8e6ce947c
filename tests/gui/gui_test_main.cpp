// The window tests run without a display: Qt's offscreen platform, one QApplication for all.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "main_thread_bridge.h"
#include "theme.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  melvanto::gui::ApplyTheme(app);
  melvanto::gui::TMainThreadBridge bridge;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
