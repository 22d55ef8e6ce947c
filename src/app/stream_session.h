#pragma once

// One file served as a live WMA stream over HTTP. Names no format: the command line starts a
// stream through this alone.

#include <cstdint>
#include <memory>
#include <string>

#include "settings.h"

namespace melvanto {

struct TStreamRequest {
  std::string File;
  std::uint32_t Port = 8080;  // 0 picks a free one
  // IPv4; the default keeps the stream on this machine, "0.0.0.0" opens it to every network.
  std::string BindAddress = "127.0.0.1";
  std::uint32_t MaxClients = 0;  // 0: the output's own limit
  bool Loop = false;             // start again at the end, without dropping anyone
};

// What shows a stream's listeners; called on the user-interface thread.
class TStreamView {
 public:
  virtual ~TStreamView() = default;
  // Address: "a.b.c.d:port".
  virtual void ClientConnected(const std::string& Address) = 0;
  virtual void ClientLeft(const std::string& Address) = 0;
};

// Reads the file with the converters' readers (WAV, MP3 or WMA, told by content), encodes it
// with the WMA choice of the settings and serves it at the pace it plays. All calls on the
// user-interface thread; the state below changes as the engine's events are handed over there
// (a step loop's RunUntil sees each change).
class TStreamSession {
 public:
  TStreamSession(TStreamView& view, TStreamRequest request, const TOptionsSetting& settings);
  ~TStreamSession();
  TStreamSession(const TStreamSession&) = delete;
  TStreamSession& operator=(const TStreamSession&) = delete;

  // Opens the file and starts the stream; empty when it goes on, else why the file cannot be
  // streamed (it may still fail to listen: see Ended).
  std::string Start();
  // Listening, with the first audio encoded: Port and BitRate hold.
  bool Serving() const;
  // It ended by itself: the file's end (never with Loop), or a failure (Failure says which).
  bool Ended() const { return Ended_; }
  const std::string& Failure() const { return Failure_; }
  std::uint32_t Port() const;
  // Of the encoded stream, bit/s.
  std::uint32_t BitRate() const;
  // Stops at once; clients are dropped once they have what was sent. Safe to call twice.
  void Stop();

 private:
  struct TParts;
  TStreamView& View_;
  const TStreamRequest Request_;
  const TOptionsSetting Settings_;
  bool Ended_ = false;
  std::string Failure_;
  std::unique_ptr<TParts> Parts_;
};

}  // namespace melvanto
