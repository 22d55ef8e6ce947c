#include "output.h"

#include <cassert>
#include <cmath>

#include "au_exception.h"
#include "au_thread.h"
#include "event_handler.h"
#include "file_stream.h"
#include "main_thread.h"
#include "wide_name.h"

namespace melvanto {

// ---- TAuOutput ----

TAuOutput::TAuOutput() : EventHandler_(TEventHandler::Acquire()) {
  Thread_ = std::make_unique<TAuThread>(this);
}

TAuOutput::~TAuOutput() {
  assert(!Busy_ && "a concrete output calls Stop(false) first in its destructor");
  Stop(false);
  // Nothing of ours may be queued or in dispatch once the thread object is gone.
  EventHandler_->Block(this);
  EventHandler_->RemoveEvents(this);
  EventHandler_->WaitWhileDispatching(this);
  Thread_.reset();
  // The address may be reused by a later output: it must not stay blocked.
  EventHandler_->Unblock(this);
  TEventHandler::Release();
}

void TAuOutput::SetInput(TAuInput* input) {
  TAuInput* const old = Input_.load();
  if (old == input) return;
  if (old != nullptr) RemoveFreeNotification(old);
  if (input != nullptr) FreeNotification(input);
  if (Busy()) {
    Stop(false);
    Input_ = input;
    // Without a new input there is nothing to restart.
    if (input != nullptr) Run();
  } else {
    Input_ = input;
  }
}

void TAuOutput::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == Input_.load()) SetInput(nullptr);
}

TOutputDoneEvent TAuOutput::OnDone() const { return LockedCopy(OnDone_); }
void TAuOutput::SetOnDone(TOutputDoneEvent handler) { LockedSet(OnDone_, std::move(handler)); }

TOutputProgressEvent TAuOutput::OnProgress() const { return LockedCopy(OnProgress_); }
void TAuOutput::SetOnProgress(TOutputProgressEvent handler) { LockedSet(OnProgress_, std::move(handler)); }

TThreadExceptionEvent TAuOutput::OnThreadException() const { return LockedCopy(OnThreadException_); }
void TAuOutput::SetOnThreadException(TThreadExceptionEvent handler) { LockedSet(OnThreadException_, std::move(handler)); }

std::string TAuOutput::ExceptionMessage() const { return LockedCopy(ExceptionMessage_); }
void TAuOutput::SetExceptionMessage(std::string message) { LockedSet(ExceptionMessage_, std::move(message)); }

void TAuOutput::Run() {
  std::lock_guard lock(RunLock);
  SetExceptionMessage({});
  // A synchronous Stop that is still waiting counts as busy: a run started from a call it
  // serves meanwhile would keep it waiting for that run too.
  if (Busy_ || SyncStopping_ > 0) throw EAuException("Component is Busy");
  if (Input_.load() == nullptr) throw EAuException("Input is not assigned");
  // A Stop that reached an idle output must not mark this run as cut short.
  Interrupted_ = false;
  Busy_ = true;
  ++RunCount_;
  Thread_->Wake();
}

void TAuOutput::Stop(bool Async) {
  Interrupted_ = true;
  if (!Thread_) return;
  TAuThread& worker = *Thread_;
  worker.NotifyDone = Async;
  worker.DonePosted = false;
  worker.StopRequest = true;
  if (Async) return;
  ++SyncStopping_;
  EventHandler_->Block(this);
  EventHandler_->RemoveEvents(this);
  // Idle, not merely "done posted": a Run that slipped in after the old run cleared Busy
  // must be finished too before this returns.
  PumpMainThreadUntil([&] { return worker.Idle(); });
  // A done or progress event already taken from the queue is dropped when handed over.
  EventHandler_->WaitWhileDispatching(this);
  EventHandler_->Unblock(this);
  worker.NotifyDone = true;
  --SyncStopping_;
}

void TAuOutput::PostNotify(TNotifyEvent handler) {
  EventHandler_->PostNotify(this, std::move(handler));
}

bool TAuOutput::EndRun(std::uint64_t run) {
  std::lock_guard lock(RunLock);
  if (RunCount_ != run) return false;
  Busy_ = false;
  return true;
}

void TAuOutput::FinishRun() {
  if (!Busy_) return;
  // Done completes the target with no more output allowed.
  CanOutput_ = false;
  Done();
  ResetRunState();
}

void TAuOutput::ResetRunState() {
  CanOutput_ = false;
  Interrupted_ = false;
  // Last: another thread takes a clear Busy for the run being over and may start the next.
  Busy_ = false;
}

std::int32_t TAuOutput::Progress() const {
  TAuInput* const input = Input_.load();
  if (input == nullptr) return 0;
  const std::int64_t size = input->Size();
  if (size == -1) return -1;
  if (size <= 0) return 0;
  // Ties go to the even neighbour, as the classic Round does.
  return static_cast<std::int32_t>(
      std::nearbyint(static_cast<double>(input->Position()) / static_cast<double>(size) * 100.0));
}

std::uint32_t TAuOutput::Delay() const { return Thread_->Delay; }

void TAuOutput::SetDelay(std::uint32_t value) {
  if (value <= 100) Thread_->Delay = value;
}

// ---- TAuStreamedOutput ----

void TAuStreamedOutput::SetStream(TStream* stream) {
  Stream_ = stream;
  StreamAssigned_ = stream != nullptr;
}

void TAuStreamedOutput::CloseOwnStream() {
  if (StreamAssigned_) return;
  OwnedStream_.reset();
  Stream_ = nullptr;
}

// ---- TAuFileOut ----

void TAuFileOut::SetFileName(const std::string& name) {
  FileName_ = name;
  WideFileName_ = Utf8ToUtf16(name);
}

void TAuFileOut::SetWideFileName(const std::u16string& name) {
  WideFileName_ = name;
  FileName_ = Utf16ToUtf8(name);
}

void TAuFileOut::SetFileMode(TFileOutputMode) { FileMode_ = TFileOutputMode::foRewrite; }

TStream* TAuFileOut::OpenTargetStream(const std::string& missingNameMessage) {
  if (StreamAssigned_) return Stream_;
  if (WideFileName_.empty()) throw EAuException(missingNameMessage);
  // Appending opens the file as it is, or creates it, in one step: never truncated.
  const std::uint16_t mode = FileMode_ == TFileOutputMode::foAppend ? kFileModeOpenOrCreate : kFileModeCreate;
  OwnedStream_ = std::make_unique<TAuFileStream>(WideFileName_, mode, AccessRights_);
  Stream_ = OwnedStream_.get();
  return Stream_;
}

}  // namespace melvanto
