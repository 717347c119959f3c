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
#include "Volumes.h"
#include "tests/fixtures/Fixtures.h"

namespace {

using fixtures::FileSystem;
using verifytest::RunOptions;
using verifytest::RunResult;
using verifytest::RunVerify;
using verifytest::Format;
using verifytest::SizeFor;
using verifytest::WriteLastPass;

struct Case {
  FileSystem fs;
  int level;
  uint64_t size = 0;  // 0: the usual size of the file system's test volume
};

std::string CaseText(const Case& c) {
  return std::string(fixtures::Name(c.fs)) + "_level" + std::to_string(c.level) +
         (c.size ? "_" + std::to_string(c.size >> 20) + "MiB" : "");
}
std::string CaseName(const testing::TestParamInfo<Case>& info) { return CaseText(info.param); }
// A failure names the case, not its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << CaseText(c); }

class WipedAndFormatted : public testing::TestWithParam<Case> {};

TEST_P(WipedAndFormatted, IsCleanFullAndQuick) {
  const Case c = GetParam();
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(WriteLastPass(image, c.size ? c.size : SizeFor(c.fs), c.level));
  const auto formatted = Format(image, c.fs);
  ASSERT_TRUE(formatted.ok()) << formatted.output;
  for (bool quick : {false, true}) {
    auto disk = verifytest::LoadImage(image);
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
                                         // below 32 MiB the sector count sits in the 16-bit field
                                         Case{FileSystem::FAT32, 3, 16ull << 20},
                                         Case{FileSystem::NTFS, 1}, Case{FileSystem::NTFS, 3},
                                         Case{FileSystem::NTFS, 7}, Case{FileSystem::NTFS, 12}),
                         CaseName);

}  // namespace

namespace {

// Where a host file's bytes lie on the image: the sectors of every 512-byte
// block of the file found in the image (fresh volumes do not fragment it).
std::vector<uint64_t> SectorsHolding(const std::string& image, const std::string& content) {
  std::ifstream in(image, std::ios::binary);
  const std::string disk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<uint64_t> sectors;
  for (size_t at = 0; at + 512 <= content.size(); at += 512) {
    const size_t found = disk.find(content.substr(at, 512));
    if (found == std::string::npos || found % 512 != 0) return {};
    sectors.push_back(found / 512);
  }
  return sectors;
}

std::string RandomText(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>('A' + rng() % 26);
  return s;
}

uint32_t SectorsPerClusterOf(const std::string& image) {
  const std::string boot = fixtures::ReadBytes(image, 0, 512);
  return static_cast<uint8_t>(boot[13]);
}

class HoldingFiles : public testing::TestWithParam<FileSystem> {};

TEST_P(HoldingFiles, IsDirtyWhereTheFileLies) {
  const FileSystem fs = GetParam();
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  std::string error;
  ASSERT_TRUE(verifytest::MakeWipedVolume(image, fs, 3, &error)) << error;
  // 700 sectors: more than one quick-mode stride of 640.
  const std::string content = RandomText(700 * 512, 42);
  const std::string host = dir.File("REPORT.TXT");
  ASSERT_TRUE(fixtures::WriteFile(host, content));
  ASSERT_TRUE(fixtures::CopyIn(image, fs, host, "REPORT.TXT", &error)) << error;
  const std::vector<uint64_t> fileSectors = SectorsHolding(image, content);
  ASSERT_EQ(fileSectors.size(), 700u);
  const uint32_t spc = SectorsPerClusterOf(image);

  const RunResult full = RunVerify(verifytest::LoadImage(image));
  EXPECT_GT(full.dirtyCount, 0u);
  EXPECT_EQ(full.errorCount, 0u);
  for (uint64_t s : fileSectors) {
    ASSERT_TRUE(full.SectorDirty(s, spc)) << "file sector " << s << " judged clean";
  }
  RunOptions quick;
  quick.quick = true;
  EXPECT_GT(RunVerify(verifytest::LoadImage(image), quick).dirtyCount, 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryFileSystem, HoldingFiles,
                         testing::Values(FileSystem::FAT12, FileSystem::FAT16, FileSystem::FAT32, FileSystem::NTFS),
                         [](const testing::TestParamInfo<FileSystem>& i) { return fixtures::Name(i.param); });

TEST(DeletedFile, LeavesTheVolumeDirty) {
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  std::string error;
  ASSERT_TRUE(verifytest::MakeWipedVolume(image, FileSystem::FAT12, 1, &error)) << error;
  const std::string content = RandomText(64 * 512, 7);
  const std::string host = dir.File("SECRET.TXT");
  ASSERT_TRUE(fixtures::WriteFile(host, content));
  ASSERT_TRUE(fixtures::CopyIn(image, FileSystem::FAT12, host, "SECRET.TXT", &error)) << error;
  const auto deleted = fixtures::RunTool({"mdel", "-i", image, "::SECRET.TXT"});
  ASSERT_TRUE(deleted.ok()) << deleted.output;
  const std::vector<uint64_t> fileSectors = SectorsHolding(image, content);
  ASSERT_EQ(fileSectors.size(), 64u);

  const RunResult r = RunVerify(verifytest::LoadImage(image));
  // The data sectors. (The deleted entry shares the root directory's first
  // sector with the volume label, which makes that sector pass.)
  EXPECT_GE(r.dirtyCount, 64u);
  for (uint64_t s : fileSectors) EXPECT_TRUE(r.SectorDirty(s, 1)) << s;
}

}  // namespace
