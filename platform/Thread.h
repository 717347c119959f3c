#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

// A worker thread in the shape the program's windows use: created suspended,
// started by Resume, asked to stop with Terminate, waited for with WaitFor.
// Linux has no pre-emptive suspend: Suspend parks the worker at its next
// check point (Terminated()), which is also where it looks for a stop.
//
// The owner must WaitFor (or Stop) before the derived object is destroyed;
// a derived destructor calls Stop() first so Execute never outlives it.
class Thread {
 public:
  Thread() = default;
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Resume();     // starts the thread the first time, else un-parks it
  void Suspend();    // the worker parks at its next check point
  void Terminate();  // sets the stop request
  void WaitFor();    // un-parks and joins; returns at once if never started
  void Stop();       // Terminate, then WaitFor

  bool IsTerminateRequested() const { return terminated_.load(); }
  bool IsSuspended() const { return suspended_.load(); }
  bool Started() const { return started_; }
  bool Finished() const { return finished_.load(); }

 protected:
  virtual void Execute() = 0;
  // A check point: parks while suspended, then reports the stop request.
  bool Terminated();
  // Runs fn on the main thread while this worker waits.
  void Synchronize(const std::function<void()>& fn);

 private:
  void Run();

  std::thread thread_;
  bool started_ = false;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> suspended_{false};
  std::atomic<bool> finished_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
};

}  // namespace platform
