#include "cli/CliSupport.h"

#include <cctype>
#include <csignal>
#include <utility>

#include "platform/DriveIdentity.h"

namespace cli {

bool ParseDriveLetter(const std::string& text, char& letter) {
  if (text.empty() || text.size() > 2 || (text.size() == 2 && text[1] != ':')) return false;
  if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return true;
}

std::string Thousands(uint64_t n) { return platform::GroupThousands(n); }

EngineSession::EngineSession(platform::AskUserFunction ask) {
  platform::SetMainThreadDispatcher(&loop);
  platform::SetAskUser(std::move(ask));
}

EngineSession::~EngineSession() {
  platform::SetMainThreadDispatcher(nullptr);
  platform::SetAskUser(nullptr);
}

namespace {
volatile sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }
}  // namespace

// std::signal: glibc installs the handler with SA_RESTART, so the
// terminal's reads and the loop's waits carry on; it is also what Windows has.
InterruptCatcher::InterruptCatcher() {
  previous_ = std::signal(SIGINT, OnInterrupt);
  installed_ = previous_ != SIG_ERR;
}

InterruptCatcher::~InterruptCatcher() { Restore(); }

bool InterruptCatcher::Interrupted() const { return g_interrupted != 0; }

void InterruptCatcher::Clear() { g_interrupted = 0; }

void InterruptCatcher::Restore() {
  if (!installed_) return;
  std::signal(SIGINT, previous_);
  installed_ = false;
}

}  // namespace cli
