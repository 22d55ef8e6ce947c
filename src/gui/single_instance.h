#pragma once

// One running program per user: the first start listens on a per-user local socket named
// after the main window's class name; a later start connects, sends the restore message and
// exits.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;

namespace melvanto::gui {

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  // name: the socket's name (the class name; tests use their own).
  explicit TSingleInstance(const QString& name);
  ~TSingleInstance() override;

  // The socket's full path: in $XDG_RUNTIME_DIR when set, else in the temporary folder with
  // the user id appended, so that users never meet.
  static QString SocketPath(const QString& name);

  // Sends message (the restore message) to a running instance; true when one took it.
  bool SignalRunningInstance(int message);
  // Becomes the running instance: listens (removing a socket a crashed instance left) and
  // calls onMessage with each number a later start sends. False when it cannot listen.
  bool Listen(std::function<void(int message)> onMessage);

  enum class TStart { tsFirst, tsHandedOver, tsAlone };
  // The start once the window exists: listens (tsFirst). When another start took the socket
  // meanwhile (two starts at once), that one is sent message and this one is to end
  // (tsHandedOver). tsAlone: no socket could be made; the program runs on its own.
  TStart ListenOrHandOver(std::function<void(int message)> onMessage, int message);

 private:
  void Accept();

  QString Path_;
  std::unique_ptr<QLocalServer> Server_;
  std::function<void(int)> OnMessage_;
};

}  // namespace melvanto::gui
