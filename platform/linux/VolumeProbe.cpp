#include "platform/linux/VolumeProbe.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/FileIo.h"

namespace platform {
namespace {
std::string Value(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  size_t len = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &len) != 0 || !data) return {};
  // libblkid counts the terminating zero in len.
  std::string value(data, len);
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}
}  // namespace

bool ProbeVolume(int fd, uint64_t size, VolumeInformation& info) {
  blkid_probe probe = blkid_new_probe();
  if (!probe) return false;
  bool found = false;
  if (blkid_probe_set_device(probe, fd, 0, static_cast<blkid_loff_t>(size)) == 0) {
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(
        probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION | BLKID_SUBLKS_USAGE);
    // Only file systems: a swap area or a RAID member is not a volume the
    // system would mount on a drive letter.
    blkid_probe_filter_superblocks_usage(probe, BLKID_FLTR_ONLYIN, BLKID_USAGE_FILESYSTEM);
    // 0: one file system found; 1: none; -2: ambiguous; -1: error.
    if (blkid_do_safeprobe(probe) == 0) {
      const std::string type = Value(probe, "TYPE");
      if (!type.empty()) {
        found = true;
        if (type == "vfat") {
          info.fileSystem = Value(probe, "VERSION") == "FAT32" ? "FAT32" : "FAT";
        } else if (type == "ntfs") {
          info.fileSystem = "NTFS";
        } else {
          info.fileSystem = type;
        }
        info.label = Value(probe, "LABEL");
      }
    }
  }
  blkid_free_probe(probe);
  return found;
}

bool ProbeVolumePath(const std::string& path, VolumeInformation& info) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool found = ProbeVolume(fd, 0, info);
  ::close(fd);
  return found;
}

bool ProbeVolumeBytes(const uint8_t* data, size_t size, VolumeInformation& info) {
  const int fd = ::memfd_create("nfx-probe", MFD_CLOEXEC);
  if (fd < 0) return false;
  const bool found = WriteAll(fd, data, size) && ProbeVolume(fd, size, info);
  ::close(fd);
  return found;
}

}  // namespace platform
