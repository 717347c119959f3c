#pragma once
#include <cstdint>
#include <span>

// The regions of a FAT12, FAT16 or FAT32 volume the clean scan needs, in
// 512-byte sectors from the boot sector (a volume of 1024- to 4096-byte
// logical sectors has its fields scaled). Only the boot-sector fields are
// read here; the scan follows the root folder's chain on FAT32 itself.
struct FatRegions {
  uint8_t kind = 0;                // 12, 16 or 32
  uint16_t bytesPerSector = 0;
  uint8_t sectorsPerCluster = 0;   // logical sectors
  uint32_t clusterSectors = 0;     // 512-byte sectors in a cluster
  uint8_t fatCount = 0;
  uint64_t fatSectors = 0;         // one FAT copy
  uint64_t firstFat = 0;           // reserved sectors
  uint64_t secondFat = 0;          // reserved + sectors per FAT (meaningful with two FATs)
  uint64_t rootStart = 0;          // the root folder's fixed region, or its first cluster (FAT32)
  uint64_t dataStart = 0;          // cluster 2
  uint64_t checkStart = 0;         // first sector judged as data (root folder's end)
  uint32_t rootCluster = 0;        // FAT32
  int64_t lastSector = -1;         // total - 1; -1 when the total is 0
  uint32_t clusterBytes = 0;       // sectors per cluster x bytes per sector
  uint32_t reservedEntryBytes = 0; // media and end-of-chain entries: 3, 4 or 12

  // The first sector of a FAT copy: its reserved entries are never zero.
  bool IsFatStart(uint64_t sector) const;
  // A sector of the root folder's own region (the whole fixed root folder,
  // or the first cluster of a FAT32 one).
  bool IsRootFolder(uint64_t sector) const { return sector >= rootStart && sector < checkStart; }
};

// Boot-sector copies as the drive controller keeps them: the FAT12/16 view
// (62 bytes) and the FAT32 view (90 bytes). False for a kind other than 12,
// 16 or 32, a copy too short for its fields, or a logical sector size other
// than 512, 1024, 2048 or 4096 bytes.
//
// The regions follow the boot sector's own counts: one or more FATs, the
// root folder's entries rounded up to whole logical sectors. FAT32: the check
// start is the sector after the root folder's first cluster; a root cluster
// below 2 (impossible on a sound volume) is taken as 2, so the region never
// starts before the data area.
[[nodiscard]] bool ReadFatRegions(uint8_t kind, std::span<const uint8_t> fatBoot,
                                  std::span<const uint8_t> fat32Boot, FatRegions& out);
