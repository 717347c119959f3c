#include "verify/VerifyDisplay.h"

#include <cstdio>

std::string DriveSizeText(int64_t sectors) {
  double x = static_cast<double>(sectors) * 512.0 / 1024.0;
  const char* unit = "KB";
  if (x >= 1024) {
    x /= 1024;
    unit = "MB";
    if (x >= 1024) {
      x /= 1024;
      unit = "GB";
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "%1.2f %s", x, unit);
  return text;
}

int NotCleanPercent(uint64_t dirtySectors, uint64_t totalSectors) {
  if (totalSectors == 0) return 0;
  return static_cast<int>(static_cast<double>(dirtySectors) / static_cast<double>(totalSectors) * 100.0);
}
