#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {
std::string Home() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string FromEnv(const char* name, const std::string& fallback) {
  if (const char* v = std::getenv(name); v && *v == '/') return v;
  return fallback;
}
}  // namespace

std::string ConfigDir() { return FromEnv("XDG_CONFIG_HOME", Home() + "/.config") + "/Ostrand"; }
std::string DataDir() { return FromEnv("XDG_DATA_HOME", Home() + "/.local/share") + "/Nullifex"; }
std::string RuntimeDir() { return FromEnv("XDG_RUNTIME_DIR", "/tmp"); }

}  // namespace platform
