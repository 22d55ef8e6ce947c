// Melvanto: the program start. One instance per user: a second start brings the first to the
// front and ends.
#include <signal.h>

#include <QApplication>
#include <QEvent>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "main_thread_bridge.h"
#include "main_window.h"
#include "product.h"
#include "single_instance.h"
#include "theme.h"

using namespace melvanto::gui;

namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Without a display Qt aborts with a page of advice; a chosen platform (QT_QPA_PLATFORM) is
// left to Qt.
bool DisplayNamed() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM"); }

}  // namespace

int main(int argc, char** argv) {
  if (!DisplayNamed()) {
    std::fputs("melvanto: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are not set); "
               "melvanto-cli converts without one\n",
               stderr);
    return 1;
  }
  // Past a file-size limit a write then fails (and the file is reported) instead of the
  // signal ending the program with files half written.
  ::signal(SIGXFSZ, SIG_IGN);

  QApplication app(argc, argv);
  // The name only, no display name: Qt would append a display name to every window title the
  // window system shows ("Options - Melvanto"), and the dialogs' captions are their own.
  QApplication::setApplicationName(QString::fromLatin1(kProductName));
  ApplyTheme(app);
  TMainThreadBridge bridge;

  TSingleInstance instance(QString::fromLatin1(kWindowClassName));
  if (instance.SignalRunningInstance(static_cast<int>(kRestoreEvent))) return 0;

  TfrmMain frmMain;
  // A start that began while another was making its window finds the socket taken only now:
  // it hands over and ends unseen. Without any socket the program still runs; only a second
  // start would then not find it.
  const auto start = instance.ListenOrHandOver(
      [&frmMain](int message) {
        if (message == static_cast<int>(kRestoreEvent))
          QCoreApplication::postEvent(&frmMain, std::make_unique<QEvent>(kRestoreEvent).release());
      },
      static_cast<int>(kRestoreEvent));
  if (start == TSingleInstance::TStart::tsHandedOver) return 0;
  frmMain.show();
  return app.exec();
}
