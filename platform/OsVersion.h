#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Version information in the form the program's family and name rules read.
enum OsPlatform : uint32_t {
  kPlatformWin32s = 0,
  kPlatformWindows = 1,  // the 95/98/ME family
  kPlatformNT = 2,
};

struct OsVersionInfo {
  uint32_t platformId = kPlatformNT;
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 0;
  std::string csdVersion;  // service-pack text
};

// This system's version, or the injected one: tests inject another version
// to run the 95/98/ME branches.
OsVersionInfo GetVersionInfo();
// The running system's own, never the injected one.
OsVersionInfo SystemVersionInfo();
void InjectVersionInfo(std::optional<OsVersionInfo> info);
// True while a version has been injected (the log then names it from the
// Windows table instead of the real system).
bool VersionInjected();

// The running system's name for the log header: on Linux "PRETTY_NAME of
// os-release, kernel release", on Windows its version numbers.
std::string RealSystemName();

}  // namespace platform
