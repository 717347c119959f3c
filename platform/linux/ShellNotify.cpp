#include "platform/ShellNotify.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/DriveTable.h"

namespace platform {

bool NotifyDeviceChanged(const std::string& devicePath) {
  struct stat st {};
  if (devicePath.empty() || stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  // The sysfs name of the node, through any symlink (/dev/disk/by-id/...).
  char real[PATH_MAX];
  if (realpath(devicePath.c_str(), real) == nullptr) return false;
  const char* name = std::strrchr(real, '/');
  name = name ? name + 1 : real;
  const std::string uevent = std::string("/sys/class/block/") + name + "/uevent";
  int fd = open(uevent.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  static const char kChange[] = "change";
  const bool ok = write(fd, kChange, sizeof kChange - 1) == static_cast<ssize_t>(sizeof kChange - 1);
  close(fd);
  return ok;
}

bool NotifyDriveChanged(char letter) {
  const auto entry = DriveTable::Load().Find(letter);
  return entry && NotifyDeviceChanged(entry->path);
}

}  // namespace platform
