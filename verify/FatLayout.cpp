#include "verify/FatLayout.h"

#include "verify/LeBytes.h"

bool ReadFatRegions(uint8_t kind, std::span<const uint8_t> fatBoot, std::span<const uint8_t> fat32Boot,
                    FatRegions& out) {
  FatRegions r;
  r.kind = kind;
  if (kind == 12 || kind == 16) {
    uint16_t reserved, rootEntries, total16, fatSize;
    uint32_t total32;
    if (!le::U16(fatBoot, 0x0B, r.bytesPerSector) || !le::U8(fatBoot, 0x0D, r.sectorsPerCluster) ||
        !le::U16(fatBoot, 0x0E, reserved) || !le::U16(fatBoot, 0x11, rootEntries) ||
        !le::U16(fatBoot, 0x13, total16) || !le::U16(fatBoot, 0x16, fatSize) ||
        !le::U32(fatBoot, 0x20, total32)) {
      return false;
    }
    r.firstFat = reserved;
    r.secondFat = uint64_t{reserved} + fatSize;
    r.checkStart = uint64_t{reserved} + 2 * uint64_t{fatSize} + rootEntries / 16;
    r.lastSector = static_cast<int64_t>(total16 != 0 ? total16 : total32) - 1;
    r.reservedEntryBytes = kind == 12 ? 3 : 4;
  } else if (kind == 32) {
    uint16_t reserved, total16;
    uint32_t total32, fatSize, rootCluster;
    if (!le::U16(fat32Boot, 0x0B, r.bytesPerSector) || !le::U8(fat32Boot, 0x0D, r.sectorsPerCluster) ||
        !le::U16(fat32Boot, 0x0E, reserved) || !le::U16(fat32Boot, 0x13, total16) ||
        !le::U32(fat32Boot, 0x20, total32) || !le::U32(fat32Boot, 0x24, fatSize) ||
        !le::U32(fat32Boot, 0x2C, rootCluster)) {
      return false;
    }
    if (rootCluster < 2) rootCluster = 2;
    r.firstFat = reserved;
    r.secondFat = uint64_t{reserved} + fatSize;
    r.checkStart = uint64_t{reserved} + 2 * uint64_t{fatSize} +
                   (uint64_t{rootCluster} - 1) * r.sectorsPerCluster;
    // mkfs.fat keeps the count of a FAT32 volume below 32 MiB in the 16-bit
    // field and leaves the 32-bit one 0, as on FAT12/16; reading only the
    // 32-bit field would give such a volume no sectors at all.
    r.lastSector = static_cast<int64_t>(total16 != 0 ? total16 : total32) - 1;
    r.reservedEntryBytes = 12;
  } else {
    return false;
  }
  r.clusterBytes = uint32_t{r.sectorsPerCluster} * r.bytesPerSector;
  out = r;
  return true;
}
