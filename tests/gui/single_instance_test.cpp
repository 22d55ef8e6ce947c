// One running program per user: a later start (in this process or the real program) reaches
// the first through the per-user socket; a socket left by a crash does not block a new start.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "product.h"
#include "single_instance.h"
#include "temp_dir.h"

namespace melvanto::testing {
namespace {

using gui::TSingleInstance;

constexpr int kWaitMs = 30000;

// A name of this test's own, so that no two tests meet on one socket.
QString UniqueName() {
  static std::atomic<int> counter{0};
  return QStringLiteral("melvanto-test-%1-%2").arg(::getpid()).arg(++counter);
}

// Collects the numbers a listening instance is sent.
struct Received {
  std::vector<int> Messages;
  std::function<void(int)> Sink() {
    return [this](int message) { Messages.push_back(message); };
  }
  bool WaitFor(std::size_t count) {
    return QTest::qWaitFor([&] { return Messages.size() >= count; }, kWaitMs);
  }
};

// Collects the paths handed to a listening instance.
struct ReceivedPaths {
  std::vector<std::vector<std::string>> Lists;
  explicit ReceivedPaths(TSingleInstance& instance) {
    instance.SetOnPaths([this](std::vector<std::string> paths) { Lists.push_back(std::move(paths)); });
  }
  bool WaitFor(std::size_t count) {
    return QTest::qWaitFor([&] { return Lists.size() >= count; }, kWaitMs);
  }
};

// Sends raw bytes, as a client that is not one of ours might.
void SendRaw(const QString& path, const QByteArray& bytes) {
  QLocalSocket socket;
  socket.connectToServer(path);
  ASSERT_TRUE(socket.waitForConnected(kWaitMs));
  socket.write(bytes);
  while (socket.bytesToWrite() > 0) ASSERT_TRUE(socket.waitForBytesWritten(kWaitMs));
  socket.disconnectFromServer();
}

// A socket file with nobody listening on it, as a crashed instance leaves it.
void LeaveStaleSocket(const QString& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray name = QFile::encodeName(path);
  ASSERT_LT(static_cast<std::size_t>(name.size()), sizeof address.sun_path);
  std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::close(fd);
  ASSERT_EQ(bound, 0) << std::strerror(errno);
  ASSERT_TRUE(QFileInfo::exists(path));
}

TEST(SingleInstanceTest, SocketLivesInTheRuntimeFolder) {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  ASSERT_FALSE(runtime.isEmpty());
  EXPECT_EQ(TSingleInstance::SocketPath("x y"), QDir(runtime).filePath("x y"));
}

TEST(SingleInstanceTest, SecondInstanceInTheSameProcessSignalsTheFirst) {
  const QString name = UniqueName();
  Received received;
  TSingleInstance first(name);
  ASSERT_TRUE(first.Listen(received.Sink()));

  TSingleInstance second(name);
  EXPECT_TRUE(second.SignalRunningInstance(2131));
  ASSERT_TRUE(received.WaitFor(1));
  EXPECT_TRUE(second.SignalRunningInstance(7));
  ASSERT_TRUE(received.WaitFor(2));
  EXPECT_EQ(received.Messages, (std::vector<int>{2131, 7}));

  // A running instance keeps its socket: a third cannot take it over.
  TSingleInstance third(name);
  EXPECT_FALSE(third.Listen([](int) {}));
  EXPECT_TRUE(second.SignalRunningInstance(2131));
  ASSERT_TRUE(received.WaitFor(3));
  EXPECT_EQ(received.Messages.back(), 2131);
}

// Two starts at once: both found nobody, both made their window, and the first one is
// listening by the time the second comes to listen. The second hands over and ends instead
// of running on as another instance.
TEST(SingleInstanceTest, StartThatFindsTheSocketTakenWhenItListensHandsOver) {
  const QString name = UniqueName();
  Received received;
  TSingleInstance first(name);
  EXPECT_EQ(first.ListenOrHandOver(received.Sink(), 2131), TSingleInstance::TStart::tsFirst);

  Received late;
  TSingleInstance second(name);
  EXPECT_EQ(second.ListenOrHandOver(late.Sink(), 2131), TSingleInstance::TStart::tsHandedOver);
  ASSERT_TRUE(received.WaitFor(1));
  EXPECT_EQ(received.Messages, std::vector<int>{2131});

  // The first one still owns the socket.
  TSingleInstance third(name);
  EXPECT_TRUE(third.SignalRunningInstance(7));
  ASSERT_TRUE(received.WaitFor(2));
  EXPECT_EQ(received.Messages.back(), 7);
  EXPECT_TRUE(late.Messages.empty());
}

// A socket that cannot be made (its folder is gone) leaves the program running on its own.
TEST(SingleInstanceTest, StartWithoutASocketRunsAlone) {
  const QString name = QStringLiteral("no-such-folder/") + UniqueName();
  TSingleInstance alone(name);
  EXPECT_EQ(alone.ListenOrHandOver([](int) {}, 2131), TSingleInstance::TStart::tsAlone);
}

TEST(SingleInstanceTest, NobodyListeningMeansNoInstanceRuns) {
  const QString name = UniqueName();
  TSingleInstance alone(name);
  EXPECT_FALSE(alone.SignalRunningInstance(2131));
  EXPECT_FALSE(QFileInfo::exists(TSingleInstance::SocketPath(name)));

  // Once the first instance has gone, a later start runs again.
  {
    TSingleInstance first(name);
    ASSERT_TRUE(first.Listen([](int) {}));
    EXPECT_TRUE(alone.SignalRunningInstance(2131));
  }
  EXPECT_FALSE(alone.SignalRunningInstance(2131));
}

TEST(SingleInstanceTest, SocketLeftByACrashIsReplaced) {
  const QString name = UniqueName();
  LeaveStaleSocket(TSingleInstance::SocketPath(name));
  TSingleInstance late(name);
  EXPECT_FALSE(late.SignalRunningInstance(2131));

  Received received;
  TSingleInstance first(name);
  ASSERT_TRUE(first.Listen(received.Sink()));
  EXPECT_TRUE(late.SignalRunningInstance(2131));
  ASSERT_TRUE(received.WaitFor(1));
  EXPECT_EQ(received.Messages, std::vector<int>{2131});
}

TEST(SingleInstanceTest, GarbageIsIgnoredAndTheInstanceListensOn) {
  const QString name = UniqueName();
  const QString path = TSingleInstance::SocketPath(name);
  Received received;
  TSingleInstance first(name);
  ASSERT_TRUE(first.Listen(received.Sink()));

  SendRaw(path, "hello\n");
  SendRaw(path, "21x31\n");
  SendRaw(path, "\n");
  SendRaw(path, QByteArray(100000, '7'));  // no line end, and far too long for a number
  SendRaw(path, QByteArray("\xff\xfe\x00\x01", 4));
  {
    // A client that connects and says nothing.
    QLocalSocket silent;
    silent.connectToServer(path);
    ASSERT_TRUE(silent.waitForConnected(kWaitMs));
    silent.abort();
  }
  // Two messages on one connection both count; the last needs no line end.
  SendRaw(path, "5\n 2131");
  ASSERT_TRUE(received.WaitFor(2));
  TSingleInstance second(name);
  EXPECT_TRUE(second.SignalRunningInstance(9));
  ASSERT_TRUE(received.WaitFor(3));
  EXPECT_EQ(received.Messages, (std::vector<int>{5, 2131, 9}));
}

QProcessEnvironment ProgramEnvironment(const QString& runtime, const QString& config) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", runtime);
  env.insert("XDG_CONFIG_HOME", config);
  return env;
}

// Runs the program to its end; its exit code, -1 when it did not end in time (it is then
// killed).
int RunToEnd(QProcess& program, const QStringList& arguments = {}) {
  program.start(QStringLiteral(MELVANTO_PROGRAM), arguments);
  if (!program.waitForStarted(kWaitMs)) return -1;
  // Serving events meanwhile: the instance the program talks to may be this process.
  if (!QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, kWaitMs * 2)) {
    program.kill();
    program.waitForFinished(kWaitMs);
    return -1;
  }
  return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

TEST(SingleInstanceTest, SecondStartOfTheProgramRestoresTheFirstAndEnds) {
  // This process is the first instance, under the name the program looks for.
  Received received;
  TSingleInstance first(QString::fromLatin1(gui::kWindowClassName));
  ASSERT_TRUE(first.Listen(received.Sink()));

  TempDir config;
  QProcess program;
  program.setProcessEnvironment(
      ProgramEnvironment(qEnvironmentVariable("XDG_RUNTIME_DIR"), QString::fromStdString(config.String())));
  EXPECT_EQ(RunToEnd(program), 0) << program.readAllStandardError().toStdString();
  ASSERT_TRUE(received.WaitFor(1));
  EXPECT_EQ(received.Messages, std::vector<int>{2131});
  // It ended before its window was made: no settings were loaded or written.
  EXPECT_TRUE(std::filesystem::is_empty(config.Path()));
}

TEST(SingleInstanceTest, WithoutADisplayTheProgramSaysSoInOneLineAndEnds) {
  TempDir config;
  QProcessEnvironment env =
      ProgramEnvironment(qEnvironmentVariable("XDG_RUNTIME_DIR"), QString::fromStdString(config.String()));
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(QString::fromLatin1(name));
  QProcess program;
  program.setProcessEnvironment(env);
  EXPECT_EQ(RunToEnd(program), 1);
  const QString err = QString::fromUtf8(program.readAllStandardError());
  EXPECT_TRUE(err.startsWith(QStringLiteral("melvanto: no display")) && err.count(QLatin1Char('\n')) == 1)
      << err.toStdString();
}

TEST(SingleInstanceTest, TwoStartsOfTheProgramLeaveOneRunning) {
  TempDir runtime, config;
  const QString runtimePath = QString::fromStdString(runtime.String());
  const QString socket = QDir(runtimePath).filePath(QString::fromLatin1(gui::kWindowClassName));
  const QProcessEnvironment env = ProgramEnvironment(runtimePath, QString::fromStdString(config.String()));
  // A socket left by a crash must not stop the first start.
  LeaveStaleSocket(socket);

  QProcess first;
  first.setProcessEnvironment(env);
  first.start(QStringLiteral(MELVANTO_PROGRAM), {});
  ASSERT_TRUE(first.waitForStarted(kWaitMs));
  const auto listening = [&] {
    QLocalSocket probe;
    probe.connectToServer(socket);
    return probe.waitForConnected(1000);
  };
  const bool up = QTest::qWaitFor([&] { return first.state() != QProcess::Running || listening(); }, kWaitMs * 2);
  ASSERT_TRUE(up && first.state() == QProcess::Running) << first.readAllStandardError().toStdString();

  QProcess second;
  second.setProcessEnvironment(env);
  EXPECT_EQ(RunToEnd(second), 0) << second.readAllStandardError().toStdString();
  // The first one goes on running.
  EXPECT_EQ(first.state(), QProcess::Running);
  first.kill();
  first.waitForFinished(kWaitMs);
}

TEST(SingleInstanceTest, NamedPathsAreMadeAbsoluteFromTheStartingFolder) {
  EXPECT_EQ(gui::AbsolutePaths({"a.wav", "", "sub/b c.wav", "/abs/d.wav", "../up.wav"}, "/music/x y"),
            (std::vector<std::string>{"/music/x y/a.wav", "/music/x y/sub/b c.wav", "/abs/d.wav",
                                      "/music/x y/../up.wav"}));
  EXPECT_EQ(gui::AbsolutePaths({"a.wav"}, "/"), std::vector<std::string>{"/a.wav"});
}

// "melvanto a.wav b.wav" started in a folder, with a name holding a space, a line end, bytes
// that are not UTF-8.
TEST(SingleInstanceTest, LaterStartHandsItsPathsOverWhole) {
  const QString name = UniqueName();
  Received received;
  TSingleInstance first(name);
  ReceivedPaths paths(first);
  ASSERT_TRUE(first.Listen(received.Sink()));

  TSingleInstance second(name);
  const std::vector<std::string> named =
      gui::AbsolutePaths({"a b.wav", "new\nline.wav", "\xff\xfe.wav", "/x/\n"}, "/music/live");
  EXPECT_TRUE(second.HandOver(2131, named));
  ASSERT_TRUE(paths.WaitFor(1));
  EXPECT_EQ(paths.Lists[0], (std::vector<std::string>{"/music/live/a b.wav", "/music/live/new\nline.wav",
                                                      "/music/live/\xff\xfe.wav", "/x/\n"}));

  // A start without paths restores only.
  EXPECT_TRUE(second.HandOver(2131, {}));
  ASSERT_TRUE(received.WaitFor(1));
  EXPECT_EQ(received.Messages, std::vector<int>{2131});
  EXPECT_EQ(paths.Lists.size(), 1u);
}

TEST(SingleInstanceTest, BadOrCutPathMessagesAreIgnored) {
  const QString name = UniqueName();
  const QString path = TSingleInstance::SocketPath(name);
  Received received;
  TSingleInstance first(name);
  ReceivedPaths paths(first);
  ASSERT_TRUE(first.Listen(received.Sink()));

  SendRaw(path, QByteArray("paths 14\n/a.wav\0", 16));           // the client left before the end
  SendRaw(path, QByteArray("paths 6\n/a.wav", 14));              // no NUL after the last
  SendRaw(path, QByteArray("paths 8\n/a.wav\0\0", 16) + "8\n");  // an empty one
  SendRaw(path, QByteArray("paths 6\na.wav\0", 14));             // relative
  SendRaw(path, "paths 0\n");
  SendRaw(path, "paths -6\n/a.wav");
  SendRaw(path, "paths 99999999999\n");
  SendRaw(path, "paths six\n/a.wav");
  SendRaw(path, "paths 6");
  // Bodies have a length: a message after a bad body is read as it comes.
  SendRaw(path, QByteArray("paths 6\n/a.wav", 14) + QByteArray("paths 3\n/b\0", 11));
  // Well-formed messages, a number after the paths on one connection.
  SendRaw(path, QByteArray("paths 8\n/a\0/b\nc\0", 16) + "5\n");
  ASSERT_TRUE(received.WaitFor(2));
  TSingleInstance second(name);
  EXPECT_TRUE(second.SendPaths({"/ok.wav"}));
  ASSERT_TRUE(paths.WaitFor(3));
  EXPECT_EQ(paths.Lists, (std::vector<std::vector<std::string>>{{"/b"}, {"/a", "/b\nc"}, {"/ok.wav"}}));
  // The 8 after the empty path came with the broken message, the 5 after a good one.
  EXPECT_EQ(received.Messages, (std::vector<int>{8, 5}));
}

TEST(SingleInstanceTest, SecondStartOfTheProgramHandsOverItsFilesAbsolute) {
  Received received;
  TSingleInstance first(QString::fromLatin1(gui::kWindowClassName));
  ReceivedPaths paths(first);
  ASSERT_TRUE(first.Listen(received.Sink()));

  TempDir config, folder;
  QProcess program;
  program.setProcessEnvironment(
      ProgramEnvironment(qEnvironmentVariable("XDG_RUNTIME_DIR"), QString::fromStdString(config.String())));
  program.setWorkingDirectory(QString::fromStdString(folder.String()));
  // Enough names that they arrive in pieces.
  QStringList arguments = {"a.wav", "sub/b c.wav", "/abs/d.wma"};
  for (int i = 0; i < 2000; ++i) arguments << QString(150, QChar('a' + i % 26)) + QString::number(i) + ".mp3";
  EXPECT_EQ(RunToEnd(program, arguments), 0) << program.readAllStandardError().toStdString();
  ASSERT_TRUE(paths.WaitFor(1));
  const std::string cwd = std::filesystem::canonical(folder.Path()).string();
  std::vector<std::string> expected;
  for (const QString& argument : arguments)
    expected.push_back(argument.startsWith('/') ? argument.toStdString()
                                                : cwd + "/" + argument.toStdString());
  EXPECT_EQ(paths.Lists[0], expected);
  EXPECT_TRUE(received.Messages.empty()) << "the files stand for the restore message";
}

}  // namespace
}  // namespace melvanto::testing
