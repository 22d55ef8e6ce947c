#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "component.h"
#include "input.h"
#include "stream.h"

namespace melvanto {

class TAuThread;
class TEventHandler;

// Event callbacks take the component that raised them.
using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TOutputDoneEvent = TNotifyEvent;
using TOutputProgressEvent = TNotifyEvent;
using TThreadExceptionEvent = TNotifyEvent;

enum class TFileOutputMode { foRewrite = 0, foAppend = 1 };

// Abstract sink: pulls PCM from its Input on a worker thread of its own and encodes or
// stores it. Run, Stop and the properties are for the user-interface thread; the events
// arrive there too.
//
// A descendant must call Stop(false) first thing in its destructor: the worker calls
// Prepare, DoOutput and Done, which must not outlive the descendant's own members.
class TAuOutput : public TComponent {
 public:
  TAuOutput();
  ~TAuOutput() override;

  TAuInput* Input() const { return Input_.load(); }
  // While busy: stops the run synchronously, switches, and runs again with the new input.
  virtual void SetInput(TAuInput* input);

  TOutputDoneEvent OnDone() const;
  void SetOnDone(TOutputDoneEvent handler);
  TOutputProgressEvent OnProgress() const;
  void SetOnProgress(TOutputProgressEvent handler);
  TThreadExceptionEvent OnThreadException() const;
  void SetOnThreadException(TThreadExceptionEvent handler);

  // Starts a run. Raises "Component is Busy" or "Input is not assigned".
  void Run();
  // Async: returns at once, OnDone follows. Otherwise returns when the run has finished
  // and OnDone is not called for it.
  void Stop(bool Async = true);

  // Percent of the input delivered, -1 when its size is unknown.
  std::int32_t Progress() const;
  std::uint32_t Delay() const;
  // Milliseconds slept before each block (only above 5); values above 100 are ignored.
  void SetDelay(std::uint32_t value);
  bool Busy() const { return Busy_.load(); }
  bool Interrupted() const { return Interrupted_.load(); }
  std::string ExceptionMessage() const;
  TAuThread* Thread() const { return Thread_.get(); }

  // Called by the worker when a run ends: Done, then idle. When Done raises, the worker
  // keeps the message and calls ResetRunState itself.
  void FinishRun();

 protected:
  friend class TAuThread;
  friend class TEventHandler;

  // One block; false when the run is over. Abort asks to finish at once.
  virtual bool DoOutput(bool Abort) = 0;
  // Completes the target; runs after every run, also one whose Prepare failed part way.
  virtual void Done() = 0;
  // Opens the target, initialises the input and the encoder.
  virtual void Prepare() = 0;

  void Notification(TComponent* component, TOperation operation) override;
  // Called on the worker once a run is over and Busy is clear, just before its done event
  // goes out; a descendant may release what only the run needed.
  virtual void RunFinished() {}

  bool CanOutput() const { return CanOutput_.load(); }
  // For errors that arrive from elsewhere than Prepare and DoOutput (a codec's own threads).
  void SetExceptionMessage(std::string message);
  // Hands handler(this) to the user-interface thread through the event queue, in order with
  // the run's other events; dropped while a synchronous Stop or the destructor blocks them.
  void PostNotify(TNotifyEvent handler);

  std::atomic<bool> Interrupted_{false};
  std::atomic<bool> CanOutput_{false};
  std::atomic<std::int32_t> LastProgress{0};
  std::atomic<bool> Busy_{false};
  std::recursive_mutex RunLock;

 private:
  // The event thread clears Busy after a run's done event unless a newer run began;
  // returns whether the run is still the latest.
  bool EndRun(std::uint64_t run);
  // Back to idle after a run, whether or not Done completed.
  void ResetRunState();
  std::uint64_t RunCount() const { return RunCount_.load(); }

  // The handlers and ExceptionMessage are set on one thread and read on another.
  template <class T>
  T LockedCopy(const T& field) const {
    std::lock_guard lock(EventsLock_);
    return field;
  }
  template <class T>
  void LockedSet(T& field, T value) {
    std::lock_guard lock(EventsLock_);
    field = std::move(value);
  }

  std::atomic<TAuInput*> Input_{nullptr};
  mutable std::mutex EventsLock_;
  TOutputDoneEvent OnDone_;
  TOutputProgressEvent OnProgress_;
  TThreadExceptionEvent OnThreadException_;
  std::string ExceptionMessage_;
  std::atomic<std::uint64_t> RunCount_{0};
  std::atomic<int> SyncStopping_{0};
  TEventHandler* EventHandler_ = nullptr;
  std::unique_ptr<TAuThread> Thread_;
};

// A sink that writes a stream: handed in (never freed here) or created by a descendant.
class TAuStreamedOutput : public TAuOutput {
 public:
  TStream* Stream() const { return Stream_; }
  bool StreamAssigned() const { return StreamAssigned_; }
  void SetStream(TStream* stream);

 protected:
  // Frees a stream this output created; a handed-in one is left alone.
  void CloseOwnStream();

  TStream* Stream_ = nullptr;
  bool StreamAssigned_ = false;
  std::unique_ptr<TStream> OwnedStream_;
};

// A sink that writes a named file.
class TAuFileOut : public TAuStreamedOutput {
 public:
  const std::string& FileName() const { return FileName_; }
  void SetFileName(const std::string& name);
  const std::u16string& WideFileName() const { return WideFileName_; }
  void SetWideFileName(const std::u16string& name);

  TFileOutputMode FileMode() const { return FileMode_; }
  // Only outputs that can append accept foAppend; the base keeps foRewrite.
  virtual void SetFileMode(TFileOutputMode mode);
  std::uint32_t AccessRights() const { return AccessRights_; }
  void SetAccessRights(std::uint32_t value) { AccessRights_ = value; }
  std::uint16_t ShareMode() const { return ShareMode_; }
  void SetShareMode(std::uint16_t value) { ShareMode_ = value; }

 protected:
  // For Prepare: the handed-in stream, or a new file stream on WideFileName (created for
  // foRewrite, opened or created without truncation for foAppend). An empty name raises
  // missingNameMessage.
  TStream* OpenTargetStream(const std::string& missingNameMessage);

  std::string FileName_;
  std::u16string WideFileName_;
  TFileOutputMode FileMode_ = TFileOutputMode::foRewrite;
  std::uint32_t AccessRights_ = 0;
  std::uint16_t ShareMode_ = 0;
};

}  // namespace melvanto
