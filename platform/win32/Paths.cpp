// The program's folders on Windows: the user's roaming application data
// for the drive map (the settings live in the registry), the local one for
// the demo image, the temporary folder for what lasts one session.
#include <cstdlib>

#include "platform/Paths.h"

namespace platform {
namespace {
std::string FromEnv(const char* name, const std::string& fallback) {
  if (const char* v = std::getenv(name); v && *v) return v;
  return fallback;
}
}  // namespace

std::string ConfigDir() { return FromEnv("APPDATA", "C:\\") + "\\Ostrand"; }
std::string DataDir() { return FromEnv("LOCALAPPDATA", FromEnv("APPDATA", "C:\\")) + "\\Nullifex"; }
std::string RuntimeDir() { return FromEnv("TEMP", "C:\\Windows\\Temp"); }

}  // namespace platform
