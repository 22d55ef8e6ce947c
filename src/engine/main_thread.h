#pragma once

#include <chrono>
#include <functional>

namespace melvanto {

// The hand-over of calls to the user-interface ("main") thread. Worker and event threads
// queue a call with Synchronize and wait; the main thread runs the queue with
// CheckSynchronize from its event loop (woken by the hook) or while it waits itself.

// Makes the calling thread the main thread; by default it is the thread that started the process.
void SetMainThread();
bool IsMainThread();

// Runs call on the main thread and returns when it has run; an exception it raised is
// raised again here. On the main thread itself the call runs at once.
void Synchronize(const std::function<void()>& call);

// On the main thread: runs every queued call, first waiting up to wait for one to arrive.
// Returns whether any call ran. Elsewhere it does nothing and returns false.
bool CheckSynchronize(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

// Called from the queuing thread after each Synchronize enqueues, so that a GUI event loop
// can schedule CheckSynchronize. Pass an empty function to remove it.
void SetMainThreadWakeHook(std::function<void()> hook);

// Waits until done() holds. On the main thread it keeps running queued calls meanwhile,
// so that a thread blocked in Synchronize cannot deadlock the wait. Whoever changes what
// done() reads calls WakeMainThreadWaiters afterwards.
void PumpMainThreadUntil(const std::function<bool()>& done);
void WakeMainThreadWaiters();

}  // namespace melvanto
