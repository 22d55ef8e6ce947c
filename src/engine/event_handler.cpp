#include "event_handler.h"

#include <algorithm>

#include "au_thread.h"
#include "main_thread.h"

namespace melvanto {
namespace {

struct Orphan {
  std::thread thread;
  std::shared_ptr<TEventHandler> handler;
};

struct Registry {
  // The hand-over queue must outlive us: an event thread joined at exit may still use it.
  Registry() { WakeMainThreadWaiters(); }
  ~Registry() {
    for (Orphan& o : orphans) o.thread.join();
  }
  // Joins the orphans that have ended; one still inside its last handler is left alone.
  void JoinEndedOrphans() {
    for (auto it = orphans.begin(); it != orphans.end();) {
      if (it->handler->Ended()) {
        it->thread.join();
        it = orphans.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::mutex mutex;
  int references = 0;
  std::shared_ptr<TEventHandler> instance;
  // Event threads released from inside one of their own handlers, joined later.
  std::vector<Orphan> orphans;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// How long the event thread sleeps when its queue is empty and nobody signals it.
constexpr std::chrono::milliseconds kIdleWait{100};

}  // namespace

TEventHandler* TEventHandler::Acquire() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.JoinEndedOrphans();
  if (r.references++ == 0) {
    std::shared_ptr<TEventHandler> handler(new TEventHandler());
    handler->Thread = std::thread(&TEventHandler::Execute, handler);
    r.instance = std::move(handler);
  }
  return r.instance.get();
}

void TEventHandler::Release() {
  Registry& r = TheRegistry();
  std::shared_ptr<TEventHandler> ending;
  {
    std::lock_guard lock(r.mutex);
    if (r.references == 0 || --r.references > 0) return;
    ending = std::move(r.instance);
  }
  ending->Terminated = true;
  ending->WakeEvent.Set();
  if (IsMainThread() && ending->HandlerRunningFor != nullptr) {
    // Released from inside a handler the event thread is waiting for: it cannot be joined
    // here. It ends as soon as the handler returns; the next Acquire or the exit joins it.
    std::lock_guard lock(r.mutex);
    r.JoinEndedOrphans();
    std::thread thread = std::move(ending->Thread);
    r.orphans.push_back(Orphan{std::move(thread), std::move(ending)});
    return;
  }
  // The thread may be handing a last notification to this very thread: keep serving it.
  PumpMainThreadUntil([&] { return ending->Exited.load(); });
  ending->Thread.join();
}

bool TEventHandler::Exists() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return r.instance != nullptr;
}

void TEventHandler::Post(TEvent event) {
  {
    std::lock_guard lock(Lock);
    if (BlockedLocked(event.sender)) return;
    Events.push_back(std::move(event));
  }
  WakeEvent.Set();
}

void TEventHandler::PostProgress(TAuOutput* sender, TOutputProgressEvent handler) {
  Post(TEvent{Kind::Progress, sender, sender, std::move(handler)});
}

void TEventHandler::PostException(TAuOutput* sender, TThreadExceptionEvent handler) {
  Post(TEvent{Kind::ThreadException, sender, sender, std::move(handler)});
}

void TEventHandler::PostDone(TAuOutput* sender, TAuThread* thread, std::uint64_t sleepsAtPost,
                             std::uint64_t run) {
  Post(TEvent{Kind::Done, sender, sender, nullptr, thread, sleepsAtPost, run});
}

void TEventHandler::PostNotify(TComponent* sender, TNotifyEvent handler) {
  Post(TEvent{Kind::Notify, sender, nullptr, std::move(handler)});
}

void TEventHandler::RemoveEvents(TComponent* sender) {
  std::lock_guard lock(Lock);
  Events.erase(std::remove_if(Events.begin(), Events.end(),
                              [&](const TEvent& e) { return e.sender == sender; }),
               Events.end());
}

bool TEventHandler::BlockedLocked(TComponent* sender) const {
  return std::find(BlockedSenders.begin(), BlockedSenders.end(), sender) != BlockedSenders.end();
}

void TEventHandler::Block(TComponent* sender) {
  std::lock_guard lock(Lock);
  BlockedSenders.push_back(sender);
}

void TEventHandler::Unblock(TComponent* sender) {
  std::lock_guard lock(Lock);
  const auto it = std::find(BlockedSenders.begin(), BlockedSenders.end(), sender);
  if (it != BlockedSenders.end()) BlockedSenders.erase(it);
}

void TEventHandler::WaitWhileDispatching(TComponent* sender) {
  // Inside the sender's own handler the event thread waits for us: waiting here would deadlock.
  if (IsMainThread() && HandlerRunningFor == sender) return;
  PumpMainThreadUntil([&] {
    std::lock_guard lock(Lock);
    return CurrentSender != sender;
  });
}

void TEventHandler::Execute(std::shared_ptr<TEventHandler> self) {
  TEventHandler& h = *self;
  while (!h.Terminated) {
    for (;;) {
      TEvent event;
      {
        std::lock_guard lock(h.Lock);
        if (h.Events.empty()) break;
        event = std::move(h.Events.front());
        h.Events.pop_front();
        h.CurrentSender = event.sender;
      }
      try {
        h.Dispatch(event);
      } catch (...) {
        // A handler's error belongs to the user-interface thread; the queue goes on.
      }
      {
        std::lock_guard lock(h.Lock);
        h.CurrentSender = nullptr;
      }
      WakeMainThreadWaiters();
    }
    h.WakeEvent.WaitFor(kIdleWait);
  }
  h.Exited = true;
  WakeMainThreadWaiters();
}

void TEventHandler::HandOver(TComponent* sender, const std::function<TNotifyEvent()>& handler) {
  Synchronize([&] {
    {
      std::lock_guard lock(Lock);
      if (BlockedLocked(sender)) return;
    }
    // Read on the user-interface thread, where the sender is changed and destroyed.
    const TNotifyEvent call = handler();
    if (!call) return;
    TComponent* const previous = HandlerRunningFor;
    HandlerRunningFor = sender;
    try {
      call(sender);
    } catch (...) {
      HandlerRunningFor = previous;
      throw;
    }
    HandlerRunningFor = previous;
  });
  // The sender may be gone now (a handler may destroy it): nothing here touches it again.
}

void TEventHandler::Dispatch(TEvent& event) {
  switch (event.kind) {
    case Kind::Progress:
    case Kind::ThreadException:
    case Kind::Notify:
      HandOver(event.sender, [&] { return event.handler; });
      break;
    case Kind::Done:
      DeliverDone(event);
      break;
  }
}

void TEventHandler::DeliverDone(TEvent& event) {
  TAuOutput* const output = event.output;
  TAuThread* const thread = event.thread;
  // Delivered only once the worker sleeps, so that OnDone can start the next run at once.
  thread->WaitForSleepAfter(event.sleepsAtPost);
  {
    std::lock_guard runLock(output->RunLock);
    // A run started meanwhile keeps its Busy and its events; plain notifications are
    // not the run's and stay too.
    if (output->EndRun(event.run)) {
      std::lock_guard lock(Lock);
      Events.erase(std::remove_if(Events.begin(), Events.end(),
                                  [&](const TEvent& e) { return e.sender == output && e.kind != Kind::Notify; }),
                   Events.end());
    }
  }
  HandOver(output, [output, thread]() -> TNotifyEvent {
    if (!thread->NotifyDone) return nullptr;
    return output->OnDone();
  });
}

}  // namespace melvanto
