#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "auto_reset_event.h"
#include "output.h"

namespace melvanto {

class TAuThread;

// The process-wide event thread: one first-in first-out queue of the outputs' progress,
// error and done events (and plain notifications of other components), each handed to
// the user-interface thread one at a time. Shared by reference count: the first output
// creates it, the last one ends it.
class TEventHandler {
 public:
  static TEventHandler* Acquire();
  static void Release();
  // Whether the process has an event thread now.
  static bool Exists();
  // Whether this handler's thread has left its loop.
  bool Ended() const { return Exited.load(); }

  void PostProgress(TAuOutput* sender, TOutputProgressEvent handler);
  void PostException(TAuOutput* sender, TThreadExceptionEvent handler);
  void PostDone(TAuOutput* sender, TAuThread* thread, std::uint64_t sleepsAtPost, std::uint64_t run);
  // A plain call handler(sender) on the user-interface thread, in the same queue.
  void PostNotify(TComponent* sender, TNotifyEvent handler);

  // Drops the sender's queued events.
  void RemoveEvents(TComponent* sender);
  // While blocked, the sender's new events are dropped and none of its events is delivered.
  void Block(TComponent* sender);
  void Unblock(TComponent* sender);
  // Returns once no event of the sender is being dispatched; on the user-interface thread it
  // keeps running hand-overs meanwhile. Inside the sender's own handler it returns at once.
  void WaitWhileDispatching(TComponent* sender);

 private:
  enum class Kind : std::uint8_t { Progress = 0, Done = 1, ThreadException = 2, Notify = 3 };
  struct TEvent {
    Kind kind;
    TComponent* sender;
    TAuOutput* output;  // the sender as an output, for progress, exception and done
    TNotifyEvent handler;
    TAuThread* thread = nullptr;
    std::uint64_t sleepsAtPost = 0;
    std::uint64_t run = 0;
  };

  TEventHandler() = default;
  static void Execute(std::shared_ptr<TEventHandler> self);
  void Post(TEvent event);
  void Dispatch(TEvent& event);
  void DeliverDone(TEvent& event);
  // Runs handler(sender) on the user-interface thread unless the sender is blocked.
  void HandOver(TComponent* sender, const std::function<TNotifyEvent()>& handler);
  bool BlockedLocked(TComponent* sender) const;

  std::deque<TEvent> Events;
  std::mutex Lock;  // guards Events, the blocked senders and the current sender
  AutoResetEvent WakeEvent;
  TComponent* CurrentSender = nullptr;
  std::vector<TComponent*> BlockedSenders;  // one entry per Block
  std::atomic<bool> Terminated{false};
  std::atomic<bool> Exited{false};
  // Only touched on the user-interface thread: whose handler runs there now.
  TComponent* HandlerRunningFor = nullptr;
  std::thread Thread;
};

}  // namespace melvanto
