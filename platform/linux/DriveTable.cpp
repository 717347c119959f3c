// The drive table of Linux: the machine's block devices from sysfs, the
// root file system's volume as C:, and the user's drive map.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <set>

#include "platform/DriveTable.h"
#include "platform/linux/LinuxBackend.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/UDisks.h"

namespace platform {
namespace {

std::vector<std::string> List(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

struct MachineVolume {
  std::string node;  // /dev/sdb1
  dev_t device = 0;
  uint32_t type = DRIVE_FIXED;
  bool floppy = false;
};

// The drive type the system would give the disk `disk` (its /sys/block name).
uint32_t TypeOfDisk(const std::string& disk, bool removable) {
  if (StartsWith(disk, "fd")) return DRIVE_REMOVABLE;
  if (StartsWith(disk, "sr") || StartsWith(disk, "scd")) return DRIVE_CDROM;
  if (StartsWith(disk, "ram") || StartsWith(disk, "zram") || StartsWith(disk, "pmem")) {
    return DRIVE_RAMDISK;
  }
  if (StartsWith(disk, "nbd") || StartsWith(disk, "rbd")) return DRIVE_REMOTE;
  if (removable || StartsWith(disk, "mmcblk")) return DRIVE_REMOVABLE;
  return DRIVE_FIXED;
}

// Volumes are what a file system can sit on: the partitions of a
// partitioned disk, or the disk itself when it has none (a floppy, a stick
// formatted whole). A device another one is built on (an LVM or RAID
// member, a LUKS container) is not a volume; the device built on it is.
std::vector<MachineVolume> ScanVolumes() {
  std::vector<MachineVolume> volumes;
  for (const std::string& disk : List("/sys/block")) {
    const std::string dir = "/sys/block/" + disk;
    // eMMC boot and replay-protected areas are not volumes.
    if (disk.find("boot") != std::string::npos || disk.find("rpmb") != std::string::npos) continue;
    const bool removable = ReadFirstLine(dir + "/removable") == "1";
    const uint32_t type = TypeOfDisk(disk, removable);
    std::vector<std::string> parts;
    for (const std::string& name : List(dir)) {
      if (StartsWith(name, disk.c_str()) && Exists(dir + "/" + name + "/partition")) {
        parts.push_back(dir + "/" + name);
      }
    }
    if (parts.empty()) parts.push_back(dir);
    for (const std::string& sys : parts) {
      if (!List(sys + "/holders").empty()) continue;
      const bool empty = ReadFirstLine(sys + "/size") == "0" || ReadFirstLine(sys + "/size").empty();
      // An empty card reader or floppy drive still has its letter; an
      // unused loop or zram device is not a drive at all.
      if (empty && type != DRIVE_REMOVABLE && type != DRIVE_CDROM) continue;
      if (empty && (StartsWith(disk, "loop") || StartsWith(disk, "zram"))) continue;
      MachineVolume v;
      v.node = "/dev/" + sys.substr(sys.rfind('/') + 1);
      v.device = SysfsDevice(sys);
      v.type = type;
      // A device the storage service calls a system device (the machine's
      // own card reader holding its boot files, one the administrator
      // marked) is never offered as a removable drive.
      if (type == DRIVE_REMOVABLE && !StartsWith(disk, "fd") && udisks::Describe(v.node).system) {
        v.type = DRIVE_FIXED;
      }
      v.floppy = StartsWith(disk, "fd");
      volumes.push_back(v);
    }
  }
  return volumes;
}

// The whole disk a partition belongs to (the device itself when it is not
// a partition).
dev_t WholeDisk(dev_t device) {
  const std::string sys =
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  if (!Exists(sys + "/partition")) return device;
  const dev_t parent = SysfsDevice(sys + "/..");
  return parent ? parent : device;
}

}  // namespace

DriveTable DriveTable::Load() {
  const std::vector<MountEntry> mounts = ReadMountInfo();
  const dev_t root = RootDevice(mounts);
  const std::vector<MachineVolume> volumes = ScanVolumes();

  std::vector<DriveEntry> entries;
  std::set<char> used{'C'};

  // The system drive is C: whatever the map says. When the root file system
  // is on no block device (a container's overlay), C: still stands for it,
  // with no device behind it.
  DriveEntry system;
  system.letter = 'C';
  system.type = DRIVE_FIXED;
  system.system = true;
  system.mountPoint = "/";
  for (const auto& v : volumes) {
    if (root != 0 && v.device == root) system.path = v.node;
  }
  entries.push_back(system);

  // The user's map next: a mapped letter takes precedence over a machine
  // volume. An entry naming the system volume or the disk holding it is
  // dropped: it would make the system drive wipeable under another letter.
  // With the root on LVM, RAID or an encrypted volume, the partitions and
  // disks beneath it hold the system just as well.
  std::set<dev_t> systemDevices;
  if (root != 0) {
    systemDevices = {root, WholeDisk(root)};
    for (const dev_t d : DevicesBeneath(root)) {
      systemDevices.insert(d);
      systemDevices.insert(WholeDisk(d));
    }
  }
  for (DriveEntry& e : ReadDriveMap(DriveMapPath())) {
    if (used.count(e.letter)) continue;
    const dev_t device = DeviceOfPath(e.path);
    if (device != 0 && systemDevices.count(device)) continue;
    e.mountPoint = MountPointOfDevice(device, mounts);
    used.insert(e.letter);
    entries.push_back(e);
  }

  // The machine's other volumes take the letters left: floppies A: and B:,
  // the rest D: onwards. A volume the map already names keeps only the
  // map's letter.
  std::set<dev_t> mappedDevices;
  for (const auto& e : entries) {
    if (e.mapped) mappedDevices.insert(DeviceOfPath(e.path));
  }
  for (const auto& v : volumes) {
    if (root != 0 && v.device == root) continue;
    if (mappedDevices.count(v.device)) continue;
    const char first = v.floppy ? 'A' : 'D';
    const char last = v.floppy ? 'B' : 'Z';
    char letter = 0;
    for (char c = first; c <= last; ++c) {
      if (!used.count(c)) {
        letter = c;
        break;
      }
    }
    if (!letter) continue;
    DriveEntry e;
    e.letter = letter;
    e.type = v.type;
    e.path = v.node;
    e.mountPoint = MountPointOfDevice(v.device, mounts);
    used.insert(letter);
    entries.push_back(e);
  }
  return DriveTable(std::move(entries));
}

std::unique_ptr<SectorBackend> DriveTable::OpenBackend(char letter, bool readOnly) const {
  const auto e = Find(letter);
  if (!e || e->path.empty()) return nullptr;
  LinuxBackendOptions options;
  // The program never writes the volume it runs from.
  options.readOnly = readOnly || e->system;
  return MakeLinuxBackend(e->path, options);
}

}  // namespace platform
