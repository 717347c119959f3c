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

InterruptCatcher::InterruptCatcher() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESTART;  // the terminal's reads and the loop's waits carry on
  sigemptyset(&action.sa_mask);
  installed_ = sigaction(SIGINT, &action, &previous_) == 0;
}

InterruptCatcher::~InterruptCatcher() { Restore(); }

bool InterruptCatcher::Interrupted() const { return g_interrupted != 0; }

void InterruptCatcher::Clear() { g_interrupted = 0; }

void InterruptCatcher::Restore() {
  if (!installed_) return;
  sigaction(SIGINT, &previous_, nullptr);
  installed_ = false;
}

}  // namespace cli
