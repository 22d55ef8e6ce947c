#pragma once

// The runtime's network sink: serves the writer's ASF stream over HTTP on a TCP port to any
// number of clients up to a limit. Each client gets an HTTP response header, the ASF header
// and then the data packets from the next whole packet on. Client connects and disconnects
// are reported to the registered callbacks (37, 38) on the sink's own thread.

#include <cstdint>
#include <memory>

#include "wm_writer.h"

namespace melvanto::wmf {

class IWMWriterNetworkSink : public IWMWriterSink, public IWMRegisterCallback {
 public:
  // 0 is the only protocol: HTTP.
  virtual HRESULT SetNetworkProtocol(std::uint32_t protocol) = 0;
  virtual HRESULT SetMaximumClients(std::uint32_t clients) = 0;
  virtual HRESULT GetMaximumClients(std::uint32_t* clients) = 0;
  // Listens on all interfaces; *port 0 picks a free port, and the port taken goes to *port.
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
