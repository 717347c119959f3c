#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/MessageTarget.h"

namespace platform {

// Runs a function on the main thread while the calling worker waits.
class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  virtual void Synchronize(const std::function<void()>& fn) = 0;
};

// The process-wide main-thread dispatcher (the GUI sets the Qt one, the CLI
// its event loop). With none set, Synchronize runs the function in place.
void SetMainThreadDispatcher(Dispatcher* dispatcher);
void Synchronize(const std::function<void()>& fn);

// A small main-thread loop for the CLI and the tests: workers post or invoke
// functions, the owning thread runs them in order. Also a Dispatcher.
class EventLoop : public Dispatcher {
 public:
  EventLoop();  // the constructing thread owns the loop

  void Post(std::function<void()> fn);
  // Runs fn on the loop's thread and returns when it has run; from the
  // loop's own thread it runs at once.
  void Invoke(const std::function<void()>& fn);
  void Synchronize(const std::function<void()>& fn) override { Invoke(fn); }

  // Runs queued functions until done() is true (checked after each one and
  // whenever the queue is empty); returns false if `timeoutMs` passed first
  // (a negative timeout waits for ever).
  bool RunUntil(const std::function<bool()>& done, int timeoutMs = -1);
  // Runs what is queued now and returns.
  void ProcessPending();

 private:
  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
};

// A MessageTarget whose messages run `handler` on an EventLoop's thread:
// Post queues, Send queues and waits for the handler's result.
class LoopMessageTarget : public MessageTarget {
 public:
  using Handler = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
  LoopMessageTarget(EventLoop& loop, Handler handler) : loop_(loop), handler_(std::move(handler)) {}
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

 private:
  EventLoop& loop_;
  Handler handler_;
};

}  // namespace platform
