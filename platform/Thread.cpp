#include "platform/Thread.h"

#include "platform/Dispatcher.h"

namespace platform {

Thread::~Thread() { Stop(); }

void Thread::Resume() {
  {
    std::lock_guard lock(mutex_);
    suspended_.store(false);
  }
  wake_.notify_all();
  if (!started_) {
    started_ = true;
    thread_ = std::thread([this] { Run(); });
  }
}

void Thread::Suspend() { suspended_.store(true); }

void Thread::Terminate() { terminated_.store(true); }

void Thread::WaitFor() {
  if (!started_) return;
  {
    std::lock_guard lock(mutex_);
    suspended_.store(false);
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Thread::Stop() {
  Terminate();
  WaitFor();
}

bool Thread::Terminated() {
  if (suspended_.load()) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !suspended_.load(); });
  }
  return terminated_.load();
}

void Thread::Synchronize(const std::function<void()>& fn) { platform::Synchronize(fn); }

void Thread::Run() {
  Execute();
  finished_.store(true);
}

}  // namespace platform
