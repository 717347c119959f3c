#include "platform/DriveTable.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Paths.h"

namespace platform {
namespace {

bool ParseType(const std::string& word, uint32_t& type) {
  static const struct {
    const char* name;
    uint32_t type;
  } kTypes[] = {{"removable", DRIVE_REMOVABLE}, {"fixed", DRIVE_FIXED}, {"cdrom", DRIVE_CDROM},
                {"ramdisk", DRIVE_RAMDISK},     {"network", DRIVE_REMOTE}};
  for (const auto& t : kTypes) {
    if (word == t.name) {
      type = t.type;
      return true;
    }
  }
  return false;
}

}  // namespace

// The path may hold spaces: it runs to the end of the line.
std::vector<DriveEntry> ReadDriveMap(const std::string& file) {
  std::vector<DriveEntry> entries;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    size_t i = 0;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i >= line.size() || line[i] == '#') continue;
    if (i + 2 > line.size() || !std::isalpha(static_cast<unsigned char>(line[i])) ||
        line[i + 1] != ':') {
      continue;
    }
    DriveEntry e;
    e.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
    if (e.letter < 'A' || e.letter > 'Z') continue;
    i += 2;
    std::istringstream rest(line.substr(i));
    std::string word;
    if (!(rest >> word) || !ParseType(word, e.type)) continue;
    const size_t at = line.find(word, i) + word.size();
    size_t p = at;
    while (p < line.size() && std::isspace(static_cast<unsigned char>(line[p]))) ++p;
    e.path = line.substr(p);
    // Only absolute paths: a relative one would name a different file from
    // every folder the program is started in, and a wipe must never depend
    // on where it was run.
    if (e.path.empty() || !std::filesystem::path(e.path).is_absolute()) continue;
    e.mapped = true;
    entries.push_back(e);
  }
  return entries;
}

std::string DriveMapPath() { return ConfigDir() + "/drives.conf"; }

DriveTable::DriveTable(std::vector<DriveEntry> entries) : entries_(std::move(entries)) {
  std::sort(entries_.begin(), entries_.end(),
            [](const DriveEntry& a, const DriveEntry& b) { return a.letter < b.letter; });
}

std::optional<DriveEntry> DriveTable::Find(char letter) const {
  const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (const auto& e : entries_) {
    if (e.letter == up) return e;
  }
  return std::nullopt;
}

uint32_t DriveTable::GetDriveType(char letter) const {
  const auto e = Find(letter);
  return e ? e->type : DRIVE_NO_ROOT_DIR;
}

uint32_t DriveTable::GetLogicalDrives() const {
  uint32_t bits = 0;
  for (const auto& e : entries_) {
    if (e.letter >= 'A' && e.letter <= 'Z') bits |= 1u << (e.letter - 'A');
  }
  return bits;
}

char DriveTable::SystemDrive() const {
  for (const auto& e : entries_) {
    if (e.system) return e.letter;
  }
  return 0;
}

}  // namespace platform
