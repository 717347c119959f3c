#pragma once
#include <memory>

#include "platform/SectorBackend.h"
#include "platform/win32api/Win32Disk.h"

namespace platform::win32api {

// The OS families, numbered as CDriveController's OsFamily.
inline constexpr uint16_t kFamilyWin95 = 1;  // int 25h / int 26h through VWIN32
inline constexpr uint16_t kFamilyWin98 = 2;  // int 21h 7305h through VWIN32
inline constexpr uint16_t kFamilyWinMe = 3;  // int 21h 7305h through VWIN32
inline constexpr uint16_t kFamilyNT = 4;     // volume handle

// The sector backend of the Windows systems: a volume handle on "\\.\X:"
// on the NT family, absolute disk calls through the VWIN32 device on
// 95/98/ME, as the controller's OS family says (SetOsFamily; NT until told).
// Every service is reached through `api`.
std::unique_ptr<SectorBackend> MakeWindowsDiskBackend(std::shared_ptr<Win32Disk> api, char letter);

}  // namespace platform::win32api
