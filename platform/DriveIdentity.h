#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "platform/DriveTable.h"

namespace platform {

// What a drive letter stands for on this machine. A letter is this
// program's own naming, so before anything is erased the user is shown the
// thing itself: the device node or image file, its size, and for a device
// the vendor and model the kernel reports.
struct DriveIdentity {
  std::string path;            // device node or image file
  bool device = false;         // a block device (else a file)
  std::optional<uint64_t> sizeBytes;
  std::string vendor;          // devices only; empty when unknown
  std::string model;
};

// Reads the identity of `entry` now. `sysfsRoot` is where the kernel's
// device tree is mounted (tests give a tree of their own).
DriveIdentity IdentifyDrive(const DriveEntry& entry, const std::string& sysfsRoot = "/sys");
// The device part alone, from the block device's kernel name ("sdb1").
void ReadBlockDeviceIdentity(const std::string& kernelName, const std::string& sysfsRoot, DriveIdentity& identity);

// One line for the confirmation and the CLI, in UTF-8 (paths and the
// kernel's strings are the system's own bytes):
//   /dev/sdb1 · 15,931,539,456 bytes (15.9 GB) · SanDisk Cruzer Blade
std::string DescribeDrive(const DriveIdentity& identity);
// The line for a letter of the machine's drive table; empty when the
// letter names no drive.
std::string DescribeDriveLetter(char letter);

// Decimal text with "," between groups of three digits: 1234567 -> "1,234,567".
std::string GroupThousands(uint64_t value);

}  // namespace platform
