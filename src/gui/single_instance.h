#pragma once

// One running program per user: the first start listens on a per-user local socket named
// after the main window's class name; a later start connects, sends the restore message, or
// the files it was started with, and exits.

#include <QObject>
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;

namespace melvanto::gui {

// The paths a start names, absolute: a relative one is taken from folder (the current folder
// of the program that was started). Empty arguments are dropped.
std::vector<std::string> AbsolutePaths(const std::vector<std::string>& arguments, const std::string& folder);

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
  // Hands paths (absolute, the names' bytes, none empty) to a running instance; true when
  // one took them.
  bool SendPaths(const std::vector<std::string>& paths);
  // What a later start hands over: its paths when it named any, else message.
  bool HandOver(int message, const std::vector<std::string>& paths);
  // Called with the paths each later start hands over (never empty, all absolute).
  void SetOnPaths(std::function<void(std::vector<std::string> paths)> onPaths) {
    OnPaths_ = std::move(onPaths);
  }
  // Becomes the running instance: listens (removing a socket a crashed instance left) and
  // calls onMessage with each number a later start sends. False when it cannot listen.
  bool Listen(std::function<void(int message)> onMessage);

  enum class TStart { tsFirst, tsHandedOver, tsAlone };
  // The start once the window exists: listens (tsFirst). When another start took the socket
  // meanwhile (two starts at once), that one is handed message or paths and this one is to
  // end (tsHandedOver). tsAlone: no socket could be made; the program runs on its own.
  TStart ListenOrHandOver(std::function<void(int message)> onMessage, int message,
                          const std::vector<std::string>& paths = {});

 private:
  void Accept();
  bool Send(const QByteArray& bytes);

  QString Path_;
  std::unique_ptr<QLocalServer> Server_;
  std::function<void(int)> OnMessage_;
  std::function<void(std::vector<std::string>)> OnPaths_;
};

}  // namespace melvanto::gui
