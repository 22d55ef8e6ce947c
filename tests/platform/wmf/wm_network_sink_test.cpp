// The network sink on its own, with plain TCP clients on the loopback address.

#include "wm_network_sink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback_client.h"
#include "unique_fd.h"

namespace melvanto::testing {
namespace {

using namespace melvanto::wmf;

// Counts client connects and disconnects, and lets the test wait for them.
class TClientEvents : public IWMStatusCallback {
 public:
  HRESULT OnStatus(WMT_STATUS Status, HRESULT, WMT_ATTR_DATATYPE, const std::uint8_t*, void*) override {
    std::lock_guard lock(mutex);
    if (Status == WMT_STATUS::WMT_CLIENT_CONNECT) ++connects;
    if (Status == WMT_STATUS::WMT_CLIENT_DISCONNECT) ++disconnects;
    changed.notify_all();
    return S_OK;
  }
  // The limit is only a safety net: a broken sink fails the test instead of hanging it.
  bool WaitFor(int wantedConnects, int wantedDisconnects) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30),
                            [&] { return connects >= wantedConnects && disconnects >= wantedDisconnects; });
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  int connects = 0, disconnects = 0;
};

UniqueFd Connect(std::uint32_t port) {
  UniqueFd fd = ConnectToLoopback(port);
  EXPECT_TRUE(fd.Valid());
  return fd;
}

struct OpenSink {
  std::shared_ptr<IWMWriterNetworkSink> sink;
  std::shared_ptr<TClientEvents> events = std::make_shared<TClientEvents>();
  std::uint32_t port = 0;
  OpenSink() {
    EXPECT_EQ(WMCreateWriterNetworkSink(&sink), S_OK);
    sink->Advise(events, nullptr);
    EXPECT_EQ(sink->Open(&port), S_OK);
  }
  ~OpenSink() { sink->Close(); }
};

TEST(WmNetworkSink, AClientThatKeepsSendingIsDropped) {
  OpenSink s;
  UniqueFd client = Connect(s.port);
  ASSERT_TRUE(s.events->WaitFor(1, 0));
  // Far more than any request: the sink stops reading it and lets the client go.
  const std::string chunk(4096, 'x');
  for (int i = 0; i < 64; ++i)
    if (::send(client.Get(), chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) break;
  EXPECT_TRUE(s.events->WaitFor(1, 1));
}

std::string ReadToEnd(int fd) {
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
    out.append(buffer, static_cast<std::size_t>(n));
  return out;
}

void Deliver(IWMWriterNetworkSink& sink, const std::string& header, const std::string& data) {
  ASSERT_EQ(sink.OnBeginWriting(4), S_OK);
  ASSERT_EQ(sink.OnHeader(reinterpret_cast<const std::uint8_t*>(header.data()), header.size()), S_OK);
  ASSERT_EQ(sink.OnDataUnit(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), S_OK);
  ASSERT_EQ(sink.OnEndWriting(), S_OK);
}

TEST(WmNetworkSink, ASecondStreamGivesAConnectedClientItsHeaderButNoSecondResponse) {
  OpenSink s;
  UniqueFd client = Connect(s.port);
  ASSERT_TRUE(s.events->WaitFor(1, 0));
  Deliver(*s.sink, "H1", "AAAA");
  Deliver(*s.sink, "H2", "BBBB");
  s.sink->Close();  // delivers what is queued, then lets the client go
  const std::string got = ReadToEnd(client.Get());
  const auto body = got.find("\r\n\r\n");
  ASSERT_NE(body, std::string::npos) << got;
  EXPECT_EQ(got.substr(0, 15), "HTTP/1.0 200 OK");
  EXPECT_EQ(got.substr(body + 4), "H1AAAAH2BBBB");
}

std::set<std::string> Threads() {
  std::set<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ids.insert(entry.path().filename().string());
  return ids;
}

// A thread's processor time in clock ticks, read again from a file opened beforehand.
long CpuTicks(int statFile) {
  char text[1024] = {};
  if (::pread(statFile, text, sizeof text - 1, 0) <= 0) return -1;
  // The fields after the name in parentheses; utime and stime are the 12th and 13th of them.
  // Parsed by hand: no stream objects while the descriptor limit is down.
  const char* p = std::strrchr(text, ')');
  if (p == nullptr) return -1;
  long utime = 0, stime = 0;
  for (int i = 0; i <= 13 && *p != 0; ++i) {
    while (*p != 0 && *p != ' ') ++p;  // to the end of this field
    while (*p == ' ') ++p;             // to the start of field i + 1
    if (i + 1 == 12) utime = std::atol(p);
    if (i + 1 == 13) stime = std::atol(p);
  }
  return utime + stime;
}

TEST(WmNetworkSink, OutOfDescriptorsTheListenerRestsUntilAClientLeaves) {
  const auto before = Threads();
  OpenSink s;
  std::string server;
  for (const auto& id : Threads())
    if (!before.count(id)) server = id;
  ASSERT_FALSE(server.empty());
  UniqueFd stat(::open(("/proc/self/task/" + server + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(stat.Valid());

  UniqueFd first = Connect(s.port);
  ASSERT_TRUE(s.events->WaitFor(1, 0));
  UniqueFd second(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  // From here on no descriptor can be made: every number below the limit is taken.
  UniqueFd probe(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(probe.Valid());
  const rlim_t lowestFree = static_cast<rlim_t>(probe.Get());
  probe.Reset();
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = lowestFree;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  struct Restore {
    rlimit limit;
    ~Restore() { ::setrlimit(RLIMIT_NOFILE, &limit); }
  } restore{old};

  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(s.port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(second.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  // A spinning server burns a second of processor time in about a second; a resting one
  // none. Load can only make a spinning one look idle, never the other way round.
  const long start = CpuTicks(stat.Get());
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < end && CpuTicks(stat.Get()) - start < ticksPerSecond / 2)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_LT(CpuTicks(stat.Get()) - start, ticksPerSecond / 4);

  // With a descriptor free again, the waiting client is taken when the first one leaves.
  ::setrlimit(RLIMIT_NOFILE, &old);
  first.Reset();
  EXPECT_TRUE(s.events->WaitFor(2, 1));
}

TEST(WmNetworkSink, ARefusedClientGetsTheBusyReplyAndAnOrderlyEnd) {
  OpenSink s;
  ASSERT_EQ(s.sink->SetMaximumClients(1), S_OK);
  UniqueFd first = Connect(s.port);
  ASSERT_TRUE(s.events->WaitFor(1, 0));
  UniqueFd second(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const timeval limit{30, 0};
  ::setsockopt(second.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  {
    // Out of descriptors, the sink takes the connection only once its request is there (when
    // the listener's rest ends), so the refusal always meets unread input.
    UniqueFd probe(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(probe.Valid());
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(probe.Get());
    probe.Reset();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(s.port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(second.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    const std::string request = "GET / HTTP/1.0\r\nUser-Agent: test\r\n\r\n";
    const bool sent = connected && ::send(second.Get(), request.data(), request.size(), MSG_NOSIGNAL) ==
                                       ssize_t(request.size());
    ::setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_TRUE(sent);
  }
  std::string reply;
  char buffer[4096];
  ssize_t n;
  while ((n = ::recv(second.Get(), buffer, sizeof buffer, 0)) > 0)
    reply.append(buffer, static_cast<std::size_t>(n));
  const int error = n < 0 ? errno : 0;
  EXPECT_EQ(reply.substr(0, 12), "HTTP/1.0 503");
  EXPECT_EQ(n, 0) << std::strerror(error);  // a FIN, not a reset
}


// Records who each connect and disconnect report is about.
class TClientLog : public IWMStatusCallback {
 public:
  HRESULT OnStatus(WMT_STATUS Status, HRESULT, WMT_ATTR_DATATYPE Type, const std::uint8_t* Value, void*) override {
    std::lock_guard lock(mutex);
    WM_CLIENT_PROPERTIES client;
    if (Type == WMT_ATTR_DATATYPE::WMT_TYPE_BINARY && Value != nullptr) std::memcpy(&client, Value, sizeof client);
    (Status == WMT_STATUS::WMT_CLIENT_CONNECT ? connects : disconnects).push_back(client);
    changed.notify_all();
    return S_OK;
  }
  bool WaitFor(std::size_t wantedConnects, std::size_t wantedDisconnects) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30), [&] {
      return connects.size() >= wantedConnects && disconnects.size() >= wantedDisconnects;
    });
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<WM_CLIENT_PROPERTIES> connects, disconnects;
};

// The address a connected socket has on this end.
std::pair<std::uint32_t, std::uint32_t> LocalEnd(int fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length), 0);
  return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
}

TEST(WmNetworkSink, EachReportNamesItsClientsAddressAndPort) {
  std::shared_ptr<IWMWriterNetworkSink> sink;
  ASSERT_EQ(WMCreateWriterNetworkSink(&sink), S_OK);
  auto log = std::make_shared<TClientLog>();
  sink->Advise(log, nullptr);
  std::uint32_t port = 0;
  ASSERT_EQ(sink->Open(&port), S_OK);
  UniqueFd first = Connect(port);
  ASSERT_TRUE(log->WaitFor(1, 0));
  UniqueFd second = Connect(port);
  ASSERT_TRUE(log->WaitFor(2, 0));
  const auto firstEnd = LocalEnd(first.Get()), secondEnd = LocalEnd(second.Get());
  // The one that leaves is told apart from the one that stays.
  second.Reset();
  ASSERT_TRUE(log->WaitFor(2, 1));
  sink->Close();
  ASSERT_TRUE(log->WaitFor(2, 2));
  std::lock_guard lock(log->mutex);
  EXPECT_EQ(log->connects[0].dwIPAddress, firstEnd.first);
  EXPECT_EQ(log->connects[0].dwPort, firstEnd.second);
  EXPECT_EQ(log->connects[1].dwPort, secondEnd.second);
  EXPECT_EQ(log->disconnects[0].dwPort, secondEnd.second);
  EXPECT_EQ(log->disconnects[1].dwPort, firstEnd.second);
}

// Whether a TCP connection to address:port is taken.
bool Accepts(const char* address, std::uint32_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, address, &a.sin_addr);
  return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

TEST(WmNetworkSink, AListenAddressLimitsWhoCanConnect_AndBadOnesAreRefused) {
  std::shared_ptr<IWMWriterNetworkSink> sink;
  ASSERT_EQ(WMCreateWriterNetworkSink(&sink), S_OK);
  for (const char* bad : {"localhost", "127.0.0", "::1", "127.0.0.1 "})
    EXPECT_EQ(sink->SetListenAddress(bad), E_INVALIDARG) << bad;
  // Every 127.x.y.z is this machine's loopback; only the one listened on answers.
  ASSERT_EQ(sink->SetListenAddress("127.0.0.1"), S_OK);
  std::uint32_t port = 0;
  ASSERT_EQ(sink->Open(&port), S_OK);
  EXPECT_EQ(sink->SetListenAddress(""), E_INVALIDARG) << "not while open";
  EXPECT_TRUE(Accepts("127.0.0.1", port));
  EXPECT_FALSE(Accepts("127.0.0.2", port));

  // The same port again, and an address that is not this machine's (only bound, never sent to).
  std::shared_ptr<IWMWriterNetworkSink> other;
  ASSERT_EQ(WMCreateWriterNetworkSink(&other), S_OK);
  ASSERT_EQ(other->SetListenAddress("127.0.0.1"), S_OK);
  std::uint32_t same = port;
  EXPECT_EQ(other->Open(&same), E_ADDRESS_IN_USE);
  ASSERT_EQ(other->SetListenAddress("192.0.2.1"), S_OK);
  std::uint32_t any = 0;
  EXPECT_EQ(other->Open(&any), E_ADDRESS_NOT_AVAILABLE);
  // Empty is every address again.
  ASSERT_EQ(other->SetListenAddress(""), S_OK);
  ASSERT_EQ(other->Open(&any), S_OK);
  EXPECT_TRUE(Accepts("127.0.0.2", any));
  other->Close();
  sink->Close();
}

}  // namespace
}  // namespace melvanto::testing
