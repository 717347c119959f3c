#include "platform/Dispatcher.h"

#include <atomic>
#include <chrono>

namespace platform {
namespace {
std::atomic<Dispatcher*> g_dispatcher{nullptr};
}

void SetMainThreadDispatcher(Dispatcher* dispatcher) { g_dispatcher.store(dispatcher); }

void Synchronize(const std::function<void()>& fn) {
  if (Dispatcher* d = g_dispatcher.load()) {
    d->Synchronize(fn);
  } else {
    fn();
  }
}

EventLoop::EventLoop() : owner_(std::this_thread::get_id()) {}

void EventLoop::Post(std::function<void()> fn) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(fn));
  }
  wake_.notify_all();
}

void EventLoop::Invoke(const std::function<void()>& fn) {
  if (std::this_thread::get_id() == owner_) {
    fn();
    return;
  }
  std::mutex doneMutex;
  std::condition_variable doneCv;
  bool done = false;
  Post([&] {
    fn();
    std::lock_guard lock(doneMutex);
    done = true;
    doneCv.notify_all();
  });
  std::unique_lock lock(doneMutex);
  doneCv.wait(lock, [&] { return done; });
}

bool EventLoop::RunUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    std::function<void()> next;
    {
      std::unique_lock lock(mutex_);
      // Wake at least every 50 ms so a done() that depends on state outside
      // the queue (a finished flag) is seen without a message to carry it.
      auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
      if (timeoutMs >= 0 && deadline < until) until = deadline;
      wake_.wait_until(lock, until, [&] { return !queue_.empty(); });
      if (!queue_.empty()) {
        next = std::move(queue_.front());
        queue_.pop_front();
      }
    }
    if (next) next();
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return done();
  }
}

void EventLoop::ProcessPending() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queue_);
  }
  for (auto& fn : batch) fn();
}

void LoopMessageTarget::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  loop_.Post([this, message, wParam, lParam] { handler_(message, wParam, lParam); });
}

intptr_t LoopMessageTarget::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  intptr_t result = 0;
  loop_.Invoke([&] { result = handler_(message, wParam, lParam); });
  return result;
}

}  // namespace platform
