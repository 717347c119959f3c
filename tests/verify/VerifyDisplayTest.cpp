// The size and percentage texts of the verify display.
#include <gtest/gtest.h>

#include "verify/VerifyDisplay.h"

namespace {

TEST(VerifyDisplay, SizeTextUnitsAndVolumesPastOneTebibyte) {
  const struct {
    int64_t sectors;
    const char* text;
  } cases[] = {
      {0, "0.00 KB"},
      {2879, "1.41 MB"},               // the floppy: 1439.5 KB, past 1024
      {2047, "1023.50 KB"},            // just below the switch to MB
      {2048, "1.00 MB"},
      {1000000, "488.28 MB"},
      {2097152, "1.00 GB"},
      {int64_t{1} << 31, "1024.00 GB"},  // 1 TiB: a 32-bit signed count would be negative
      {2684354559, "1280.00 GB"},
      {int64_t{6442450943}, "3072.00 GB"},  // 3 TiB, past 32 bits altogether
  };
  for (const auto& c : cases) EXPECT_EQ(DriveSizeText(c.sectors), c.text) << c.sectors;
}

TEST(VerifyDisplay, NotCleanPercentTruncatesAndSurvivesAnEmptyVolume) {
  EXPECT_EQ(NotCleanPercent(0, 0), 0);
  EXPECT_EQ(NotCleanPercent(5, 0), 0);
  EXPECT_EQ(NotCleanPercent(1, 3), 33);
  EXPECT_EQ(NotCleanPercent(199, 200), 99);
  EXPECT_EQ(NotCleanPercent(200, 200), 100);
  EXPECT_EQ(NotCleanPercent(uint64_t{3} << 32, uint64_t{6} << 32), 50);
}

}  // namespace
