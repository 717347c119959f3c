#include "platform/DriveIdentity.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

#ifndef _WIN32
#include "platform/linux/UDisks.h"
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without the blanks the kernel pads
// vendor and model fields with.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  size_t begin = 0, end = line.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(line[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(line[end - 1]))) --end;
  return line.substr(begin, end - begin);
}

std::string SizeInUnits(uint64_t bytes) {
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB", "PB"};
  double value = static_cast<double>(bytes) / 1000.0;
  size_t unit = 0;
  while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace

std::string GroupThousands(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

void ReadBlockDeviceIdentity(const std::string& kernelName, const std::string& sysfsRoot, DriveIdentity& identity) {
  std::error_code ec;
  const fs::path link = fs::path(sysfsRoot) / "class" / "block" / kernelName;
  const fs::path node = fs::canonical(link, ec);
  if (ec) return;
  const std::string sectors = ReadAttribute(node / "size");
  if (!sectors.empty() && std::isdigit(static_cast<unsigned char>(sectors[0]))) {
    // sysfs counts 512-byte units whatever the device's sector size.
    identity.sizeBytes = std::stoull(sectors) * 512;
  }
  // Vendor and model belong to the whole disk a partition lies on.
  const fs::path disk = fs::exists(node / "partition") ? node.parent_path() : node;
  identity.vendor = ReadAttribute(disk / "device" / "vendor");
  identity.model = ReadAttribute(disk / "device" / "model");
  // SD and MMC cards name themselves in "name".
  if (identity.model.empty()) identity.model = ReadAttribute(disk / "device" / "name");
}

DriveIdentity IdentifyDrive(const DriveEntry& entry, const std::string& sysfsRoot) {
  DriveIdentity identity;
  identity.path = entry.path;
  struct stat st {};
  if (entry.path.empty() || ::stat(entry.path.c_str(), &st) != 0) return identity;
  if (S_ISBLK(st.st_mode)) {
    identity.device = true;
    // The node may be a link (/dev/disk/by-id/...); the kernel knows the
    // device by the name of the node the link leads to.
    std::error_code ec;
    const fs::path real = fs::canonical(entry.path, ec);
    ReadBlockDeviceIdentity((ec ? fs::path(entry.path) : real).filename().string(), sysfsRoot, identity);
#ifndef _WIN32
    // Where the kernel names no vendor or model (some USB bridges, card
    // readers), the storage service may know them from the drive itself.
    if (identity.vendor.empty() && identity.model.empty() && sysfsRoot == "/sys") {
      const udisks::DriveInfo known = udisks::Describe(entry.path);
      identity.vendor = known.vendor;
      identity.model = known.model;
    }
#endif
  } else if (S_ISREG(st.st_mode)) {
    identity.sizeBytes = static_cast<uint64_t>(st.st_size);
  }
  return identity;
}

std::string DescribeDrive(const DriveIdentity& identity) {
  static const char kDot[] = " \xC2\xB7 ";
  std::string line = identity.path.empty() ? std::string("no device or image") : identity.path;
  if (identity.sizeBytes) {
    line += kDot + GroupThousands(*identity.sizeBytes) + " bytes (" + SizeInUnits(*identity.sizeBytes) + ")";
  } else {
    line += std::string(kDot) + "size unknown";
  }
  std::string name = identity.vendor;
  if (!identity.model.empty()) name += (name.empty() ? "" : " ") + identity.model;
  if (!name.empty()) line += kDot + name;
  return line;
}

std::string DescribeDriveLetter(char letter) {
  const std::optional<DriveEntry> entry = DriveTable::Load().Find(letter);
  return entry ? DescribeDrive(IdentifyDrive(*entry)) : std::string();
}

}  // namespace platform
