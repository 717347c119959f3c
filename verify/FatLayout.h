#pragma once
#include <cstdint>
#include <span>

// The regions of a FAT12, FAT16 or FAT32 volume the clean scan needs, in
// 512-byte sectors from the boot sector. Only the boot-sector fields are
// read: no FAT chain is followed.
struct FatRegions {
  uint8_t kind = 0;                // 12, 16 or 32
  uint16_t bytesPerSector = 0;
  uint8_t sectorsPerCluster = 0;
  uint64_t firstFat = 0;           // reserved sectors
  uint64_t secondFat = 0;          // reserved + sectors per FAT
  uint64_t checkStart = 0;         // first sector judged as data
  int64_t lastSector = -1;         // total - 1; -1 when the total is 0
  uint32_t clusterBytes = 0;       // sectors per cluster x bytes per sector
  uint32_t reservedEntryBytes = 0; // media and end-of-chain entries: 3, 4 or 12
};

// Boot-sector copies as the drive controller keeps them: the FAT12/16 view
// (62 bytes) and the FAT32 view (90 bytes). False for a kind other than 12,
// 16 or 32, or when a copy is too short for its fields.
//
// FAT12/16: the two-FAT, 512-byte-sector layout is assumed, so the check
// start is reserved + 2 x FAT size + root entries / 16 (16 directory entries
// to a sector), and the FAT count of the boot sector is not consulted.
// FAT32: the check start is the sector after the root directory's first
// cluster; a root cluster below 2 (impossible on a sound volume) is taken as
// 2, so the region never starts before the data area.
[[nodiscard]] bool ReadFatRegions(uint8_t kind, std::span<const uint8_t> fatBoot,
                                  std::span<const uint8_t> fat32Boot, FatRegions& out);
