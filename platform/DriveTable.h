#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/SectorBackend.h"

namespace platform {

// Drive types, numbered as the drive lists and the formatter expect them.
enum DriveType : uint32_t {
  DRIVE_UNKNOWN = 0,
  DRIVE_NO_ROOT_DIR = 1,  // no such drive
  DRIVE_REMOVABLE = 2,
  DRIVE_FIXED = 3,
  DRIVE_REMOTE = 4,
  DRIVE_CDROM = 5,
  DRIVE_RAMDISK = 6,
};

struct DriveEntry {
  char letter = 0;              // upper case
  uint32_t type = DRIVE_UNKNOWN;
  std::string path;             // image file or device node
  std::string mountPoint;       // where the volume is mounted, empty if not
  bool mapped = false;          // comes from the user's drive map
  bool system = false;          // holds the root file system
};

// Letters for the machine's volumes and for the user's drive map
// ($XDG_CONFIG_HOME/Ostrand/drives.conf). A mapped letter takes precedence
// over a machine volume of the same letter, except C:, which is always the
// system drive.
class DriveTable {
 public:
  // Reads the machine's block devices and the user's drive map now.
  static DriveTable Load();
  // Builds a table from explicit entries (tests, and Load itself).
  explicit DriveTable(std::vector<DriveEntry> entries);

  const std::vector<DriveEntry>& Drives() const { return entries_; }
  std::optional<DriveEntry> Find(char letter) const;
  // DRIVE_NO_ROOT_DIR when the letter names no drive.
  uint32_t GetDriveType(char letter) const;
  // Bit 0 for A:, bit 1 for B: and so on.
  uint32_t GetLogicalDrives() const;
  // Letter of the volume holding the root file system, 0 if none was found.
  char SystemDrive() const;
  // A backend for the drive's image file or device; nullptr for no drive.
  // `readOnly` for users that only look (the sector viewer); the system
  // drive is always opened read-only.
  std::unique_ptr<SectorBackend> OpenBackend(char letter, bool readOnly = false) const;

 private:
  std::vector<DriveEntry> entries_;
};

// The drive map file of the current user.
std::string DriveMapPath();
// The mappings of a drive map file: "E: removable /path/to/disk.img" lines
// (letter and colon, a type, then the absolute path to the end of the line;
// '#' starts a comment). Lines of another shape are skipped.
std::vector<DriveEntry> ReadDriveMap(const std::string& file);

}  // namespace platform
