#pragma once

// A plain TCP client of a server on this machine's loopback address, for tests of what our
// servers send.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "unique_fd.h"

namespace melvanto::testing {

// A socket connected to port on the loopback address; invalid when the connect failed. A
// receiveBuffer above 0 sets the system's buffer, to make a client that falls behind.
inline UniqueFd ConnectToLoopback(std::uint32_t port, int receiveBuffer = 0) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (receiveBuffer > 0) ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Only a safety net: a broken server fails the test instead of hanging it.
  const timeval limit{30, 0};
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fd.Reset();
  return fd;
}

class TLoopbackClient {
 public:
  explicit TLoopbackClient(std::uint32_t port, int receiveBuffer = 0)
      : fd_(ConnectToLoopback(port, receiveBuffer)) {}
  bool Connected() const { return fd_.Valid(); }
  // Whether all of text went out.
  bool Send(const std::string& text) {
    return ::send(fd_.Get(), text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // Reads until n bytes have come or the server closes.
  std::string Read(std::size_t n) {
    std::string out;
    char buffer[4096];
    while (out.size() < n) {
      const ssize_t got = ::recv(fd_.Get(), buffer, std::min(sizeof buffer, n - out.size()), 0);
      if (got <= 0) break;
      out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
  }
  void Close() { fd_.Reset(); }

 private:
  UniqueFd fd_;
};

// A socket that listens on a port the system chose, for tests of a port already taken.
class TListeningSocket {
 public:
  explicit TListeningSocket(in_addr_t address = htonl(INADDR_LOOPBACK))
      : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    socklen_t length = sizeof a;
    if (::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_.Get(), 1) == 0 &&
        ::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&a), &length) == 0)
      port_ = ntohs(a.sin_port);
  }
  // 0 when it could not listen.
  std::uint32_t Port() const { return port_; }

 private:
  UniqueFd fd_;
  std::uint32_t port_ = 0;
};

}  // namespace melvanto::testing
