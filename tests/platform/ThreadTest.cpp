#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/Thread.h"

namespace {

class CountingThread : public platform::Thread {
 public:
  ~CountingThread() override { Stop(); }
  std::atomic<int> count{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++count;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
};

TEST(Thread, CreatedSuspendedRunsOnlyAfterResumeAndStopsOnTerminate) {
  CountingThread t;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(t.count.load(), 0);
  EXPECT_FALSE(t.Started());
  t.Resume();
  while (t.count.load() < 3) std::this_thread::yield();
  t.Terminate();
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
}

TEST(Thread, SuspendParksTheWorkerAtItsNextCheckPoint) {
  CountingThread t;
  t.Resume();
  while (t.count.load() < 2) std::this_thread::yield();
  t.Suspend();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int parked = t.count.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_LE(t.count.load(), parked + 1);
  t.Resume();
  while (t.count.load() < parked + 3) std::this_thread::yield();
  // Stopping a suspended worker must not hang.
  t.Suspend();
  t.Stop();
  EXPECT_TRUE(t.Finished());
}

TEST(Thread, WaitForANeverStartedThreadReturns) {
  CountingThread t;
  t.WaitFor();
  EXPECT_FALSE(t.Finished());
}

class SyncThread : public platform::Thread {
 public:
  ~SyncThread() override { Stop(); }
  std::thread::id ranOn;

 protected:
  void Execute() override {
    Synchronize([this] { ranOn = std::this_thread::get_id(); });
  }
};

TEST(EventLoop, SynchronizeRunsOnTheLoopThreadAndSentMessagesReturnResults) {
  platform::EventLoop loop;
  platform::SetMainThreadDispatcher(&loop);
  std::vector<uint32_t> seen;
  platform::LoopMessageTarget target(loop, [&](uint32_t m, uintptr_t w, intptr_t) {
    seen.push_back(m);
    return static_cast<intptr_t>(w * 2);
  });
  SyncThread t;
  t.Resume();
  intptr_t sent = 0;
  std::thread poster([&] {
    target.Post(1025, 0, 0);
    sent = target.Send(1027, 21, 0);
  });
  ASSERT_TRUE(loop.RunUntil([&] { return t.Finished() && sent != 0; }, 5000));
  poster.join();
  t.WaitFor();
  platform::SetMainThreadDispatcher(nullptr);
  EXPECT_EQ(t.ranOn, std::this_thread::get_id());
  EXPECT_EQ(sent, 42);
  EXPECT_EQ(seen, (std::vector<uint32_t>{1025, 1027}));
}

}  // namespace
