#pragma once
// Shared pieces of the wipe tests: a window that records the thread's
// messages, a formatter that follows a script, and guards that put the
// process-wide injections back.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/AskUser.h"
#include "platform/Formatter.h"
#include "platform/MessageTarget.h"
#include "platform/OsVersion.h"
#include "wipe/WipeMessages.h"

namespace wipetest {

struct Message {
  uint32_t id;
  uintptr_t wParam;
  intptr_t lParam;
  WipeProgress progress{};  // for WM_WIPE_PROGRESS
};

// The window. Messages may come from the worker (Send) while the test
// thread reads them, so everything is under one lock. A Send calls onSend
// (outside the lock) before returning, as a window handles the message
// while the worker waits.
class RecordingTarget : public platform::MessageTarget {
 public:
  void Post(uint32_t id, uintptr_t w, intptr_t l) override { Record(Message{id, w, l}); }
  intptr_t Send(uint32_t id, uintptr_t w, intptr_t l) override {
    Message m{id, w, l};
    if (id == WM_WIPE_PROGRESS && w != 0) m.progress = *reinterpret_cast<const WipeProgress*>(w);
    Record(m);
    if (onSend) onSend(m);
    return 0;
  }
  std::vector<Message> Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::vector<WipeProgress> Progress(int phase = -1) {
    std::vector<WipeProgress> out;
    for (const auto& m : Messages()) {
      if (m.id == WM_WIPE_PROGRESS && (phase < 0 || m.progress.phase == phase)) out.push_back(m.progress);
    }
    return out;
  }
  int Count(uint32_t id) {
    int n = 0;
    for (const auto& m : Messages()) n += m.id == id ? 1 : 0;
    return n;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
  }
  std::function<void(const Message&)> onSend;

 private:
  void Record(const Message& m) {
    std::lock_guard lock(mutex_);
    messages_.push_back(m);
  }
  std::mutex mutex_;
  std::vector<Message> messages_;
};

// One scripted outcome per attempt (the last one repeats); each attempt
// reports 0, 50 and 100 percent and a line of text first.
class ScriptedFormatter : public platform::Formatter {
 public:
  bool Available(platform::FormatKind) const override { return available; }
  void Format(const platform::FormatRequest& request, platform::FormatObserver& observer) override {
    std::lock_guard lock(mutex);
    requests.push_back(request);
    times.push_back(std::chrono::steady_clock::now());
    const bool ok = outcomes.empty() ? true : outcomes[std::min(requests.size(), outcomes.size()) - 1];
    observer.Percent(0);
    observer.Text("formatting");
    observer.Percent(50);
    observer.Percent(100);
    observer.Done(ok);
  }
  std::mutex mutex;
  bool available = true;
  std::vector<bool> outcomes;
  std::vector<platform::FormatRequest> requests;
  std::vector<std::chrono::steady_clock::time_point> times;
};

struct FormatterGuard {
  explicit FormatterGuard(platform::Formatter* f) { platform::InjectFormatter(f); }
  ~FormatterGuard() { platform::InjectFormatter(nullptr); }
};

// Windows 98 (4.10), to inject for the paths of the 95/98/ME family.
inline platform::OsVersionInfo Windows98() {
  platform::OsVersionInfo v;
  v.platformId = platform::kPlatformWindows;
  v.majorVersion = 4;
  v.minorVersion = 10;
  return v;
}

struct VersionGuard {
  explicit VersionGuard(const platform::OsVersionInfo& info) { platform::InjectVersionInfo(info); }
  ~VersionGuard() { platform::InjectVersionInfo(std::nullopt); }
};

// Answers every question with `answer` (or per title through `byTitle`)
// and keeps what was asked.
struct ScriptedAnswers {
  struct Question {
    std::string title, text;
    int buttons, icon;
  };
  explicit ScriptedAnswers(std::function<int(const Question&)> answer) {
    platform::SetAskUser([this, answer](const std::string& text, const std::string& title, int buttons, int icon) {
      Question q{title, text, buttons, icon};
      {
        std::lock_guard lock(mutex);
        asked.push_back(q);
      }
      return answer(q);
    });
  }
  ~ScriptedAnswers() { platform::SetAskUser(nullptr); }
  std::vector<Question> Asked() {
    std::lock_guard lock(mutex);
    return asked;
  }
  std::mutex mutex;
  std::vector<Question> asked;
};

template <typename Thread>
bool RunToEnd(Thread& thread, std::chrono::seconds limit = std::chrono::seconds(60)) {
  thread.Resume();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!thread.Finished()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  thread.WaitFor();
  return true;
}

}  // namespace wipetest
