#include "platform/linux/Mounts.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' &&
        s[i + 1] <= '7' && s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' &&
        s[i + 3] <= '7') {
      out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string out(resolved);
  std::free(resolved);
  return out;
}

}  // namespace

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

dev_t SysfsDevice(const std::string& sysDir) {
  unsigned major = 0, minor = 0;
  if (std::sscanf(ReadFirstLine(sysDir + "/dev").c_str(), "%u:%u", &major, &minor) != 2) return 0;
  return makedev(major, minor);
}

uint64_t SysfsSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return 0;
  // The "size" attribute counts 512-byte units whatever the device's sector.
  const std::string sectors = ReadFirstLine("/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                                            std::to_string(minor(st.st_rdev)) + "/size");
  return sectors.empty() ? 0 : std::strtoull(sectors.c_str(), nullptr, 10) * 512;
}

std::vector<MountEntry> ReadMountInfo(const std::string& path) {
  std::vector<MountEntry> mounts;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    std::string word;
    while (fields >> word) f.push_back(word);
    // id parent major:minor root mount-point options [optional...] - type source super-options
    size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 5 || dash + 2 >= f.size()) continue;
    unsigned major = 0, minor = 0;
    if (std::sscanf(f[2].c_str(), "%u:%u", &major, &minor) != 2) continue;
    MountEntry m;
    m.device = makedev(major, minor);
    m.mountPoint = Unescape(f[4]);
    m.fsType = f[dash + 1];
    m.source = Unescape(f[dash + 2]);
    // A file system whose st_dev is not its device (btrfs) still names the
    // device as its source.
    if (major == 0 && m.source.rfind("/dev/", 0) == 0) {
      struct stat st {};
      if (::stat(m.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) m.device = st.st_rdev;
    }
    mounts.push_back(std::move(m));
  }
  return mounts;
}

dev_t DeviceOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  if (S_ISBLK(st.st_mode)) return st.st_rdev;
  if (!S_ISREG(st.st_mode)) return 0;
  // An image attached to a loop device: the kernel names the backing file
  // in sysfs.
  const std::string image = RealPath(path);
  DIR* dir = ::opendir("/sys/block");
  if (!dir) return 0;
  dev_t found = 0;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.rfind("loop", 0) != 0) continue;
    std::string backing = ReadFirstLine("/sys/block/" + name + "/loop/backing_file");
    if (backing.empty()) continue;
    if (backing != image) continue;
    if (const dev_t device = SysfsDevice("/sys/block/" + name); device != 0) {
      found = device;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

std::string MountPointOfDevice(dev_t device, const std::vector<MountEntry>& mounts) {
  if (device == 0) return {};
  for (const auto& m : mounts) {
    if (m.device == device) return m.mountPoint;
  }
  return {};
}

std::string MountPointOf(const std::string& path) {
  return MountPointOfDevice(DeviceOfPath(path), ReadMountInfo());
}

dev_t RootDevice(const std::vector<MountEntry>& mounts) {
  // The last mount on "/" is the one in force.
  const MountEntry* rootMount = nullptr;
  for (const auto& m : mounts) {
    if (m.mountPoint == "/") rootMount = &m;
  }
  if (!rootMount) return 0;
  if (major(rootMount->device) != 0) return rootMount->device;
  // Btrfs (and other file systems with subvolumes) show an anonymous device
  // number; the device node they were mounted from is the real one. An
  // overlay or a network root has no node.
  struct stat st {};
  if (rootMount->source.rfind("/dev/", 0) == 0 && ::stat(rootMount->source.c_str(), &st) == 0 &&
      S_ISBLK(st.st_mode)) {
    return st.st_rdev;
  }
  return 0;
}

std::vector<dev_t> DevicesBeneath(dev_t device) {
  std::vector<dev_t> found;
  std::vector<dev_t> pending{device};
  // Device mapper, RAID and the like list the devices they are built on in
  // "slaves"; each of those may be built on others in turn.
  while (!pending.empty() && found.size() < 256) {
    const dev_t d = pending.back();
    pending.pop_back();
    const std::string slaves =
        "/sys/dev/block/" + std::to_string(major(d)) + ":" + std::to_string(minor(d)) + "/slaves";
    DIR* dir = ::opendir(slaves.c_str());
    if (!dir) continue;
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const dev_t below = SysfsDevice(slaves + "/" + entry->d_name);
      if (below == 0 || std::find(found.begin(), found.end(), below) != found.end()) continue;
      found.push_back(below);
      pending.push_back(below);
    }
    ::closedir(dir);
  }
  return found;
}

}  // namespace platform
