#include <windows.h>
#include <shlobj.h>

#include <cctype>

#include "platform/ShellNotify.h"

namespace platform {

// The shell's windows on the drive refresh: media removed, media inserted,
// free space changed and directory updated for "E:\", in that order, each
// delivered before the call returns.
bool NotifyDriveChanged(char letter) {
  const char root[] = {static_cast<char>(std::toupper(static_cast<unsigned char>(letter))), ':', '\\', 0};
  for (const LONG event : {SHCNE_MEDIAREMOVED, SHCNE_MEDIAINSERTED, SHCNE_FREESPACE, SHCNE_UPDATEDIR}) {
    SHChangeNotify(event, SHCNF_PATHA | SHCNF_FLUSH, root, nullptr);
  }
  return true;
}

// Windows knows drives by their letters only.
bool NotifyDeviceChanged(const std::string&) { return false; }

}  // namespace platform
