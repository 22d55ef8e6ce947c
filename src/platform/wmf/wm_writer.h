#pragma once

// The runtime's writer side: a writer that encodes PCM into WMA in ASF through FFmpeg and
// hands the bytes to its sinks, a file sink, and the status-callback registration both
// sinks offer.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "wm_asf_edit.h"
#include "wm_profile.h"
#include "wm_types.h"

namespace melvanto::wmf {


class IWMStatusCallback {
 public:
  virtual ~IWMStatusCallback() = default;
  // May be called on a thread of the runtime's own.
  virtual HRESULT OnStatus(WMT_STATUS Status, HRESULT hr, WMT_ATTR_DATATYPE dwType,
                           const std::uint8_t* pValue, void* pvContext) = 0;
};

class IWMRegisterCallback {
 public:
  virtual ~IWMRegisterCallback() = default;
  virtual HRESULT Advise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) = 0;
  virtual HRESULT Unadvise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) = 0;
};

// The registered callbacks of one object; reports call them outside the lock, so a callback
// may unregister itself.
class TStatusCallbacks : public IWMRegisterCallback {
 public:
  HRESULT Advise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) override;
  HRESULT Unadvise(const std::shared_ptr<IWMStatusCallback>& callback, void* context) override;
  // value (of type) goes to every callback as it is: what the status is about, if anything.
  void Report(WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE type = WMT_ATTR_DATATYPE::WMT_TYPE_DWORD,
              const std::uint8_t* value = nullptr);

 private:
  struct Entry {
    std::shared_ptr<IWMStatusCallback> Callback;
    void* Context;
  };
  std::mutex Lock;
  std::vector<Entry> Entries;
};

// Where a writer's bytes go. The header is handed over first, then the data: whole ASF
// packets of packetSize bytes one after another, though not one per call. A sink that can
// seek also receives the header again, rewritten at its start, when writing ends.
class IWMWriterSink {
 public:
  virtual ~IWMWriterSink() = default;
  virtual HRESULT OnBeginWriting(std::uint32_t packetSize) = 0;
  virtual HRESULT OnHeader(const std::uint8_t* data, std::size_t size) = 0;
  virtual HRESULT OnDataUnit(const std::uint8_t* data, std::size_t size) = 0;
  virtual HRESULT OnEndWriting() = 0;
  // After the last data and before OnEndWriting: binary attributes the muxer cannot write, to
  // be added to the header already written. A sink that cannot go back (a stream) ignores them.
  virtual HRESULT OnHeaderAttributes(const std::vector<TAsfBinaryAttribute>& /*attributes*/) { return S_FALSE; }
  // Whether the sink takes positioned writes (a file) rather than a stream (the network).
  virtual bool CanSeek() const = 0;
  // Positions the next write; only called when CanSeek. Returns the new position or -1.
  virtual std::int64_t Seek(std::int64_t offset, int whence) = 0;
};

class IWMWriterFileSink : public IWMWriterSink, public IWMRegisterCallback {
 public:
  // Creates (or empties) the file. Any name the system accepts, ':' included.
  virtual HRESULT Open(const std::u16string& filename) = 0;
};

class IWMInputMediaProps : public IWMMediaProps {
 public:
  virtual HRESULT GetConnectionName(std::u16string* name) = 0;
};

class IWMWriterAdvanced {
 public:
  virtual ~IWMWriterAdvanced() = default;
  virtual HRESULT AddSink(const std::shared_ptr<IWMWriterSink>& sink) = 0;
  virtual HRESULT RemoveSink(const std::shared_ptr<IWMWriterSink>& sink) = 0;
  virtual HRESULT GetSinkCount(std::uint32_t* count) = 0;
};

class IWMWriter {
 public:
  virtual ~IWMWriter() = default;
  virtual HRESULT SetProfile(const std::shared_ptr<IWMProfile>& profile) = 0;
  virtual HRESULT GetInputCount(std::uint32_t* count) = 0;
  virtual HRESULT GetInputProps(std::uint32_t input, std::shared_ptr<IWMInputMediaProps>* props) = 0;
  // PCM of any width, channel count and rate; it is converted to the profile's format.
  virtual HRESULT SetInputProps(std::uint32_t input, const std::shared_ptr<IWMInputMediaProps>& props) = 0;
  virtual HRESULT BeginWriting() = 0;
  virtual HRESULT AllocateSample(std::uint32_t size, std::shared_ptr<INSSBuffer>* sample) = 0;
  // time: the sample's time in 100 ns units.
  virtual HRESULT WriteSample(std::uint32_t input, std::uint64_t time, std::uint32_t flags,
                              const std::shared_ptr<INSSBuffer>& sample) = 0;
  virtual HRESULT EndWriting() = 0;
  // The other interfaces of the same object (COM's QueryInterface).
  virtual HRESULT QueryInterface(std::shared_ptr<IWMWriterAdvanced>* advanced) = 0;
  virtual HRESULT QueryInterface(std::shared_ptr<IWMHeaderInfo>* header) = 0;
};

HRESULT WMCreateWriter(void* reserved, std::shared_ptr<IWMWriter>* writer);
HRESULT WMCreateWriterFileSink(std::shared_ptr<IWMWriterFileSink>* sink);

// What the writer chose for a format: the ASF packet size that keeps the file's real bit
// rate within a few percent of the stated one, and how many encoded frames go in one
// payload to that end.
struct TAsfLayout {
  std::uint32_t FramesPerPayload = 1;
  std::uint32_t PacketSize = 0;
};
TAsfLayout AsfLayoutFor(std::uint32_t blockAlign);

}  // namespace melvanto::wmf
