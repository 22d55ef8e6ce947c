#include "main_thread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace melvanto {
namespace {

struct QueuedCall {
  const std::function<void()>* call;
  bool done = false;
  std::exception_ptr error;
};

struct SyncQueue {
  std::mutex mutex;
  std::condition_variable arrived;  // a call was queued, or a pumped wait may be over
  std::condition_variable finished;  // a queued call has run
  std::deque<QueuedCall*> calls;
  std::uint64_t generation = 0;
  std::function<void()> wakeHook;
};

SyncQueue& Queue() {
  static SyncQueue queue;
  return queue;
}

// Dynamic initialisation runs on the thread that starts the process.
std::atomic<std::thread::id> gMainThread{std::this_thread::get_id()};

bool RunQueuedCalls() {
  SyncQueue& q = Queue();
  bool ran = false;
  std::unique_lock lock(q.mutex);
  while (!q.calls.empty()) {
    QueuedCall* c = q.calls.front();
    q.calls.pop_front();
    lock.unlock();
    try {
      (*c->call)();
    } catch (...) {
      c->error = std::current_exception();
    }
    lock.lock();
    c->done = true;
    q.finished.notify_all();
    ran = true;
  }
  return ran;
}

}  // namespace

void SetMainThread() { gMainThread = std::this_thread::get_id(); }

bool IsMainThread() { return gMainThread.load() == std::this_thread::get_id(); }

void Synchronize(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  SyncQueue& q = Queue();
  QueuedCall entry{&call, false, nullptr};
  std::function<void()> hook;
  {
    std::lock_guard lock(q.mutex);
    q.calls.push_back(&entry);
    hook = q.wakeHook;
  }
  q.arrived.notify_all();
  if (hook) hook();
  {
    std::unique_lock lock(q.mutex);
    q.finished.wait(lock, [&] { return entry.done; });
  }
  if (entry.error) std::rethrow_exception(entry.error);
}

bool CheckSynchronize(std::chrono::milliseconds wait) {
  if (!IsMainThread()) return false;
  if (wait.count() > 0) {
    SyncQueue& q = Queue();
    std::unique_lock lock(q.mutex);
    q.arrived.wait_for(lock, wait, [&] { return !q.calls.empty(); });
  }
  return RunQueuedCalls();
}

void SetMainThreadWakeHook(std::function<void()> hook) {
  SyncQueue& q = Queue();
  std::lock_guard lock(q.mutex);
  q.wakeHook = std::move(hook);
}

void PumpMainThreadUntil(const std::function<bool()>& done) {
  SyncQueue& q = Queue();
  const bool onMain = IsMainThread();
  for (;;) {
    std::uint64_t seen;
    {
      std::lock_guard lock(q.mutex);
      seen = q.generation;
    }
    if (onMain) RunQueuedCalls();
    if (done()) return;
    std::unique_lock lock(q.mutex);
    // The timeout only guards against a waker that forgot to call WakeMainThreadWaiters.
    q.arrived.wait_for(lock, std::chrono::milliseconds(50),
                       [&] { return q.generation != seen || (onMain && !q.calls.empty()); });
  }
}

void WakeMainThreadWaiters() {
  SyncQueue& q = Queue();
  {
    std::lock_guard lock(q.mutex);
    ++q.generation;
  }
  q.arrived.notify_all();
}

}  // namespace melvanto
