#pragma once
#include <signal.h>

#include <cstdint>
#include <string>

// What the subcommands share: reading a drive letter from an argument,
// figures with thousands separators, and Ctrl-C caught while a run lasts.
namespace cli {

// "E" or "E:", either case; the letter comes back upper-case.
[[nodiscard]] bool ParseDriveLetter(const std::string& text, char& letter);

// 1234567 -> "1,234,567".
std::string Thousands(uint64_t n);

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
  struct sigaction previous_ {};
};

}  // namespace cli
