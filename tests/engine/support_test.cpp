// The engine's support pieces: streams, the main-thread hand-over, components.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "au_exception.h"
#include "component.h"
#include "file_stream.h"
#include "main_thread.h"
#include "stream.h"
#include "wide_name.h"
#include "temp_dir.h"

namespace melvanto::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// ---- TMemoryStream ----

TEST(StreamTest, ReadStopsAtEndAndBeyondIt) {
  TMemoryStream s(Bytes{1, 2, 3, 4, 5, 6});
  std::uint8_t buf[8] = {};
  EXPECT_EQ(s.Read(buf, 4), 4);
  EXPECT_EQ(s.Read(buf, 8), 2);  // only what is left
  EXPECT_EQ(buf[0], 5);
  EXPECT_EQ(buf[1], 6);
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Read(buf, -1), 0);
  s.SetPosition(20);  // past the end is a legal position that reads nothing
  EXPECT_EQ(s.Read(buf, 8), 0);
  EXPECT_EQ(s.Position(), 20);
}

TEST(StreamTest, WriteOverwritesExtendsAndZeroFillsGaps) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(6);
  s.WriteBuffer("z", 1);
  EXPECT_EQ(s.Bytes(), (Bytes{'a', 'b', 'c', 0, 0, 0, 'z'}));
  s.SetPosition(1);
  EXPECT_EQ(s.Write("XY", 2), 2);
  EXPECT_EQ(s.Position(), 3);
  EXPECT_EQ(s.Bytes(), (Bytes{'a', 'X', 'Y', 0, 0, 0, 'z'}));
}

TEST(StreamTest, SeekOriginsAndSizeKeepsPosition) {
  TMemoryStream s(Bytes(10));
  EXPECT_EQ(s.Seek(3, TSeekOrigin::soBeginning), 3);
  EXPECT_EQ(s.Seek(2, TSeekOrigin::soCurrent), 5);
  EXPECT_EQ(s.Seek(-4, TSeekOrigin::soEnd), 6);
  EXPECT_EQ(s.Seek(5, TSeekOrigin::soEnd), 15);
  EXPECT_EQ(s.Size(), 10);
  EXPECT_EQ(s.Position(), 15);
}

TEST(StreamTest, SeekBeforeStartRaisesAndLeavesPosition) {
  TMemoryStream s(Bytes(10));
  s.SetPosition(4);
  EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), EAuException);
  EXPECT_THROW(s.Seek(-5, TSeekOrigin::soCurrent), EAuException);
  EXPECT_THROW(s.Seek(-11, TSeekOrigin::soEnd), EAuException);
  EXPECT_EQ(s.Position(), 4);
  EXPECT_EQ(s.Seek(-4, TSeekOrigin::soCurrent), 0);
}

TEST(StreamTest, SetSizeClampsPositionAndRegrowsWithZeros) {
  TMemoryStream s(Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  s.SetPosition(8);
  s.SetSize(5);
  EXPECT_EQ(s.Position(), 5);
  std::uint8_t b = 0;
  EXPECT_EQ(s.Read(&b, 1), 0);
  s.SetSize(8);  // the cut bytes must not come back
  EXPECT_EQ(s.Bytes(), (Bytes{1, 2, 3, 4, 5, 0, 0, 0}));
  EXPECT_EQ(s.Position(), 5);
  EXPECT_THROW(s.SetSize(-1), EAuException);
  EXPECT_EQ(s.Size(), 8);
}

// Accepts at most room bytes in all, like a full device.
class CappedStream : public TMemoryStream {
 public:
  explicit CappedStream(std::int64_t room) : room_(room) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    return TMemoryStream::Write(buffer, std::min(count, room_ - Position()));
  }

 private:
  std::int64_t room_;
};

TEST(StreamTest, WholeBufferTransfersRaiseOnShortOrNegativeCounts) {
  TMemoryStream in(Bytes{1, 2, 3});
  std::uint8_t buf[4] = {};
  EXPECT_NO_THROW(in.ReadBuffer(buf, 0));
  EXPECT_NO_THROW(in.ReadBuffer(buf, 2));
  EXPECT_THROW(in.ReadBuffer(buf, 2), EAuException);  // one byte left
  EXPECT_THROW(in.ReadBuffer(buf, -1), EAuException);

  CappedStream out(3);
  EXPECT_NO_THROW(out.WriteBuffer("ab", 2));
  EXPECT_THROW(out.WriteBuffer("cd", 2), EAuException);
  EXPECT_THROW(out.WriteBuffer("", -1), EAuException);
}

// ---- TAuFileStream ----

class FileStreamTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::u16string Name(const std::string& name) const { return Utf8ToUtf16(Path(name)); }

  void Put(const std::string& name, const std::string& content) const {
    const int fd = ::open(Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
  }
  std::string Get(const std::string& name) const {
    std::string out;
    const int fd = ::open(Path(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<missing>";
    char buf[256];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, n);
    ::close(fd);
    return out;
  }
  // Directory entries as raw bytes, the way the system hands them out.
  std::vector<std::string> Entries() const {
    std::vector<std::string> out;
    DIR* d = ::opendir(dir_.c_str());
    while (dirent* e = d ? ::readdir(d) : nullptr)
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) out.push_back(e->d_name);
    if (d) ::closedir(d);
    return out;
  }
  static std::string ReadAll(TStream& s) {
    std::string out(static_cast<std::size_t>(s.Size() - s.Position()), '\0');
    s.ReadBuffer(out.data(), static_cast<std::int64_t>(out.size()));
    return out;
  }

  TempDir tmp_;
  std::string dir_ = tmp_.String();
};

TEST_F(FileStreamTest, CreateModeMakesOrEmptiesFileForReadWrite) {
  {
    TAuFileStream s(Name("new.raw"), kFileModeCreate);
    EXPECT_EQ(s.Size(), 0);
    s.WriteBuffer("abcdef", 6);
    s.SetPosition(2);
    EXPECT_EQ(ReadAll(s), "cdef");
  }
  EXPECT_EQ(Get("new.raw"), "abcdef");

  Put("old.raw", "previous contents");
  {
    TAuFileStream s(Name("old.raw"), kFileModeCreate);
    EXPECT_EQ(s.Size(), 0);
    s.WriteBuffer("xy", 2);
  }
  EXPECT_EQ(Get("old.raw"), "xy");
}

// Creating never goes through a link: what it points at, existing or not, is left alone.
TEST_F(FileStreamTest, CreateModeRefusesALinkAtTheName) {
  Put("target.raw", "kept");
  ASSERT_EQ(::symlink((dir_ + "/target.raw").c_str(), (dir_ + "/link.raw").c_str()), 0);
  ASSERT_EQ(::symlink((dir_ + "/nowhere.raw").c_str(), (dir_ + "/dangling.raw").c_str()), 0);
  EXPECT_THROW(TAuFileStream(Name("link.raw"), kFileModeCreate), EAuException);
  EXPECT_THROW(TAuFileStream(Name("dangling.raw"), kFileModeCreate), EAuException);
  EXPECT_EQ(Get("target.raw"), "kept");
  EXPECT_EQ(::access((dir_ + "/nowhere.raw").c_str(), F_OK), -1);
}

TEST_F(FileStreamTest, AccessModesAllowOnlyWhatTheyNameAndKeepContents) {
  Put("f.raw", "0123456789");
  {
    TAuFileStream s(Name("f.raw"), kFileModeRead | kFileShareDenyWrite);
    EXPECT_EQ(s.ShareMode(), kFileShareDenyWrite);
    EXPECT_EQ(ReadAll(s), "0123456789");
    EXPECT_THROW(s.WriteBuffer("x", 1), EAuException);
  }
  {
    TAuFileStream s(Name("f.raw"), kFileModeWrite | kFileShareDenyNone);
    EXPECT_EQ(s.ShareMode(), kFileShareDenyNone);
    EXPECT_EQ(s.Size(), 10);  // opening to write must not empty the file
    s.SetPosition(3);
    s.WriteBuffer("ab", 2);
    char c;
    EXPECT_THROW(s.Read(&c, 1), EAuException);
  }
  EXPECT_EQ(Get("f.raw"), "012ab56789");
  {
    TAuFileStream s(Name("f.raw"), kFileModeReadWrite | kFileShareExclusive);
    s.Seek(0, TSeekOrigin::soEnd);
    s.WriteBuffer("XYZ", 3);
    s.SetPosition(0);
    EXPECT_EQ(ReadAll(s), "012ab56789XYZ");
  }
}

TEST_F(FileStreamTest, MissingFileRaisesTheSystemsTextAndCreatesNothing) {
  for (std::uint16_t mode : {kFileModeRead, kFileModeWrite, kFileModeReadWrite}) {
    try {
      TAuFileStream s(Name("absent.raw"), mode);
      ADD_FAILURE() << "mode " << mode << " opened a missing file";
    } catch (const EAuException& e) {
      EXPECT_STREQ(e.what(), std::strerror(ENOENT));
      EXPECT_STREQ(e.what(), "No such file or directory");
    }
  }
  EXPECT_THROW(TAuFileStream(Name("no-dir/new.raw"), kFileModeCreate), EAuException);
  EXPECT_TRUE(Entries().empty());
}

TEST_F(FileStreamTest, AccessBitsThreeAreRefused) {
  Put("f.raw", "keep");
  EXPECT_THROW(TAuFileStream(Name("f.raw"), 0x0003), EAuException);
  EXPECT_THROW(TAuFileStream(Name("f.raw"), kFileShareDenyNone | 0x0003), EAuException);
  EXPECT_THROW(TAuFileStream(Name("other.raw"), 0x0003), EAuException);
  EXPECT_EQ(Get("f.raw"), "keep");
  EXPECT_EQ(Entries().size(), 1u);
}

TEST_F(FileStreamTest, FifoAndFolderAreRefusedWithoutHanging) {
  // Opening a FIFO for reading would wait for a writer forever.
  ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
  try {
    TAuFileStream s(Name("pipe"), kFileModeRead | kFileShareDenyWrite);
    FAIL() << "a FIFO must not open";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Not a regular file");
  }
  try {
    TAuFileStream s(Utf8ToUtf16(dir_), kFileModeRead);
    FAIL() << "a folder must not open";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), std::strerror(EISDIR));
  }
}

TEST_F(FileStreamTest, SetSizeTruncatesOrExtendsAndClampsPosition) {
  TAuFileStream s(Name("f.raw"), kFileModeCreate);
  const std::string hundred(100, 'q');
  s.WriteBuffer(hundred.data(), 100);
  s.SetSize(10);
  EXPECT_EQ(s.Size(), 10);
  EXPECT_EQ(s.Position(), 10);
  s.SetSize(14);
  EXPECT_EQ(s.Position(), 10);
  s.SetPosition(0);
  EXPECT_EQ(ReadAll(s), std::string(10, 'q') + std::string(4, '\0'));
  EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), EAuException);
}

TEST_F(FileStreamTest, NonAsciiNameReachesTheSystemAsUtf8) {
  const std::u16string name = u"Kl\u00E4nge \u97F3\u697D \U0001F3B5.wav";
  const std::u16string full = Utf8ToUtf16(dir_ + "/") + name;
  { TAuFileStream(full, kFileModeCreate).WriteBuffer("ok", 2); }
  EXPECT_EQ(Entries(),
            std::vector<std::string>{"Kl\xC3\xA4nge \xE9\x9F\xB3\xE6\xA5\xBD \xF0\x9F\x8E\xB5.wav"});
  TAuFileStream s(full, kFileModeRead);
  EXPECT_EQ(ReadAll(s), "ok");
}

TEST_F(FileStreamTest, NameThatIsNotUtf8OpensAgainByteForByte) {
  const std::string raw = "raw-\xFF-\xC3(-\xED\xA0\x80-\xC0\xAF-\xE2\x82";
  Put(raw, "data");
  const auto entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  {
    TAuFileStream s(Utf8ToUtf16(dir_ + "/" + entries[0]), kFileModeRead);
    EXPECT_EQ(ReadAll(s), "data");
  }
  // And the way back: a stream creates exactly the bytes the name stood for.
  std::filesystem::remove(Path(raw));
  { TAuFileStream(Name(raw), kFileModeCreate); }
  EXPECT_EQ(Entries(), std::vector<std::string>{raw});
}

TEST_F(FileStreamTest, PositionsBeyondFourGiB) {
  constexpr std::int64_t kFar = (std::int64_t{5} << 30) + 3;
  TAuFileStream s(Name("sparse.raw"), kFileModeCreate);
  EXPECT_EQ(s.Seek(kFar, TSeekOrigin::soBeginning), kFar);
  s.WriteBuffer("Z", 1);
  EXPECT_EQ(s.Size(), kFar + 1);
  EXPECT_GT(s.Size(), std::int64_t{4} << 30);
  EXPECT_EQ(s.Seek(-1, TSeekOrigin::soEnd), kFar);
  char c = 0;
  s.ReadBuffer(&c, 1);
  EXPECT_EQ(c, 'Z');
  EXPECT_EQ(s.Seek(-kFar, TSeekOrigin::soCurrent), 1);
  s.SetSize(kFar + 100);
  EXPECT_EQ(s.Size(), kFar + 100);
  struct stat st {};
  ASSERT_EQ(::fstat(s.Handle(), &st), 0);
  EXPECT_EQ(st.st_size, kFar + 100);
  EXPECT_LT(st.st_blocks * 512, 1 << 20) << "the gap was written out instead of left sparse";
}

// ---- the main-thread hand-over ----

// Removes any wake hook when a test ends, however it ends.
struct WakeHookGuard {
  ~WakeHookGuard() { SetMainThreadWakeHook({}); }
};

// Pumps until done() holds; the deadline only turns a hang into a failure, after which
// the queue is drained so that blocked threads can still be joined.
bool PumpFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  PumpMainThreadUntil([&] { return done() || std::chrono::steady_clock::now() > deadline; });
  if (done()) return true;
  while (!done()) CheckSynchronize(100ms);
  return false;
}

TEST(MainThreadTest, SynchronizeOnMainThreadRunsAtOnceWithoutQueuing) {
  WakeHookGuard guard;
  int wakes = 0;
  SetMainThreadWakeHook([&] { ++wakes; });
  ASSERT_TRUE(IsMainThread());
  bool ran = false;
  Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(Synchronize([] { throw EAuException("direct"); }), EAuException);
  EXPECT_EQ(wakes, 0);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(MainThreadTest, CallRunsOnMainThreadAndWorkerResumesOnlyAfterIt) {
  const auto mainId = std::this_thread::get_id();
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> events;
  bool returned = false;
  std::atomic<bool> finished{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    EXPECT_FALSE(IsMainThread());
    Synchronize([&] {
      ranOn = std::this_thread::get_id();
      std::unique_lock lock(m);
      events.push_back("call");
      // Room for an early return to show; it is expected to time out.
      cv.wait_for(lock, 50ms, [&] { return returned; });
      events.push_back("call done");
    });
    {
      std::lock_guard lock(m);
      events.push_back("returned");
      returned = true;
    }
    cv.notify_all();
    finished = true;
    WakeMainThreadWaiters();
  });
  EXPECT_TRUE(PumpFor([&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(ranOn, mainId);
  EXPECT_EQ(events, (std::vector<std::string>{"call", "call done", "returned"}));
}

struct CustomError {
  int code;
};

TEST(MainThreadTest, ExceptionFromCallIsRaisedInCallingThread) {
  std::atomic<bool> finished{false};
  int code = 0;
  std::string message;
  bool laterCallRan = false;
  std::thread worker([&] {
    try {
      Synchronize([] { throw CustomError{42}; });
    } catch (const CustomError& e) {
      code = e.code;
    }
    try {
      Synchronize([] { throw EAuException("from main"); });
    } catch (const EAuException& e) {
      message = e.what();
    }
    Synchronize([&] { laterCallRan = true; });
    finished = true;
    WakeMainThreadWaiters();
  });
  EXPECT_TRUE(PumpFor([&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(code, 42);
  EXPECT_EQ(message, "from main");
  EXPECT_TRUE(laterCallRan);
}

// The event-loop pattern: the hook wakes the loop, the loop runs CheckSynchronize.
TEST(MainThreadTest, WakeHookFiresOncePerQueuedCallFromQueuingThread) {
  WakeHookGuard guard;
  constexpr int kCalls = 20;
  std::mutex m;
  std::condition_variable cv;
  int wakes = 0;
  bool workerDone = false;
  std::thread::id hookThread;
  SetMainThreadWakeHook([&] {
    {
      std::lock_guard lock(m);
      ++wakes;
      hookThread = std::this_thread::get_id();
    }
    cv.notify_all();
  });
  int ran = 0;
  std::thread worker([&] {
    for (int i = 0; i < kCalls; ++i) Synchronize([&] { ++ran; });
    {
      std::lock_guard lock(m);
      workerDone = true;
    }
    cv.notify_all();
  });
  const auto workerId = worker.get_id();
  for (int handled = 0;;) {
    std::unique_lock lock(m);
    if (!cv.wait_for(lock, 60s, [&] { return wakes > handled || workerDone; })) {
      ADD_FAILURE() << "no wake for a queued call";
      break;
    }
    if (wakes == handled) break;  // the worker is done
    handled = wakes;
    lock.unlock();
    EXPECT_TRUE(CheckSynchronize());
  }
  PumpFor([&] {
    std::lock_guard lock(m);
    return workerDone;
  });
  worker.join();
  EXPECT_EQ(ran, kCalls);
  EXPECT_EQ(wakes, kCalls);
  EXPECT_EQ(hookThread, workerId);

  SetMainThreadWakeHook({});
  std::atomic<bool> finished{false};
  std::thread again([&] {
    Synchronize([] {});
    finished = true;
    WakeMainThreadWaiters();
  });
  PumpFor([&] { return finished.load(); });
  again.join();
  EXPECT_EQ(wakes, kCalls);  // a removed hook stays silent
}

TEST(MainThreadTest, OtherThreadsNeverRunQueuedCalls) {
  WakeHookGuard guard;
  std::mutex m;
  std::condition_variable cv;
  bool queued = false;
  SetMainThreadWakeHook([&] {
    {
      std::lock_guard lock(m);
      queued = true;
    }
    cv.notify_all();
  });
  std::atomic<bool> ran{false};
  std::thread caller([&] { Synchronize([&] { ran = true; }); });
  {
    std::unique_lock lock(m);
    EXPECT_TRUE(cv.wait_for(lock, 60s, [&] { return queued; }));
  }
  std::thread bystander([] {
    EXPECT_FALSE(CheckSynchronize());
    PumpMainThreadUntil([] { return true; });
  });
  bystander.join();
  const bool ranElsewhere = ran.load();
  EXPECT_FALSE(ranElsewhere);
  if (!ranElsewhere) {
    EXPECT_TRUE(CheckSynchronize(60s));
  }
  EXPECT_TRUE(ran.load());
  caller.join();
}

TEST(MainThreadTest, CheckSynchronizeWaitsForACallToArrive) {
  EXPECT_FALSE(CheckSynchronize(1ms));
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    Synchronize([] {});
    finished = true;
    WakeMainThreadWaiters();
  });
  EXPECT_TRUE(CheckSynchronize(60s));  // returns as soon as the call came and ran
  PumpFor([&] { return finished.load(); });
  worker.join();
}

TEST(MainThreadTest, ManyThreadsSynchronizingAtOnceAllCompleteInOrder) {
  WakeHookGuard guard;
  constexpr int kThreads = 8, kCalls = 50;
  std::atomic<int> wakes{0}, finished{0};
  SetMainThreadWakeHook([&] { ++wakes; });
  const auto mainId = std::this_thread::get_id();
  std::vector<std::vector<int>> seen(kThreads);  // touched on the main thread only
  bool offMain = false;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i)
        Synchronize([&, t, i] {
          offMain |= std::this_thread::get_id() != mainId;
          seen[t].push_back(i);
        });
      ++finished;
      WakeMainThreadWaiters();
    });
  EXPECT_TRUE(PumpFor([&] { return finished.load() == kThreads; }));
  for (auto& th : threads) th.join();
  EXPECT_FALSE(offMain);
  EXPECT_EQ(wakes.load(), kThreads * kCalls);
  std::vector<int> expected(kCalls);
  for (int i = 0; i < kCalls; ++i) expected[i] = i;
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], expected) << "thread " << t;
}

// ---- TComponent ----

// By name: the sender is being destroyed, so its address would be a dangling pointer.
struct Notice {
  std::string receiver;
  std::string sender;
  TOperation operation;
  bool operator==(const Notice&) const = default;
};

class Recorder : public TComponent {
 public:
  Recorder(std::vector<Notice>& log, const std::string& name) : log_(log) { SetName(name); }
  std::function<void(TComponent*)> onNotice;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    log_.push_back({Name(), component->Name(), operation});
    if (onNotice) onNotice(component);
  }

 private:
  std::vector<Notice>& log_;
};

TEST(ComponentTest, DestroyingEitherNotifiesTheOtherExactlyOnce) {
  for (bool firstGoesFirst : {true, false}) {
    SCOPED_TRACE(firstGoesFirst ? "first destroyed first" : "second destroyed first");
    std::vector<Notice> log;
    auto a = std::make_unique<Recorder>(log, "a");
    auto b = std::make_unique<Recorder>(log, "b");
    a->FreeNotification(b.get());
    b->FreeNotification(a.get());  // linking again, from either side, adds nothing
    a->FreeNotification(b.get());
    auto& gone = firstGoesFirst ? a : b;
    auto& kept = firstGoesFirst ? b : a;
    const std::string goneName = gone->Name();
    const std::string keptName = kept->Name();
    gone.reset();
    EXPECT_EQ(log, (std::vector<Notice>{{keptName, goneName, TOperation::opRemove}}));
    kept.reset();  // must not reach back to the destroyed one
    EXPECT_EQ(log.size(), 1u);
  }
}

TEST(ComponentTest, RemoveFreeNotificationUnlinksBothSides) {
  std::vector<Notice> log;
  Recorder a(log, "a"), b(log, "b");
  {
    // c dies while a and b live, so a link left in c's list shows up in the log.
    Recorder c(log, "c");
    a.FreeNotification(&c);
    c.RemoveFreeNotification(&a);  // clears the remover's own list
    b.FreeNotification(&c);
    b.RemoveFreeNotification(&c);  // and the other one's
    c.FreeNotification(&c);        // self and null links mean nothing
    c.FreeNotification(nullptr);
    c.RemoveFreeNotification(nullptr);
  }
  EXPECT_TRUE(log.empty());

  auto d = std::make_unique<Recorder>(log, "d");
  a.FreeNotification(d.get());
  d->RemoveFreeNotification(&a);
  d->FreeNotification(&a);  // linked again after removal
  d.reset();
  EXPECT_EQ(log, (std::vector<Notice>{{"a", "d", TOperation::opRemove}}));
}

TEST(ComponentTest, HubNotifiesEveryLinkOnceEvenIfOneUnlinksWhileNotified) {
  std::vector<Notice> log;
  Recorder x(log, "x"), y(log, "y"), z(log, "z");
  auto hub = std::make_unique<Recorder>(log, "hub");
  for (Recorder* r : {&x, &y, &z}) hub->FreeNotification(r);
  x.onNotice = [&](TComponent* c) { x.RemoveFreeNotification(c); };
  hub.reset();
  using enum TOperation;
  EXPECT_EQ(log, (std::vector<Notice>{{"x", "hub", opRemove}, {"y", "hub", opRemove}, {"z", "hub", opRemove}}));
}

// Like an owner that frees its part when the source both follow goes away: the dying
// source must not then reach the part through the list it took before notifying.
TEST(ComponentTest, NotifiedComponentMayDestroyAnotherLinkedOne) {
  // In a child process, so that a crash fails this test alone; re-executed rather than
  // forked, since sanitizers keep threads of their own.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::vector<Notice> log;
        auto source = std::make_unique<Recorder>(log, "source");
        auto owner = std::make_unique<Recorder>(log, "owner");
        auto part = std::make_unique<Recorder>(log, "part");
        source->FreeNotification(owner.get());
        source->FreeNotification(part.get());
        owner->onNotice = [&](TComponent*) { part.reset(); };
        source.reset();
        std::exit(log.size() == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace melvanto::testing
