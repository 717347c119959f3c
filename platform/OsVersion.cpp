#include "platform/OsVersion.h"

#include <sys/utsname.h>

#include <cstdio>
#include <fstream>
#include <mutex>

namespace platform {
namespace {
std::mutex g_mutex;
std::optional<OsVersionInfo> g_injected;
}  // namespace

OsVersionInfo GetVersionInfo() {
  std::lock_guard lock(g_mutex);
  if (g_injected) return *g_injected;
  OsVersionInfo info;
  info.platformId = kPlatformNT;
  utsname u{};
  if (uname(&u) == 0) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(u.release, "%u.%u", &major, &minor) == 2) {
      info.majorVersion = major;
      info.minorVersion = minor;
    }
  }
  return info;
}

void InjectVersionInfo(std::optional<OsVersionInfo> info) {
  std::lock_guard lock(g_mutex);
  g_injected = std::move(info);
}

bool VersionInjected() {
  std::lock_guard lock(g_mutex);
  return g_injected.has_value();
}

std::string RealSystemName() {
  std::string pretty;
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("PRETTY_NAME=", 0) == 0) {
        pretty = line.substr(12);
        if (pretty.size() >= 2 && (pretty.front() == '"' || pretty.front() == '\'')) {
          pretty = pretty.substr(1, pretty.size() - 2);
        }
        break;
      }
    }
    if (!pretty.empty()) break;
  }
  if (pretty.empty()) pretty = "Linux";
  utsname u{};
  if (uname(&u) == 0) pretty += std::string(", kernel ") + u.release;
  return pretty;
}

}  // namespace platform
