#include "platform/OsVersion.h"

#include <mutex>

namespace platform {
namespace {
std::mutex g_mutex;
std::optional<OsVersionInfo> g_injected;
}  // namespace

OsVersionInfo GetVersionInfo() {
  std::lock_guard lock(g_mutex);
  if (g_injected) return *g_injected;
  return SystemVersionInfo();
}

void InjectVersionInfo(std::optional<OsVersionInfo> info) {
  std::lock_guard lock(g_mutex);
  g_injected = std::move(info);
}

bool VersionInjected() {
  std::lock_guard lock(g_mutex);
  return g_injected.has_value();
}

}  // namespace platform
