#pragma once
#include <csignal>
#include <cstdint>
#include <string>

#include "platform/AskUser.h"
#include "platform/Dispatcher.h"

// What the subcommands share: reading a drive letter from an argument,
// figures with thousands separators, the engine bound to the terminal, and
// Ctrl-C caught while a run lasts.
namespace cli {

// "E" or "E:", either case; the letter comes back upper-case.
[[nodiscard]] bool ParseDriveLetter(const std::string& text, char& letter);

// 1234567 -> "1,234,567".
std::string Thousands(uint64_t n);

// The main thread's part while a subcommand runs an engine thread: `loop`
// serves the workers' Synchronize calls and `ask` answers their questions,
// both bound from construction until the object goes. Declare it before the
// threads and message targets that use it, so they go first.
class EngineSession {
 public:
  explicit EngineSession(platform::AskUserFunction ask);
  ~EngineSession();
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  platform::EventLoop loop;
};

// Catches SIGINT from construction until Restore() (or destruction), so a
// run can answer Ctrl-C as its window answers Stop or Cancel; the previous
// handler is put back afterwards. One at a time.
class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // True once Ctrl-C has been pressed since the last Clear().
  [[nodiscard]] bool Interrupted() const;
  void Clear();
  void Restore();

 private:
  bool installed_ = false;
  void (*previous_)(int) = SIG_DFL;
};

}  // namespace cli
