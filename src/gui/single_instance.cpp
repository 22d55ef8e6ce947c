#include "single_instance.h"

#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <exception>
#include <optional>
#include <utility>

namespace melvanto::gui {
namespace {

// A local connection is made or refused at once; the margin is for a loaded machine.
constexpr int kConnectTimeoutMs = 2000;
constexpr int kWriteTimeoutMs = 2000;
// A message is a short decimal number; a longer line is not one of ours.
constexpr qint64 kLongestLine = 32;

// The number on one line of text, or nothing for anything else.
std::optional<int> ParseMessage(QByteArray line) {
  line = line.trimmed();
  bool ok = false;
  const int value = line.toInt(&ok);
  if (!ok || line.isEmpty()) return std::nullopt;
  return value;
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& name) : Path_(SocketPath(name)) {}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::SocketPath(const QString& name) {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return QDir(runtime).filePath(name);
  // The temporary folder is shared by all users: the user id keeps each one's socket apart.
  return QDir::tempPath() + QLatin1Char('/') + name + QLatin1Char('-') + QString::number(::getuid());
}

bool TSingleInstance::SignalRunningInstance(int message) {
  QLocalSocket socket;
  socket.connectToServer(Path_);
  if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
  socket.write(QByteArray::number(message) + '\n');
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(kWriteTimeoutMs)) return false;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kWriteTimeoutMs);
  return true;
}

bool TSingleInstance::Listen(std::function<void(int message)> onMessage) {
  OnMessage_ = std::move(onMessage);
  // A socket that answers belongs to a running instance and stays (listening would put a new
  // socket in its place). One nobody answers on was left by an instance that crashed.
  {
    QLocalSocket probe;
    probe.connectToServer(Path_);
    if (probe.waitForConnected(kConnectTimeoutMs)) {
      probe.abort();
      return false;
    }
  }
  QLocalServer::removeServer(Path_);
  Server_ = std::make_unique<QLocalServer>();
  Server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!Server_->listen(Path_)) {
    Server_.reset();
    return false;
  }
  connect(Server_.get(), &QLocalServer::newConnection, this, [this] { Accept(); });
  return true;
}

TSingleInstance::TStart TSingleInstance::ListenOrHandOver(std::function<void(int message)> onMessage,
                                                          int message) {
  if (Listen(std::move(onMessage))) return TStart::tsFirst;
  return SignalRunningInstance(message) ? TStart::tsHandedOver : TStart::tsAlone;
}

void TSingleInstance::Accept() {
  while (QLocalSocket* socket = Server_->nextPendingConnection()) {
    // The server owns its connections; each is dropped once it has said its line or gone.
    QPointer<QLocalSocket> guarded(socket);
    // Reads the complete lines (and, once the client has gone, what it left without a line
    // end); a line too long to be a number ends the connection.
    const auto take = [this, guarded](bool atEnd) {
      const auto drop = [guarded] {
        guarded->abort();
        guarded->deleteLater();
      };
      while (guarded) {
        QByteArray line;
        if (guarded->canReadLine()) {
          line = guarded->readLine(kLongestLine + 1);
          if (!line.endsWith('\n')) return drop();
        } else if (guarded->bytesAvailable() > kLongestLine) {
          return drop();
        } else if (atEnd && guarded->bytesAvailable() > 0) {
          line = guarded->readAll();
        } else {
          return;
        }
        if (const auto message = ParseMessage(line); message && OnMessage_) {
          try {
            OnMessage_(*message);
          } catch (...) {
            // A message that cannot be acted on is dropped; the instance runs on.
          }
        }
      }
    };
    connect(socket, &QLocalSocket::readyRead, this, [take] { take(false); });
    connect(socket, &QLocalSocket::disconnected, this, [take, guarded] {
      take(true);
      if (guarded) guarded->deleteLater();
    });
    take(false);
    if (guarded && guarded->state() == QLocalSocket::UnconnectedState) {
      take(true);
      guarded->deleteLater();
    }
  }
}

}  // namespace melvanto::gui
