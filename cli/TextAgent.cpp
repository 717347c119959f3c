// polkit's text agent for a terminal run: a user who asks the storage
// service for a device is asked for the password on the terminal when no
// desktop agent answers for this process. The agent is started the first
// time authorisation may be needed and stopped, by its process id, when the
// program ends.
#include "cli/TextAgent.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/linux/UDisks.h"

extern char** environ;

namespace cli {
namespace {

pid_t g_agent = -1;

void StopAgent() {
  if (g_agent <= 0) return;
  ::kill(g_agent, SIGTERM);
  ::waitpid(g_agent, nullptr, 0);
  g_agent = -1;
}

void StartAgent() {
  if (::isatty(0) != 1) return;
  const char* tool = "/usr/bin/pkttyagent";
  if (::access(tool, X_OK) != 0) return;
  int notify[2];
  if (::pipe(notify) != 0) return;
  const std::string pid = std::to_string(::getpid());
  const std::string fd = std::to_string(notify[1]);
  // In a login session, --fallback lets the session's desktop agent, when
  // there is one, go on answering; this one only stands in where there is
  // none. polkit finds a fallback agent only through the session, so a
  // process outside any (a container, a service's shell) registers its agent
  // plainly, or the question would find no agent at all.
  char* session = nullptr;
  const bool inSession = sd_pid_get_session(0, &session) >= 0;
  std::free(session);
  const char* argv[] = {tool, "--process", pid.c_str(), "--notify-fd", fd.c_str(), inSession ? "--fallback" : nullptr,
                        nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, notify[0]);
  pid_t child = -1;
  const int error = posix_spawn(&child, tool, &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(notify[1]);
  if (error == 0) {
    g_agent = child;
    std::atexit(StopAgent);
    // The agent closes its end once it is registered; a question asked
    // before that would find no agent. It gets a few seconds.
    pollfd p{notify[0], POLLIN, 0};
    char byte;
    while (::poll(&p, 1, 5000) > 0 && ::read(notify[0], &byte, 1) > 0) {
    }
  }
  ::close(notify[0]);
}

}  // namespace

void UseTextAgentOnTerminal() { platform::udisks::SetBeforeAuthorisation(StartAgent); }

}  // namespace cli
