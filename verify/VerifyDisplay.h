#pragma once
#include <cstdint>
#include <string>

// Texts the verify window shows and the CLI prints alike.

// The drive size for a sector count as the scan reports it, taken as
// 512-byte sectors whatever the volume's own sector size: KB, then MB or GB
// once the figure reaches 1024, with two decimals ("1439.50 KB" for 2,879).
// Worked in 64 bits, so volumes past 1 TiB (2^31 sectors) show their size
// rather than a negative one.
std::string DriveSizeText(int64_t sectors);

// The share of the drive not clean, in whole percent truncated toward zero:
// dirty / total x 100, 0 when total is 0.
int NotCleanPercent(uint64_t dirtySectors, uint64_t totalSectors);
