// nullifex-cli drives: the drives the program can see, as the drive lists
// show them: letter, type, label, file system and size.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "platform/DriveTable.h"

namespace {

using cli::Thousands;

const char* TypeName(uint32_t type) {
  switch (type) {
    case platform::DRIVE_REMOVABLE: return "removable";
    case platform::DRIVE_FIXED: return "fixed";
    case platform::DRIVE_REMOTE: return "network";
    case platform::DRIVE_CDROM: return "cdrom";
    case platform::DRIVE_RAMDISK: return "ramdisk";
    default: return "unknown";
  }
}

int RunDrives(const std::vector<std::string>& args) {
  // Letters given on the command line narrow the list to those drives.
  std::string wanted;
  for (const auto& a : args) {
    char letter = 0;
    if (!cli::ParseDriveLetter(a, letter)) {
      std::fprintf(stderr, "nullifex-cli drives: '%s' is not a drive letter\n", a.c_str());
      return 2;
    }
    wanted.push_back(letter);
  }
  const platform::DriveTable table = platform::DriveTable::Load();
  int status = 0;
  for (char letter : wanted) {
    if (!table.Find(letter)) {
      std::fprintf(stderr, "nullifex-cli drives: there is no drive %c:\n", letter);
      status = 1;
    }
  }

  std::printf("%-6s %-10s %-12s %-12s %s\n", "Drive", "Type", "Label", "File system", "Size (bytes)");
  for (const auto& d : table.Drives()) {
    if (!wanted.empty() && wanted.find(d.letter) == std::string::npos) continue;
    std::string label = "N/A", fileSystem = "N/A", size = "N/A";
    if (auto backend = table.OpenBackend(d.letter, true)) {
      platform::VolumeInformation info;
      if (backend->GetVolumeInformation(info)) {
        label = info.label.empty() ? "" : info.label;
        fileSystem = info.fileSystem;
      }
      if (const uint64_t bytes = backend->DeviceSize()) size = Thousands(bytes);
    }
    std::string notes;
    if (d.system) notes += "  (system drive)";
    if (d.mapped) notes += "  " + d.path;
    std::printf("%c:     %-10s %-12s %-12s %s%s\n", d.letter, TypeName(d.type), label.c_str(), fileSystem.c_str(),
                size.c_str(), notes.c_str());
  }
  return status;
}

}  // namespace

NFX_CLI_COMMAND(drives, "drives", "drives [E: ...]   list the drives: letter, type, label, file system, size",
                RunDrives)
