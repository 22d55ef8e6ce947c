#include "main_thread_bridge.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "main_thread.h"

namespace melvanto::gui {

void InstallMainThreadBridge() {
  // Qt's thread is the one the engine hands events to, and the one whose synchronous
  // Stop serves them while it waits (so a worker blocked on an event cannot deadlock it).
  SetMainThread();
  // Runs on the queuing thread; posting to the application object is thread-safe, and the
  // queued call runs from whatever event loop the user-interface thread is in (a modal
  // dialog's included).
  SetMainThreadWakeHook([] {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
  });
  // Calls queued before the hook existed would otherwise wait for the next one.
  QCoreApplication* app = QCoreApplication::instance();
  if (app != nullptr)
    QMetaObject::invokeMethod(
        app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
}

void RemoveMainThreadBridge() {
  SetMainThreadWakeHook({});
}

}  // namespace melvanto::gui
