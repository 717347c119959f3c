#pragma once
#include <cstdint>

// Sectors per cluster as an NTFS boot sector's byte at 0x0D gives it: 1 to
// 128 as they stand, a value above 0x80 as the power of two 2^(256 - value),
// which is how formatters write clusters of 128 sectors and more (0xF4 for
// 4096 sectors of 512 bytes, a 2 MiB cluster). 0 for a byte of 0 or a
// shift no cluster could have.
inline uint32_t NtfsClusterSectors(uint8_t raw) {
  if (raw <= 0x80) return raw;
  const uint32_t shift = 256u - raw;
  return shift <= 16 ? 1u << shift : 0;
}
