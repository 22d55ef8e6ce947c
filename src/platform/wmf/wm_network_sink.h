#pragma once

// The runtime's network sink: serves the writer's ASF stream over HTTP on a TCP port to any
// number of clients up to a limit. Each client gets an HTTP response header, the ASF header
// and then the data packets from the next whole packet on. Client connects and disconnects
// are reported to the registered callbacks (37, 38) on the sink's own thread, each with the
// client's WM_CLIENT_PROPERTIES as its value (WMT_TYPE_BINARY).

#include <cstdint>
#include <memory>
#include <string>

#include "wm_writer.h"

namespace melvanto::wmf {

// Who a connect or disconnect report is about: IPv4 address and port in host byte order.
struct WM_CLIENT_PROPERTIES {
  std::uint32_t dwIPAddress = 0;
  std::uint32_t dwPort = 0;
};

class IWMWriterNetworkSink : public IWMWriterSink, public IWMRegisterCallback {
 public:
  // 0 is the only protocol: HTTP.
  virtual HRESULT SetNetworkProtocol(std::uint32_t protocol) = 0;
  virtual HRESULT SetMaximumClients(std::uint32_t clients) = 0;
  virtual HRESULT GetMaximumClients(std::uint32_t* clients) = 0;
  // The IPv4 address Open listens on, dotted ("127.0.0.1"); empty, the default, is every
  // interface. E_INVALIDARG for anything else, and while open.
  virtual HRESULT SetListenAddress(const std::string& address) = 0;
  // *port 0 picks a free port, and the port taken goes to *port. E_ADDRESS_IN_USE when
  // another socket has the port, E_ADDRESS_NOT_AVAILABLE for an address not of this machine.
  virtual HRESULT Open(std::uint32_t* port) = 0;
  // Drops every client; the sink keeps listening.
  virtual HRESULT Disconnect() = 0;
  // Stops listening, delivers what clients still wait for (briefly), then drops them.
  virtual HRESULT Close() = 0;
};

// The runtime's default limit of clients.
constexpr std::uint32_t kDefaultMaximumClients = 5;

HRESULT WMCreateWriterNetworkSink(std::shared_ptr<IWMWriterNetworkSink>* sink);

}  // namespace melvanto::wmf
