// The verification's promise on real volumes: a drive overwritten with any
// level's last pattern and then freshly formatted by the platform's
// formatters is 100% clean, full and quick; the same volume holding real
// files is dirty where the files' data lies.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "VerifyHarness.h"
#include "tests/fixtures/Fixtures.h"

namespace {

using fixtures::FileSystem;
using verifytest::RunOptions;
using verifytest::RunResult;
using verifytest::RunVerify;

// What the last pass of each level leaves on the whole medium: level 1 and
// 7 zeros, level 12 ones, level 3 random bytes each followed by its
// complement.
bool WriteLastPass(const std::string& path, uint64_t bytes, int level) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> block(1 << 20);
  std::mt19937 rng(level * 7919u);
  for (size_t i = 0; i < block.size(); i += 2) {
    uint8_t b = level == 12 ? 0xFF : 0x00;
    uint8_t c = b;
    if (level == 3) {
      b = static_cast<uint8_t>(rng());
      c = static_cast<uint8_t>(b ^ 0xFF);
    }
    block[i] = static_cast<char>(b);
    block[i + 1] = static_cast<char>(c);
  }
  for (uint64_t done = 0; done < bytes; done += block.size()) {
    out.write(block.data(), static_cast<std::streamsize>(std::min<uint64_t>(block.size(), bytes - done)));
  }
  return static_cast<bool>(out);
}

uint64_t SizeFor(FileSystem fs) {
  switch (fs) {
    case FileSystem::FAT12: return 1474560;
    case FileSystem::FAT16: return 20ull << 20;
    case FileSystem::FAT32: return 40ull << 20;
    case FileSystem::NTFS: return 12ull << 20;
  }
  return 0;
}

// The formatter's command lines (mkfs.fat -I -F n -n LABEL, mkntfs -F -Q -L
// LABEL), run on the image in place so what the passes left stays outside
// the structures formatting writes.
fixtures::ToolResult Format(const std::string& path, FileSystem fs) {
  if (fs == FileSystem::NTFS) return fixtures::RunTool({"mkntfs", "-F", "-Q", "-L", "CLEANED", path});
  std::vector<std::string> args{"mkfs.fat", "-I", "-F"};
  args.push_back(fs == FileSystem::FAT12 ? "12" : fs == FileSystem::FAT16 ? "16" : "32");
  if (fs == FileSystem::FAT16) args.insert(args.end(), {"-s", "1"});
  args.insert(args.end(), {"-n", "CLEANED", path});
  return fixtures::RunTool(args);
}

struct Case {
  FileSystem fs;
  int level;
};

std::string CaseName(const testing::TestParamInfo<Case>& info) {
  return std::string(fixtures::Name(info.param.fs)) + "_level" + std::to_string(info.param.level);
}

class WipedAndFormatted : public testing::TestWithParam<Case> {};

TEST_P(WipedAndFormatted, IsCleanFullAndQuick) {
  const Case c = GetParam();
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(WriteLastPass(image, SizeFor(c.fs), c.level));
  const auto formatted = Format(image, c.fs);
  ASSERT_TRUE(formatted.ok()) << formatted.output;
  for (bool quick : {false, true}) {
    auto disk = platform::MemoryDisk::FromImage(image);
    ASSERT_TRUE(disk && disk->SectorCount() > 0);
    RunOptions options;
    options.quick = quick;
    const RunResult r = RunVerify(disk, options);
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.fsType, fixtures::Name(c.fs)) << (quick ? "quick" : "full");
    EXPECT_EQ(r.dirtyCount, 0u) << (quick ? "quick" : "full");
    EXPECT_EQ(r.errorCount, 0u) << (quick ? "quick" : "full");
    EXPECT_GE(r.lastProgress, 100) << (quick ? "quick" : "full");
    EXPECT_FALSE(r.cancelled);
    ASSERT_TRUE(r.dirty);
    if (r.dirty->DirtyCount() != 0) {
      const uint64_t first = r.dirty->FindFirst();
      ADD_FAILURE() << "first dirty unit " << first << (r.dirty->UnitsAreSectors() ? " (sector)" : " (cluster)");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLevel, WipedAndFormatted,
                         testing::Values(Case{FileSystem::FAT12, 1}, Case{FileSystem::FAT12, 3},
                                         Case{FileSystem::FAT12, 7}, Case{FileSystem::FAT12, 12},
                                         Case{FileSystem::FAT16, 1}, Case{FileSystem::FAT16, 3},
                                         Case{FileSystem::FAT16, 12}, Case{FileSystem::FAT32, 1},
                                         Case{FileSystem::FAT32, 3}, Case{FileSystem::FAT32, 12},
                                         Case{FileSystem::NTFS, 1}, Case{FileSystem::NTFS, 3},
                                         Case{FileSystem::NTFS, 7}, Case{FileSystem::NTFS, 12}),
                         CaseName);

}  // namespace
