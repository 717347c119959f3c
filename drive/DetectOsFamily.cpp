#include "drive/CDriveController.h"
#include "platform/OsVersion.h"

// The access protocol follows the system's version: the NT family opens the
// volume; the 95/98/ME family is told apart by its build number (the low 16
// bits; the high ones hold the version on that family).
OsFamily DetectOsFamily() {
  const platform::OsVersionInfo info = platform::GetVersionInfo();
  if (info.platformId == platform::kPlatformNT) return OS_NT;
  if (info.platformId == platform::kPlatformWindows) {
    const uint32_t build = info.buildNumber & 0xFFFF;
    if (build > 1000) return build < 3000 ? OS_WIN98 : OS_WINME;
  }
  return OS_WIN95;
}
