#include "au_thread.h"

#include <chrono>
#include <exception>
#include <string>

#include "event_handler.h"
#include "main_thread.h"
#include "output.h"

namespace melvanto {

TAuThread::TAuThread(TAuOutput* parent) : Parent(parent) {
  thread_ = std::thread(&TAuThread::Execute, this);
}

TAuThread::~TAuThread() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  wakeCv_.notify_all();
  thread_.join();
}

bool TAuThread::Idle() {
  std::lock_guard lock(mutex_);
  return Sleeping_ && !wakePending_;
}

void TAuThread::Wake() {
  StopRequest = false;
  {
    std::lock_guard lock(mutex_);
    wakePending_ = true;
  }
  wakeCv_.notify_one();
}

std::uint64_t TAuThread::SleepCount() {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

void TAuThread::WaitForSleepAfter(std::uint64_t count) {
  std::unique_lock lock(mutex_);
  sleepCv_.wait(lock, [&] { return sleeps_ > count || exited_; });
}

bool TAuThread::WaitForWake() {
  std::unique_lock lock(mutex_);
  Sleeping_ = true;
  ++sleeps_;
  sleepCv_.notify_all();
  lock.unlock();
  WakeMainThreadWaiters();  // a synchronous Stop may be waiting for this
  lock.lock();
  wakeCv_.wait(lock, [&] { return wakePending_ || terminated_; });
  if (terminated_) return false;
  wakePending_ = false;
  Sleeping_ = false;
  return true;
}

void TAuThread::Execute() {
  if (WaitForWake()) {
    do {
      PerformRun();
    } while (WaitForWake());
  }
  {
    std::lock_guard lock(mutex_);
    exited_ = true;
  }
  sleepCv_.notify_all();
}

namespace {

// The message of the exception being handled.
std::string FinishErrorMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace

void TAuThread::PerformRun() {
  TAuOutput& out = *Parent;
  TEventHandler& events = *out.EventHandler_;
  // Run cannot start another run before this one has cleared Busy, so this is our id.
  const std::uint64_t run = out.RunCount();
  try {
    out.Prepare();
    out.CanOutput_ = true;
    bool more = true;
    do {
      const std::uint32_t delay = Delay;
      if (delay > 5) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      const std::int32_t progress = out.Progress();
      if (progress != out.LastProgress) {
        out.LastProgress = progress;
        if (TOutputProgressEvent handler = out.OnProgress()) events.PostProgress(&out, std::move(handler));
      }
      more = out.DoOutput(StopRequest);
    } while (more && !StopRequest);
  } catch (const std::exception& e) {
    out.SetExceptionMessage(e.what());
    if (TThreadExceptionEvent handler = out.OnThreadException())
      events.PostException(&out, std::move(handler));
    StopRequest = true;
  } catch (...) {
    out.SetExceptionMessage("Unknown error");
    if (TThreadExceptionEvent handler = out.OnThreadException())
      events.PostException(&out, std::move(handler));
    StopRequest = true;
  }
  StopRequest = false;
  try {
    out.FinishRun();
  } catch (...) {
    // No event reports an error while finishing, but the run's message keeps it: a file whose
    // trailer or tags could not be written must not pass for a finished one. It is kept before
    // the reset, so whoever sees Busy clear finds it.
    if (out.ExceptionMessage().empty()) out.SetExceptionMessage(FinishErrorMessage());
    out.ResetRunState();
  }
  out.RunFinished();
  events.PostDone(&out, this, SleepCount(), run);
  DonePosted = true;
  WakeMainThreadWaiters();
}

}  // namespace melvanto
