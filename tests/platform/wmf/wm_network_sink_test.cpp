// The network sink on its own, with plain TCP clients on the loopback address.

#include "wm_network_sink.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

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
    return changed.wait_for(lock, std::chrono::seconds(30), [&] {
      return connects >= wantedConnects && disconnects >= wantedDisconnects;
    });
  }

 private:
  std::mutex mutex;
  std::condition_variable changed;
  int connects = 0, disconnects = 0;
};

UniqueFd Connect(std::uint32_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval limit{30, 0};
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  EXPECT_EQ(::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
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

}  // namespace
}  // namespace melvanto::testing
