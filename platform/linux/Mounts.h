#pragma once
#include <sys/types.h>

#include <cstdint>

#include <string>
#include <vector>

namespace platform {

// One line of /proc/self/mountinfo.
struct MountEntry {
  dev_t device = 0;        // major:minor of the mounted device
  std::string mountPoint;  // unescaped
  std::string fsType;
  std::string source;      // e.g. /dev/sdb1
};

std::vector<MountEntry> ReadMountInfo(const std::string& path = "/proc/self/mountinfo");

// The block device a path stands for: its st_rdev for a device node; for an
// image file, the loop device it is attached to (if any); 0 otherwise.
dev_t DeviceOfPath(const std::string& path);

// Where `device` is mounted ("" when it is not). With several mounts of the
// same device the first listed wins: that is the one the system made first.
std::string MountPointOfDevice(dev_t device, const std::vector<MountEntry>& mounts);
std::string MountPointOf(const std::string& path);

// The first line of a file such as a sysfs attribute, without its newline;
// "" when it cannot be read.
std::string ReadFirstLine(const std::string& path);
// The device number a sysfs device folder gives in its "dev" file; 0 when
// it gives none.
dev_t SysfsDevice(const std::string& sysDir);
// The size in bytes of the block device node `path` as sysfs gives it, which
// any user may read, also one who may not open the node; 0 when `path` is no
// block device.
uint64_t SysfsSize(const std::string& path);

// The block device holding the root file system; 0 when "/" is not on a
// block device (a container's overlay, a network root).
dev_t RootDevice(const std::vector<MountEntry>& mounts);

// The block devices `device` is built on (device mapper, RAID), all the way
// down; empty for a plain disk or partition.
std::vector<dev_t> DevicesBeneath(dev_t device);

}  // namespace platform
