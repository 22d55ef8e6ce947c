#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tagged_file.h"
#include "wm_network_sink.h"
#include "wm_profile.h"
#include "wm_writer.h"

namespace melvanto {

class TWMAOut;
using TStreamedAudioEvent = TNotifyEvent;

// One run's hold on the runtime's writer, zero-filled when a writer is created.
struct TWMWriterContext {
  TWMAOut* Owner = nullptr;
  std::shared_ptr<wmf::IWMWriter> Writer;
  std::shared_ptr<wmf::INSSBuffer> Sample;
  std::uint32_t InputNumber = 0;
  std::uint32_t ByteRate = 0;  // of the input PCM, bytes per second
  std::int64_t Time = 0;       // 100 ns units
  bool Created = false;
  std::shared_ptr<wmf::IWMWriterFileSink> FileSink;
  std::shared_ptr<wmf::IWMWriterNetworkSink> NetworkSink;
  std::shared_ptr<wmf::IWMStatusCallback> Callback;
  void (*ClientConnected)(TWMAOut* Owner, const std::string& Address) = nullptr;
  void (*ClientDisconnected)(TWMAOut* Owner, const std::string& Address) = nullptr;
  void (*Error)(TWMAOut* Owner, int Status) = nullptr;
};

// Encodes the PCM of its input into a WMA file through the Windows Media writer, choosing
// the format by codec and format position or by a target bit rate, with the Id3v2Tags values
// as the file's attributes.
class TWMAOut : public TAuTaggedFileOut {
 public:
  TWMAOut();
  ~TWMAOut() override;

  // Bit/s; values below 1000 are kbit/s.
  std::uint32_t DesiredBitrate() const { return DesiredBitrate_; }
  void SetDesiredBitrate(std::uint32_t value) { DesiredBitrate_ = value; }
  bool Lossless() const { return Lossless_; }
  void SetLossless(bool value) { Lossless_ = value; }
  bool VBR() const { return VBR_; }
  void SetVBR(bool value) { VBR_ = value; }
  std::uint8_t VBRQuality() const { return VBRQuality_; }
  void SetVBRQuality(std::uint8_t value) { VBRQuality_ = value; }
  // -1: choose by target.
  std::int32_t CodecIndex() const { return CodecIndex_; }
  void SetCodecIndex(std::int32_t value) { CodecIndex_ = value; }
  std::int32_t FormatIndex() const { return FormatIndex_; }
  void SetFormatIndex(std::int32_t value) { FormatIndex_ = value; }

  // The installed codecs' names, fetched at construction.
  const std::vector<std::string>& Codecs() const { return Codecs_; }
  // The format descriptions of a codec position, fetched anew at every call; empty for a
  // position that names no codec, or when VBR or Lossless is asked and the codec refuses.
  const std::vector<std::string>& Formats(std::int32_t Index);

  // What the last Prepare chose: the stream written (zero when none was).
  wmf::TCodecFormat ChosenFormat() const;

  // The runtime's status reports for this output (called on the runtime's threads).
  void HandleError(int Status);
  // Address: "a.b.c.d:port" of the client, empty when the runtime did not say.
  virtual void HandleClientConnected(const std::string& /*Address*/) {}
  virtual void HandleClientDisconnected(const std::string& /*Address*/) {}

 protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

  // Creates the writer and its sink and registers the status callback; sets Created.
  virtual void CreateWriter();
  virtual bool Streamed() const { return false; }
  // Releases the sink, the writer and the callback after writing ended.
  virtual void ReleaseWriter();

  TWMWriterContext Context;

 private:
  void ProfileByIndex(std::int32_t Codec, std::int32_t Format, bool VbrSwitch);
  void ProfileByTarget(std::uint32_t Target);
  void UseStream(const std::shared_ptr<wmf::IWMProfileManager>& Manager,
                 const std::shared_ptr<wmf::IWMStreamConfig>& Config);
  void SetInputFormat();
  void WriteAttributes();
  void WriteBlock(std::uint32_t Bytes);

  std::uint32_t DesiredBitrate_ = 0;
  bool Lossless_ = false;
  bool VBR_ = false;
  std::uint8_t VBRQuality_ = 0;
  std::int32_t CodecIndex_ = -1;
  std::int32_t FormatIndex_ = 0;
  std::vector<std::string> Codecs_;
  std::vector<std::string> Formats_;

  // One run's state. The error flag is set by the runtime's callback.
  std::atomic<bool> ErrorFlag{false};
  bool EndOfInput = false;
  bool Began = false;
  std::vector<std::uint8_t> Buffer;
  std::uint32_t InputChannels = 0, InputBits = 0, InputRate = 0;
  mutable std::mutex ChosenLock;
  wmf::TCodecFormat Chosen;
};

// Sends the encoded stream to network clients over HTTP on Port instead of a file.
class TWMStreamedOut : public TWMAOut {
 public:
  TWMStreamedOut();
  ~TWMStreamedOut() override;

  // 0: the runtime's default.
  std::uint32_t MaxClients() const { return MaxClients_; }
  void SetMaxClients(std::uint32_t value) { MaxClients_ = value; }
  std::uint32_t Port() const { return Port_; }
  void SetPort(std::uint32_t value) { Port_ = value; }
  // The IPv4 address to listen on ("127.0.0.1"); empty, the default, is every interface.
  const std::string& BindAddress() const { return BindAddress_; }
  void SetBindAddress(std::string value) { BindAddress_ = std::move(value); }
  TStreamedAudioEvent OnClientConnected() const;
  void SetOnClientConnected(TStreamedAudioEvent handler);
  TStreamedAudioEvent OnClientDisconnected() const;
  void SetOnClientDisconnected(TStreamedAudioEvent handler);

  // The port the sink really listens on while a run goes on (Port 0 picks a free one).
  std::uint32_t ListeningPort() const { return ListeningPort_.load(); }
  // Inside a client event's handler: that client's "a.b.c.d:port". Empty elsewhere.
  const std::string& ClientAddress() const { return ClientAddress_; }

  void HandleClientConnected(const std::string& Address) override;
  void HandleClientDisconnected(const std::string& Address) override;

 protected:
  void CreateWriter() override;
  bool Streamed() const override { return true; }
  void ReleaseWriter() override;

 private:
  std::uint32_t MaxClients_ = 0;
  // Hands handler to the user-interface thread with the client's address.
  void PostClientEvent(TStreamedAudioEvent handler, const std::string& Address);

  std::uint32_t Port_ = 0;
  std::string BindAddress_;
  std::atomic<std::uint32_t> ListeningPort_{0};
  std::string ClientAddress_;  // user-interface thread only
  mutable std::mutex HandlersLock;  // the handlers are read on the sink's thread
  TStreamedAudioEvent OnClientConnected_;
  TStreamedAudioEvent OnClientDisconnected_;
};

}  // namespace melvanto
