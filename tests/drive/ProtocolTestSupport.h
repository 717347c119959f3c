#pragma once
// Controllers that reach their drives through the Windows access protocols
// over the emulated services, under an injected system version.
#include <memory>
#include <optional>

#include "drive/CDriveController.h"
#include "platform/OsVersion.h"
#include "platform/linux/Win32DiskEmulator.h"
#include "platform/win32api/WindowsDiskBackend.h"

namespace protocoltest {

using platform::win32api::Win32DiskEmulator;

inline platform::OsVersionInfo Version(uint32_t platformId, uint32_t build) {
  platform::OsVersionInfo v;
  v.platformId = platformId;
  v.majorVersion = platformId == platform::kPlatformNT ? 5 : 4;
  v.buildNumber = build;
  return v;
}
inline const platform::OsVersionInfo kWin95 = Version(platform::kPlatformWindows, 950);
inline const platform::OsVersionInfo kWin98 = Version(platform::kPlatformWindows, 2222);
inline const platform::OsVersionInfo kWinMe = Version(platform::kPlatformWindows, 3000);
inline const platform::OsVersionInfo kWinXp = Version(platform::kPlatformNT, 2600);

// The drives of a controller made with this: the protocols over `emulator`.
inline CDriveController::BackendFactory EmulatedProtocols(std::shared_ptr<Win32DiskEmulator> emulator) {
  return [emulator](char letter) { return platform::win32api::MakeWindowsDiskBackend(emulator, letter); };
}

// Puts the real version back when it goes.
struct InjectedVersion {
  explicit InjectedVersion(const platform::OsVersionInfo& v) { platform::InjectVersionInfo(v); }
  ~InjectedVersion() { platform::InjectVersionInfo(std::nullopt); }
  InjectedVersion(const InjectedVersion&) = delete;
  InjectedVersion& operator=(const InjectedVersion&) = delete;
};

}  // namespace protocoltest
