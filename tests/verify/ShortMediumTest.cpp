// A medium shorter than the volume on it claims (an image cut short, a
// drive that lost its tail): what is missing could not be verified, so the
// run must not call the drive clean, nor cancelled.
#include <gtest/gtest.h>

#include "VerifyHarness.h"
#include "Volumes.h"
#include "verify/LeBytes.h"

namespace {

using fixtures::FileSystem;
using verifytest::RunOptions;
using verifytest::RunResult;
using verifytest::RunVerify;

struct ShortCase {
  FileSystem fs;
  int level;
  bool quick;
};
std::string CaseText(const ShortCase& c) {
  return std::string(fixtures::Name(c.fs)) + "_level" + std::to_string(c.level) + (c.quick ? "_quick" : "_full");
}
// A failure names the case, not its bytes.
void PrintTo(const ShortCase& c, std::ostream* os) { *os << CaseText(c); }

class ShortMedium : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortMedium, MissingSectorsCountAsErrorsAndTheRunEnds) {
  const ShortCase c = GetParam();
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  std::string error;
  ASSERT_TRUE(verifytest::MakeWipedVolume(image, c.fs, c.level, &error)) << error;
  auto disk = verifytest::LoadImage(image);
  ASSERT_FALSE(disk->bytes.empty());

  const RunOptions options{.quick = c.quick};
  const RunResult whole = RunVerify(disk, options);
  ASSERT_TRUE(whole.opened);
  EXPECT_EQ(whole.errorCount, 0u);
  EXPECT_EQ(whole.dirtyCount, 0u);
  EXPECT_EQ(whole.lastProgress, 100);

  // Sectors the volume claims, from its boot sector.
  const std::span<const uint8_t> boot(disk->bytes.data(), 512);
  uint64_t claimed = 0;
  if (c.fs == FileSystem::NTFS) {
    ASSERT_TRUE(le::U64(boot, 0x28, claimed));
  } else {
    uint16_t small = 0;
    uint32_t large = 0;
    ASSERT_TRUE(le::U16(boot, 0x13, small) && le::U32(boot, 0x20, large));
    claimed = small != 0 ? small : large;
  }
  // Half the medium, plus a part of a cluster so the cut falls inside one.
  const uint64_t kept = disk->bytes.size() / 2 + 3 * 512;
  disk->bytes.resize(kept);
  const uint64_t missing = claimed - kept / 512;

  const RunResult cut = RunVerify(disk, options);
  ASSERT_TRUE(cut.opened);
  EXPECT_FALSE(cut.cancelled);
  EXPECT_EQ(cut.lastProgress, 100);
  EXPECT_FALSE(cut.Saw(VN_CANCELLED, 0));
  // Every missing sector is an error; on NTFS the cluster the cut falls in
  // fails its read on its own, and the last sector is the boot copy outside
  // the cluster count.
  if (c.fs == FileSystem::NTFS) {
    EXPECT_GE(cut.errorCount, missing - 16);
    EXPECT_LE(cut.errorCount, missing + 8);
  } else {
    EXPECT_EQ(cut.errorCount, missing);
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, ShortMedium,
                         ::testing::Values(ShortCase{FileSystem::FAT16, 1, false}, ShortCase{FileSystem::FAT16, 3, true},
                                           ShortCase{FileSystem::FAT32, 3, false},
                                           ShortCase{FileSystem::FAT32, 12, true},
                                           ShortCase{FileSystem::NTFS, 1, false},
                                           ShortCase{FileSystem::NTFS, 3, true}),
                         [](const ::testing::TestParamInfo<ShortCase>& info) { return CaseText(info.param); });

}  // namespace
