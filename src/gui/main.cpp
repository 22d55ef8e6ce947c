// Melvanto: the program start. One instance per user: a second start brings the first to the
// front and ends.
#include <signal.h>

#include <QApplication>
#include <QEvent>
#include <memory>

#include "main_thread_bridge.h"
#include "main_window.h"
#include "product.h"
#include "single_instance.h"
#include "theme.h"

using namespace melvanto::gui;

int main(int argc, char** argv) {
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
