// Melvanto: the program start ("melvanto [FILE|FOLDER]..."). One instance per user: a second
// start brings the first to the front, hands it the files it was given, and ends.
#include <signal.h>

#include <QApplication>
#include <QEvent>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

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

  // The arguments Qt left (it takes its own options out of argv), as the names' bytes, made
  // absolute here: a running instance has a current folder of its own.
  std::error_code noFolder;
  const std::vector<std::string> paths = AbsolutePaths(std::vector<std::string>(argv + 1, argv + argc),
                                                       std::filesystem::current_path(noFolder).string());

  TSingleInstance instance(QString::fromLatin1(kWindowClassName));
  if (instance.HandOver(static_cast<int>(kRestoreEvent), paths)) return 0;

  TfrmMain frmMain;
  // Files handed over are a drop on the window, brought to the front; after the message has
  // been read, because the drop asks questions.
  instance.SetOnPaths([&frmMain](std::vector<std::string> handed) {
    frmMain.Restore();
    QMetaObject::invokeMethod(
        &frmMain, [&frmMain, handed = std::move(handed)] { frmMain.OpenPaths(handed); },
        Qt::QueuedConnection);
  });
  // A start that began while another was making its window finds the socket taken only now:
  // it hands over and ends unseen. Without any socket the program still runs; only a second
  // start would then not find it.
  const auto start = instance.ListenOrHandOver(
      [&frmMain](int message) {
        if (message == static_cast<int>(kRestoreEvent))
          QCoreApplication::postEvent(&frmMain, std::make_unique<QEvent>(kRestoreEvent).release());
      },
      static_cast<int>(kRestoreEvent), paths);
  if (start == TSingleInstance::TStart::tsHandedOver) return 0;
  frmMain.show();
  if (!paths.empty())
    QMetaObject::invokeMethod(
        &frmMain, [&frmMain, &paths] { frmMain.OpenPaths(paths); }, Qt::QueuedConnection);
  return app.exec();
}
