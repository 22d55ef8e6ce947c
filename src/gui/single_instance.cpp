#include "single_instance.h"

#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <cctype>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

namespace melvanto::gui {
namespace {

// A local connection is made or refused at once; the margin is for a loaded machine.
constexpr int kConnectTimeoutMs = 2000;
constexpr int kWriteTimeoutMs = 2000;
// A message is one line: a short decimal number, or "paths N" followed by N bytes, the paths
// each ended by a NUL (names may hold any other byte, line ends too). A longer line is not
// one of ours.
constexpr qint64 kLongestLine = 32;
const QByteArray kPathsWord = "paths ";
// Far more than a command line can hold.
constexpr qint64 kLargestPaths = 16 * 1024 * 1024;

// The number on one line of text, or nothing for anything else.
std::optional<int> ParseMessage(QByteArray line) {
  line = line.trimmed();
  bool ok = false;
  const int value = line.toInt(&ok);
  if (!ok || line.isEmpty()) return std::nullopt;
  return value;
}

// The length a "paths N" line announces, or nothing for a bad one.
std::optional<qint64> ParsePathsLength(const QByteArray& line) {
  const QByteArray number = line.mid(kPathsWord.size()).trimmed();
  bool ok = false;
  const qint64 length = number.toLongLong(&ok);
  if (!ok || number.isEmpty() || !std::isdigit(static_cast<unsigned char>(number[0])) || length <= 0 ||
      length > kLargestPaths)
    return std::nullopt;
  return length;
}

// The paths of a message's body; nothing unless every one is absolute and NUL-ended.
std::optional<std::vector<std::string>> ParsePaths(const QByteArray& body) {
  if (body.isEmpty() || !body.endsWith('\0')) return std::nullopt;
  std::vector<std::string> paths;
  qsizetype start = 0;
  while (start < body.size()) {
    const qsizetype end = body.indexOf('\0', start);
    if (end == start || body[start] != '/') return std::nullopt;
    paths.emplace_back(body.constData() + start, static_cast<std::size_t>(end - start));
    start = end + 1;
  }
  return paths;
}

// Runs a message's handler; one that cannot be acted on is dropped, the instance runs on.
template <typename F, typename V>
void Deliver(const F& handler, V value) {
  if (!handler) return;
  try {
    handler(std::move(value));
  } catch (...) {
  }
}

}  // namespace

std::vector<std::string> AbsolutePaths(const std::vector<std::string>& arguments, const std::string& folder) {
  std::vector<std::string> paths;
  for (const std::string& argument : arguments) {
    if (argument.empty()) continue;
    if (argument.front() == '/' || folder.empty())
      paths.push_back(argument);
    else
      paths.push_back(folder + (folder.back() == '/' ? "" : "/") + argument);
  }
  return paths;
}

TSingleInstance::TSingleInstance(const QString& name) : Path_(SocketPath(name)) {}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::SocketPath(const QString& name) {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return QDir(runtime).filePath(name);
  // The temporary folder is shared by all users: the user id keeps each one's socket apart.
  return QDir::tempPath() + QLatin1Char('/') + name + QLatin1Char('-') + QString::number(::getuid());
}

bool TSingleInstance::SignalRunningInstance(int message) {
  return Send(QByteArray::number(message) + '\n');
}

bool TSingleInstance::SendPaths(const std::vector<std::string>& paths) {
  QByteArray body;
  for (const std::string& path : paths) {
    body.append(path.data(), static_cast<qsizetype>(path.size()));
    body.append('\0');
  }
  return Send(kPathsWord + QByteArray::number(body.size()) + '\n' + body);
}

bool TSingleInstance::HandOver(int message, const std::vector<std::string>& paths) {
  return paths.empty() ? SignalRunningInstance(message) : SendPaths(paths);
}

bool TSingleInstance::Send(const QByteArray& bytes) {
  QLocalSocket socket;
  socket.connectToServer(Path_);
  if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
  socket.write(bytes);
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
                                                          int message,
                                                          const std::vector<std::string>& paths) {
  if (Listen(std::move(onMessage))) return TStart::tsFirst;
  return HandOver(message, paths) ? TStart::tsHandedOver : TStart::tsAlone;
}

void TSingleInstance::Accept() {
  while (QLocalSocket* socket = Server_->nextPendingConnection()) {
    // The server owns its connections; each is dropped once it has said its line or gone.
    QPointer<QLocalSocket> guarded(socket);
    // The length of the paths still to come after a "paths N" line, else -1.
    auto pending = std::make_shared<qint64>(-1);
    // Reads the complete messages (and, once the client has gone, a number it left without a
    // line end); a line too long to be ours, a bad length or paths cut short end the
    // connection.
    const auto take = [this, guarded, pending](bool atEnd) {
      const auto drop = [guarded] {
        guarded->abort();
        guarded->deleteLater();
      };
      while (guarded) {
        if (*pending >= 0) {
          if (guarded->bytesAvailable() < *pending) return atEnd ? drop() : void();
          const QByteArray body = guarded->read(*pending);
          *pending = -1;
          if (auto paths = ParsePaths(body)) Deliver(OnPaths_, std::move(*paths));
          continue;
        }
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
        if (line.startsWith(kPathsWord)) {
          const auto length = ParsePathsLength(line);
          if (!length) return drop();
          *pending = *length;
        } else if (const auto message = ParseMessage(line)) {
          Deliver(OnMessage_, *message);
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
