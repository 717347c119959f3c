// nullifex-cli view E: SECTOR: one sector as the sector viewer shows it.
// The drive is opened read-only, as the viewer opens it.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "drive/CDriveController.h"
#include "platform/AlignedBuffer.h"
#include "platform/DriveTable.h"
#include "viewer/SectorDump.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitDrive = 1;

using cli::Thousands;

bool ParseSector(const std::string& s, uint64_t& sector) {
  if (s.empty() || s.size() > 20) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  errno = 0;
  char* end = nullptr;
  sector = std::strtoull(s.c_str(), &end, 10);
  return errno == 0 && end && *end == '\0';
}

int RunView(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: nullifex-cli view E: SECTOR\n");
    return kExitUsage;
  }
  char letter = 0;
  uint64_t sector = 0;
  if (!cli::ParseDriveLetter(args[0], letter)) {
    std::fprintf(stderr, "nullifex-cli view: '%s' is not a drive letter\n", args[0].c_str());
    return kExitUsage;
  }
  if (!ParseSector(args[1], sector)) {
    std::fprintf(stderr, "nullifex-cli view: '%s' is not a valid sector number\n", args[1].c_str());
    return kExitUsage;
  }
  const platform::DriveTable table = platform::DriveTable::Load();
  if (!table.Find(letter)) {
    std::fprintf(stderr, "nullifex-cli view: there is no drive %c:\n", letter);
    return kExitDrive;
  }

  CDriveController drive([&table](char l) { return table.OpenBackend(l, true); });
  // As in the viewer: the open's result does not matter (a drive without a
  // recognised file system is still viewed); the drive is readable when
  // its last sector is above 0.
  (void)drive.OpenDrive(letter);
  const uint64_t last = drive.GetLastSector();
  if (last == 0) {
    std::fprintf(stderr,
                 "nullifex-cli view: failed to access drive %c: (error %u). Please make sure that there is a "
                 "disk in the drive.\n",
                 letter, drive.GetLastErrorCode());
    return kExitDrive;
  }
  if (sector > last) {
    std::fprintf(stderr, "nullifex-cli view: sector %s is past the end of drive %c: (last sector %s)\n",
                 Thousands(sector).c_str(), letter, Thousands(last).c_str());
    return kExitDrive;
  }
  platform::AlignedBuffer buffer(viewer::kDumpSectorBytes);
  if (!buffer || !drive.ReadSectorsAt(buffer.data(), sector, 1)) {
    std::fprintf(stderr,
                 "nullifex-cli view: disk errors encountered at sector %s (error %u). This sector appears to be "
                 "damaged and is not usable.\n",
                 Thousands(sector).c_str(), drive.GetLastErrorCode());
    return kExitDrive;
  }

  std::printf("View Sectors on Drive %c:  Viewing Sector: %s of %s\n", letter, Thousands(sector).c_str(),
              Thousands(last).c_str());
  std::printf("Offset   Hexadecimal Representation                  Text Equivalent\n");
  // The dump's rows end in CR LF, as the viewer shows them; a terminal line
  // ends in LF.
  std::string text = viewer::FormatSectorDump(buffer.data(), buffer.size());
  std::string out;
  out.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

}  // namespace

NFX_CLI_COMMAND(view, "view", "view E: SECTOR    print one sector of a drive as the sector viewer's dump", RunView)
