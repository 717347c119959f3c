#include "verify/FatLayout.h"

#include "verify/LeBytes.h"

bool FatRegions::IsFatStart(uint64_t sector) const {
  if (sector < firstFat || fatSectors == 0) return false;
  const uint64_t from = sector - firstFat;
  return from % fatSectors == 0 && from / fatSectors < fatCount;
}

bool ReadFatRegions(uint8_t kind, std::span<const uint8_t> fatBoot, std::span<const uint8_t> fat32Boot,
                    FatRegions& out) {
  FatRegions r;
  r.kind = kind;
  const bool fat32 = kind == 32;
  if (kind != 12 && kind != 16 && !fat32) return false;
  const std::span<const uint8_t> boot = fat32 ? fat32Boot : fatBoot;
  uint16_t reserved, rootEntries, total16, fatSize16;
  uint32_t total32, fatSize = 0, rootCluster = 0;
  if (!le::U16(boot, 0x0B, r.bytesPerSector) || !le::U8(boot, 0x0D, r.sectorsPerCluster) ||
      !le::U16(boot, 0x0E, reserved) || !le::U8(boot, 0x10, r.fatCount) || !le::U16(boot, 0x11, rootEntries) ||
      !le::U16(boot, 0x13, total16) || !le::U16(boot, 0x16, fatSize16) || !le::U32(boot, 0x20, total32)) {
    return false;
  }
  if (fat32) {
    if (!le::U32(boot, 0x24, fatSize) || !le::U32(boot, 0x2C, rootCluster)) return false;
    rootEntries = 0;
    if (rootCluster < 2) rootCluster = 2;
  } else {
    fatSize = fatSize16;
  }
  const uint16_t bps = r.bytesPerSector;
  if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return false;
  // Every field counts logical sectors; the scan counts 512-byte ones.
  const uint64_t scale = bps / 512;
  const uint64_t rootSectors = (uint64_t{rootEntries} * 32 + bps - 1) / bps;
  r.clusterSectors = static_cast<uint32_t>(r.sectorsPerCluster * scale);
  r.fatSectors = uint64_t{fatSize} * scale;
  r.firstFat = uint64_t{reserved} * scale;
  r.secondFat = r.firstFat + r.fatSectors;
  r.rootStart = r.firstFat + r.fatCount * r.fatSectors;
  r.dataStart = r.rootStart + rootSectors * scale;
  r.rootCluster = rootCluster;
  if (fat32) {
    r.rootStart = r.dataStart + (uint64_t{rootCluster} - 2) * r.clusterSectors;
    r.checkStart = r.rootStart + r.clusterSectors;
  } else {
    r.checkStart = r.dataStart;
  }
  // mkfs.fat keeps the count of a FAT32 volume below 32 MiB in the 16-bit
  // field and leaves the 32-bit one 0, as on FAT12/16.
  r.lastSector = static_cast<int64_t>((total16 != 0 ? total16 : total32) * scale) - 1;
  r.reservedEntryBytes = kind == 12 ? 3 : kind == 16 ? 4 : 12;
  r.clusterBytes = uint32_t{r.sectorsPerCluster} * bps;
  out = r;
  return true;
}
