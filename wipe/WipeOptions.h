#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// What the wizard hands to the wipe window.
struct WipeOptions {
  char driveLetter = 0;     // as the drive list holds it
  std::string volumeLabel;  // at most 11 characters, may be empty
  int32_t overwriteCount = 1;  // 1, 3, 7 or 12
  int32_t fileSystem = 32;     // 1 NTFS, 32 FAT
  bool formatWhenFinished = true;
};

// The wizard's "Format when finished (recommended)" choice: true at start,
// never stored. The wipe thread reads it when it is made.
extern std::atomic<bool> FormatWhenFinished;
