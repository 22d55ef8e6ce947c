#include "wm_network_sink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "unique_fd.h"

namespace melvanto::wmf {

namespace {

constexpr char kResponse[] =
    "HTTP/1.0 200 OK\r\n"
    "Server: Melvanto\r\n"
    "Content-Type: video/x-ms-asf\r\n"
    "Cache-Control: no-cache\r\n"
    "Connection: close\r\n\r\n";
constexpr char kBusy[] = "HTTP/1.0 503 Service Unavailable\r\nConnection: close\r\n\r\n";
// A client that lets this much pile up (half a minute and more of a usual stream) is too
// slow for it: it is dropped rather than let the writer wait or the memory grow. The
// system's own buffer per client is kept small for the same reason.
constexpr std::size_t kMaxPending = 1u << 20;
constexpr int kSocketBuffer = 64 * 1024;
// A player sends one request of a few hundred bytes; more than this is not a player.
constexpr std::size_t kMaxRequest = 64 * 1024;
constexpr std::size_t kMaxReadPerWake = 16 * 1024;
// How long Close waits for clients to take what is already theirs.
constexpr auto kCloseLinger = std::chrono::seconds(2);
// How long a listener out of descriptors rests when no client leaves to free one.
constexpr auto kAcceptRetry = std::chrono::seconds(1);

class TWMWriterNetworkSink final : public IWMWriterNetworkSink {
 public:
  ~TWMWriterNetworkSink() override { Close(); }

  HRESULT Advise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) override {
    return Callbacks.Advise(callback, context);
  }
  HRESULT Unadvise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) override {
    return Callbacks.Unadvise(callback, context);
  }

  HRESULT SetNetworkProtocol(std::uint32_t protocol) override { return protocol == 0 ? S_OK : E_INVALIDARG; }
  HRESULT SetMaximumClients(std::uint32_t clients) override {
    std::lock_guard lock(Lock);
    MaxClients = clients == 0 ? kDefaultMaximumClients : clients;
    return S_OK;
  }
  HRESULT GetMaximumClients(std::uint32_t* clients) override {
    if (clients == nullptr) return E_INVALIDARG;
    std::lock_guard lock(Lock);
    *clients = MaxClients;
    return S_OK;
  }

  HRESULT SetListenAddress(const std::string& address) override {
    if (Server.joinable()) return E_INVALIDARG;
    in_addr parsed{};
    if (address.empty())
      parsed.s_addr = htonl(INADDR_ANY);
    else if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1)
      return E_INVALIDARG;
    ListenAddress = parsed.s_addr;
    return S_OK;
  }

  HRESULT Open(std::uint32_t* port) override {
    if (port == nullptr || *port > 65535) return E_INVALIDARG;
    if (Server.joinable()) return NS_E_INVALID_REQUEST;
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.Valid()) return NS_E_NETWORK_BUSY;
    const int yes = 1;
    ::setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ListenAddress;
    address.sin_port = htons(static_cast<std::uint16_t>(*port));
    if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.Get(), 16) != 0) {
      if (errno == EADDRINUSE) return E_ADDRESS_IN_USE;
      if (errno == EADDRNOTAVAIL) return E_ADDRESS_NOT_AVAILABLE;
      return NS_E_NETWORK_BUSY;
    }
    socklen_t length = sizeof address;
    if (::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return NS_E_NETWORK_BUSY;
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.Valid()) return E_OUTOFMEMORY;
    *port = ntohs(address.sin_port);
    Listener = std::move(listener);
    Wake = std::move(wake);
    {
      std::lock_guard lock(Lock);
      Stopping = false;
    }
    Server = std::thread([this] { Serve(); });
    return S_OK;
  }

  HRESULT Disconnect() override {
    {
      std::lock_guard lock(Lock);
      DropAll = true;
    }
    Signal();
    return S_OK;
  }

  HRESULT Close() override {
    if (!Server.joinable()) return S_OK;
    {
      std::lock_guard lock(Lock);
      Stopping = true;
    }
    Signal();
    Server.join();
    Listener.Reset();
    Wake.Reset();
    return S_OK;
  }

  HRESULT OnBeginWriting(std::uint32_t packetSize) override {
    std::lock_guard lock(Lock);
    Header.clear();
    PacketSize = std::max<std::uint32_t>(packetSize, 1);
    DataOffset = 0;
    for (Client& c : Clients) c.Streaming = false;  // they get the new header first, not a new response
    return S_OK;
  }
  HRESULT OnHeader(const std::uint8_t* data, std::size_t size) override {
    std::lock_guard lock(Lock);
    Header.insert(Header.end(), data, data + size);
    return S_OK;
  }
  HRESULT OnDataUnit(const std::uint8_t* data, std::size_t size) override {
    {
      std::lock_guard lock(Lock);
      // A client that joins now starts at the next packet boundary in this block.
      const std::uint64_t intoPacket = DataOffset % PacketSize;
      const std::size_t boundary =
          intoPacket == 0 ? 0
                          : static_cast<std::size_t>(std::min<std::uint64_t>(PacketSize - intoPacket, size));
      for (Client& c : Clients) {
        if (!c.Streaming) {
          if (boundary >= size) continue;
          if (!c.ResponseSent)
            Queue(c, reinterpret_cast<const std::uint8_t*>(kResponse), sizeof kResponse - 1);
          c.ResponseSent = true;
          Queue(c, Header.data(), Header.size());
          Queue(c, data + boundary, size - boundary);
          c.Streaming = true;
        } else {
          Queue(c, data, size);
        }
      }
      DataOffset += size;
    }
    Signal();
    return S_OK;
  }
  HRESULT OnEndWriting() override { return S_OK; }
  bool CanSeek() const override { return false; }
  std::int64_t Seek(std::int64_t, int) override { return -1; }

 private:
  struct Client {
    UniqueFd Socket;
    WM_CLIENT_PROPERTIES Properties;
    std::vector<std::uint8_t> Pending;
    std::size_t Sent = 0;       // bytes of Pending already gone
    std::size_t Received = 0;   // bytes the client has sent
    bool Streaming = false;     // has this stream's header
    bool ResponseSent = false;  // once a connection: later streams only send their header
    bool Drop = false;
  };

  static void Queue(Client& c, const std::uint8_t* data, std::size_t size) {
    if (c.Drop) return;
    if (c.Pending.size() - c.Sent + size > kMaxPending) {
      c.Drop = true;
      return;
    }
    if (c.Sent > 0 && c.Sent == c.Pending.size()) {
      c.Pending.clear();
      c.Sent = 0;
    }
    c.Pending.insert(c.Pending.end(), data, data + size);
  }

  void Signal() {
    const std::uint64_t one = 1;
    if (Wake.Valid()) {
      [[maybe_unused]] const auto ignored = ::write(Wake.Get(), &one, sizeof one);
    }
  }

  // Sends what the socket takes now; false when the client is gone.
  static bool Flush(Client& c) {
    while (c.Sent < c.Pending.size()) {
      const ssize_t n = ::send(c.Socket.Get(), c.Pending.data() + c.Sent, c.Pending.size() - c.Sent,
                               MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        c.Sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    c.Pending.clear();
    c.Sent = 0;
    return true;
  }

  // The request and anything else a client sends is read and dropped; false at its end, or
  // when it sends more than a request. Reads are bounded per wake: this runs under Lock,
  // which the writer's thread waits on.
  static bool Drain(Client& c) {
    std::uint8_t buffer[4096];
    for (std::size_t read = 0; read < kMaxReadPerWake;) {
      const ssize_t n = ::recv(c.Socket.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        read += static_cast<std::size_t>(n);
        c.Received += static_cast<std::size_t>(n);
        if (c.Received > kMaxRequest) return false;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
  }

  // Closing a socket with unread input resets the connection, and the client then often loses
  // the reply: what it has sent so far is read first (without waiting for more).
  static void Refuse(int socket) {
    [[maybe_unused]] auto ignored = ::send(socket, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    ::shutdown(socket, SHUT_WR);
    std::uint8_t buffer[4096];
    for (std::size_t read = 0; read < kMaxRequest;) {
      const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0)
        read += static_cast<std::size_t>(n);
      else if (!(n < 0 && errno == EINTR))
        break;
    }
  }

  void Accept(std::vector<WM_CLIENT_PROPERTIES>& connected) {
    for (;;) {
      sockaddr_in peer{};
      socklen_t peerLength = sizeof peer;
      const int accepted =
          ::accept4(Listener.Get(), reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC | SOCK_NONBLOCK);
      const int error = errno;
      UniqueFd socket(accepted);
      if (!socket.Valid()) {
        // Out of descriptors the connection stays queued and the listener stays readable:
        // polling it would spin. It is tried again when a client leaves, or a little later.
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
          AcceptPaused = true;
          AcceptResume = std::chrono::steady_clock::now() + kAcceptRetry;
        }
        return;
      }
      const int yes = 1;
      ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      ::setsockopt(socket.Get(), SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
      if (Clients.size() >= MaxClients) {
        Refuse(socket.Get());
        continue;
      }
      Client& c = Clients.emplace_back();
      c.Socket = std::move(socket);
      c.Properties.dwIPAddress = ntohl(peer.sin_addr.s_addr);
      c.Properties.dwPort = ntohs(peer.sin_port);
      connected.push_back(c.Properties);
    }
  }

  void Serve() {
    std::vector<pollfd> fds;
    std::chrono::steady_clock::time_point lingerEnd{};
    bool lingering = false;
    for (;;) {
      std::vector<WM_CLIENT_PROPERTIES> connected, disconnected;
      fds.clear();
      {
        std::unique_lock lock(Lock);
        if (Stopping && !lingering) {
          lingering = true;
          lingerEnd = std::chrono::steady_clock::now() + kCloseLinger;
        }
        if (DropAll) {
          for (Client& c : Clients) c.Drop = true;
          DropAll = false;
        }
        // Gone clients leave first, so that the poll list matches the list of clients.
        for (auto it = Clients.begin(); it != Clients.end();) {
          if (it->Drop) {
            disconnected.push_back(it->Properties);
            it = Clients.erase(it);
          } else {
            ++it;
          }
        }
        if (!disconnected.empty() || std::chrono::steady_clock::now() >= AcceptResume) AcceptPaused = false;
        const bool everythingSent = std::all_of(Clients.begin(), Clients.end(),
                                                [](const Client& c) { return c.Sent == c.Pending.size(); });
        if (lingering && (everythingSent || std::chrono::steady_clock::now() >= lingerEnd)) {
          for (const Client& c : Clients) disconnected.push_back(c.Properties);
          Clients.clear();
          lock.unlock();
          ReportAll(WMT_STATUS::WMT_CLIENT_DISCONNECT, disconnected);
          return;
        }
        fds.push_back({Wake.Get(), POLLIN, 0});
        fds.push_back({Listener.Get(), static_cast<short>(lingering || AcceptPaused ? 0 : POLLIN), 0});
        for (const Client& c : Clients)
          fds.push_back(
              {c.Socket.Get(), static_cast<short>(POLLIN | (c.Sent < c.Pending.size() ? POLLOUT : 0)), 0});
      }
      ReportAll(WMT_STATUS::WMT_CLIENT_DISCONNECT, disconnected);

      int timeout = lingering ? 50 : -1;
      if (AcceptPaused && !lingering)
        timeout = static_cast<int>(std::max<std::int64_t>(
            1, std::chrono::ceil<std::chrono::milliseconds>(AcceptResume - std::chrono::steady_clock::now())
                   .count()));
      if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
      if (fds[0].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] auto ignored = ::read(Wake.Get(), &count, sizeof count);
      }
      {
        std::lock_guard lock(Lock);
        std::size_t i = 2;
        for (Client& c : Clients) {
          if (i >= fds.size()) break;  // accepted after the poll list was made
          const short events = fds[i++].revents;
          if (events & (POLLERR | POLLNVAL)) c.Drop = true;
          if (!c.Drop && (events & (POLLIN | POLLHUP)) && !Drain(c)) c.Drop = true;
          if (!c.Drop && !Flush(c)) c.Drop = true;
        }
        if (fds[1].revents & POLLIN) Accept(connected);
        // A client that joins after the header is out gets it with the next data.
      }
      ReportAll(WMT_STATUS::WMT_CLIENT_CONNECT, connected);
    }
  }

  void ReportAll(WMT_STATUS status, const std::vector<WM_CLIENT_PROPERTIES>& clients) {
    for (const WM_CLIENT_PROPERTIES& c : clients)
      Callbacks.Report(status, S_OK, WMT_ATTR_DATATYPE::WMT_TYPE_BINARY, reinterpret_cast<const std::uint8_t*>(&c));
  }

  TStatusCallbacks Callbacks;
  in_addr_t ListenAddress = htonl(INADDR_ANY);
  UniqueFd Listener;
  UniqueFd Wake;
  std::thread Server;
  // Only the server's thread uses these.
  bool AcceptPaused = false;
  std::chrono::steady_clock::time_point AcceptResume{};

  std::mutex Lock;  // guards everything below
  std::uint32_t MaxClients = kDefaultMaximumClients;
  bool Stopping = false;
  bool DropAll = false;
  std::vector<std::uint8_t> Header;
  std::uint32_t PacketSize = 1;
  std::uint64_t DataOffset = 0;
  std::list<Client> Clients;
};

}  // namespace

HRESULT WMCreateWriterNetworkSink(std::shared_ptr<IWMWriterNetworkSink>* sink) {
  if (sink == nullptr) return E_INVALIDARG;
  *sink = std::make_shared<TWMWriterNetworkSink>();
  return S_OK;
}

}  // namespace melvanto::wmf
