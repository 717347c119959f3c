// nullifex-cli verify end to end: real images mapped as drive letters, the
// report, the exit statuses, the dirty-sector list and Ctrl-C.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "Volumes.h"
#include "tests/fixtures/Fixtures.h"

namespace {

using fixtures::FileSystem;

std::string Cli() { return NFX_CLI_PATH; }

fixtures::ToolResult Verify(const std::vector<std::string>& extra) {
  std::vector<std::string> argv{Cli(), "verify"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return fixtures::RunTool(argv);
}

TEST(VerifyCli, ACleanVolumeIsReportedCleanWithItsFacts) {
  fixtures::TempDir dir;
  const std::string image = dir.File("floppy.img");
  std::string error;
  ASSERT_TRUE(verifytest::MakeWipedVolume(image, FileSystem::FAT12, 3, &error)) << error;
  fixtures::DriveMap map({{'E', "removable", image}});
  for (const char* mode : {"", "--quick"}) {
    std::vector<std::string> args{"E:"};
    if (*mode) args.push_back(mode);
    const auto r = Verify(args);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Drive Type:     FAT12"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Drive Label:    CLEANED"), std::string::npos) << r.output;
    // 2,879 sectors as 512-byte ones: 1439.5 KB, shown in MB from 1024 KB on.
    EXPECT_NE(r.output.find("Drive Size:     1.41 MB"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Cluster Size:   512 bytes"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Dirty Sectors:  0\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Report:         100% clean"), std::string::npos) << r.output;
  }
}

TEST(VerifyCli, FileDataIsDirtyAndListed) {
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  std::string error;
  ASSERT_TRUE(verifytest::MakeWipedVolume(image, FileSystem::NTFS, 1, &error)) << error;
  const std::string host = dir.File("notes.txt");
  ASSERT_TRUE(fixtures::WriteFile(host, std::string(64 * 1024, 'n')));
  ASSERT_TRUE(fixtures::CopyIn(image, FileSystem::NTFS, host, "notes.txt", &error)) << error;
  fixtures::DriveMap map({{'E', "removable", image}});
  const auto r = Verify({"e", "--list-dirty"});
  EXPECT_EQ(r.exitCode, 1) << r.output;
  // 64 KiB of file data in 4 KiB clusters (16 clusters, 128 sectors), the
  // cluster holding the file's record and the root index block naming it.
  EXPECT_NE(r.output.find("Dirty Sectors:  144\n"), std::string::npos) << r.output;
  const std::string heading = "Dirty sector list:\n";
  const size_t list = r.output.find(heading);
  ASSERT_NE(list, std::string::npos) << r.output;
  // One of the runs is the 128 sectors holding the file.
  bool fileRun = false;
  for (size_t at = list + heading.size(); at < r.output.size();) {
    const size_t end = r.output.find('\n', at);
    const std::string line = r.output.substr(at, end - at);
    at = end == std::string::npos ? r.output.size() : end + 1;
    const size_t dash = line.find('-');
    if (dash == std::string::npos) continue;
    const uint64_t from = std::stoull(line.substr(0, dash));
    const uint64_t to = std::stoull(line.substr(dash + 1));
    if (to - from + 1 == 128) {
      EXPECT_EQ(fixtures::ReadBytes(image, from * 512, 64 * 1024), std::string(64 * 1024, 'n'));
      fileRun = true;
    }
  }
  EXPECT_TRUE(fileRun) << r.output;
}

// The promise end to end: an image full of old data, wiped at each level by
// nullifex-cli wipe (which formats it afterwards), is reported 100% clean by
// nullifex-cli verify, full and quick.
struct WipeCase {
  const char* name;
  uint64_t size;
  const char* type;  // drive type in the map: removable drives below 512 MiB get FAT12/16
  const char* fs;    // --fs
  const char* expected;
};
// A failure names the case, not its bytes.
void PrintTo(const WipeCase& c, std::ostream* os) { *os << c.name; }

class WipedByTheCli : public testing::TestWithParam<std::tuple<WipeCase, int>> {};

TEST_P(WipedByTheCli, VerifiesClean) {
  const auto [c, passes] = GetParam();
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(fixtures::WriteFile(image, std::string()));
  ASSERT_TRUE(fixtures::FillRandom(image, 0, c.size, 99));
  fixtures::DriveMap map({{'E', c.type, image}});
  const auto wiped = fixtures::RunTool({Cli(), "wipe", "E:", "--passes", std::to_string(passes), "--fs", c.fs, "--yes"});
  ASSERT_EQ(wiped.exitCode, 0) << wiped.output;
  for (const char* mode : {"", "--quick"}) {
    std::vector<std::string> args{"E:"};
    if (*mode) args.push_back(mode);
    const auto r = Verify(args);
    EXPECT_EQ(r.exitCode, 0) << mode << "\n" << r.output;
    EXPECT_NE(r.output.find(std::string("Drive Type:     ") + c.expected), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Dirty Sectors:  0\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Drive Errors:   0\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Report:         100% clean"), std::string::npos) << r.output;
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryTypeAndLevel, WipedByTheCli,
    testing::Combine(testing::Values(WipeCase{"FAT12", 1474560, "removable", "fat", "FAT12"},
                                     WipeCase{"FAT16", 20ull << 20, "removable", "fat", "FAT16"},
                                     WipeCase{"FAT32", 40ull << 20, "fixed", "fat", "FAT32"},
                                     WipeCase{"NTFS", 12ull << 20, "fixed", "ntfs", "NTFS"}),
                     testing::Values(1, 3, 7, 12)),
    [](const testing::TestParamInfo<std::tuple<WipeCase, int>>& i) {
      return std::string(std::get<0>(i.param).name) + "_passes" + std::to_string(std::get<1>(i.param));
    });

TEST(VerifyCli, ADriveThatCannotBeOpenedIsNotVerified) {
  fixtures::TempDir dir;
  fixtures::DriveMap map({{'E', "removable", dir.File("missing.img")}});
  const auto r = Verify({"E:"});
  EXPECT_EQ(r.exitCode, 2) << r.output;
  EXPECT_NE(r.output.find("Failed to access the drive."), std::string::npos) << r.output;
  EXPECT_EQ(Verify({}).exitCode, 2);
  EXPECT_EQ(Verify({"E:", "--fast"}).exitCode, 2);
}

TEST(VerifyCli, CtrlCStopsTheRunAsCancelled) {
  fixtures::TempDir dir;
  const std::string image = dir.File("big.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(image, 16ull << 30));  // sparse: reads of holes are quick
  fixtures::DriveMap map({{'E', "fixed", image}});

  bool signalled = false;
  // Stopped once the progress line shows the read rate and time left.
  const auto run = fixtures::RunToolInterruptedAt({Cli(), "verify", "E:"}, " left\n", signalled);
  const std::string& output = run.output;
  ASSERT_TRUE(signalled) << output;
  EXPECT_TRUE(std::regex_search(output, std::regex(R"(Verifying drive E:  +[0-9]+%  dirty sectors 0  errors 0  )"
                                                   R"([0-9.]+ [kMG]?B/s, about [0-9].* left\n)")))
      << output;
  EXPECT_EQ(run.exitCode, 3) << output;
  EXPECT_NE(output.find("Stopping the verification of drive E:."), std::string::npos) << output;
  EXPECT_NE(output.find("(Cancelled)"), std::string::npos) << output;
}

}  // namespace
