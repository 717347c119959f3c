// The drive table of Windows: the system's own drive letters and types, the
// system drive from the system folder, and the user's drive map, which can
// give an image file a letter.
// DriveTable.h comes before windows.h, whose DRIVE_* macros would
// otherwise rewrite the enumerators' names.
#include "platform/DriveTable.h"

#include <windows.h>

#include <cctype>
#include <set>

#include "platform/win32/Kernel32Disk.h"
#include "platform/win32api/WindowsDiskBackend.h"

namespace platform {
namespace {

std::string VolumePath(char letter) { return std::string("\\\\.\\") + letter + ":"; }

char SystemLetter() {
  char folder[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryA(folder, sizeof folder);
  if (n < 2 || n >= sizeof folder || folder[1] != ':') return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(folder[0])));
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

}  // namespace

DriveTable DriveTable::Load() {
  const char system = SystemLetter();
  std::vector<DriveEntry> entries;
  std::set<char> used;

  // The map first: a mapped letter takes precedence over a drive of the
  // system, except the system drive. A map line naming the system volume
  // itself is dropped, so it can never be wiped under another letter.
  for (DriveEntry& e : ReadDriveMap(DriveMapPath())) {
    if (e.letter == system || used.count(e.letter)) continue;
    if (system && SameText(e.path, VolumePath(system))) continue;
    used.insert(e.letter);
    entries.push_back(e);
  }

  const DWORD bits = ::GetLogicalDrives();
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (!(bits & (1u << (letter - 'A'))) || used.count(letter)) continue;
    const std::string root = std::string(1, letter) + ":\\";
    const UINT type = ::GetDriveTypeA(root.c_str());
    if (type == DRIVE_NO_ROOT_DIR) continue;
    DriveEntry e;
    e.letter = letter;
    e.type = type;
    e.path = VolumePath(letter);
    e.mountPoint = root;
    e.system = letter == system;
    used.insert(letter);
    entries.push_back(e);
  }
  return DriveTable(std::move(entries));
}

std::unique_ptr<SectorBackend> DriveTable::OpenBackend(char letter, bool readOnly) const {
  const auto e = Find(letter);
  if (!e || e->path.empty()) return nullptr;
  win32api::Kernel32Options options;
  // The program never writes the volume it runs from.
  options.readOnly = readOnly || e->system;
  if (e->mapped) options.images[e->letter] = e->path;
  return win32api::MakeWindowsDiskBackend(win32api::MakeKernel32Disk(std::move(options)), e->letter);
}

}  // namespace platform
