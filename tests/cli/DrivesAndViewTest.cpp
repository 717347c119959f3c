// nullifex-cli drives and view, run as the user runs them, on images mapped
// in a private drive map.
#include <gtest/gtest.h>

#include "tests/fixtures/Fixtures.h"
#include "viewer/SectorDump.h"

namespace {

std::string Cli() { return NFX_CLI_PATH; }

fixtures::ToolResult RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), Cli());
  return fixtures::RunTool(args);
}

class CliOnImages : public ::testing::Test {
 protected:
  void SetUp() override {
    floppy = dir.File("floppy.img");
    zero = dir.File("blank disk.img");
    std::string error;
    ASSERT_TRUE(fixtures::MakeFloppy(floppy, "DEMO", &error)) << error;
    ASSERT_TRUE(fixtures::WriteFile(dir.File("readme.txt"), "Nullifex demo floppy\r\n"));
    ASSERT_TRUE(fixtures::CopyIn(floppy, fixtures::FileSystem::FAT12, dir.File("readme.txt"), "README.TXT", &error))
        << error;
    ASSERT_TRUE(fixtures::MakeZeroImage(zero, 1 << 20));
    map = std::make_unique<fixtures::DriveMap>(std::vector<fixtures::DriveMap::Entry>{
        {'A', "removable", floppy}, {'E', "fixed", zero}, {'F', "removable", dir.File("missing.img")}});
  }
  fixtures::TempDir dir;
  std::string floppy, zero;
  std::unique_ptr<fixtures::DriveMap> map;
};

TEST_F(CliOnImages, DrivesListsLetterTypeLabelFileSystemAndSize) {
  const auto r = RunCli({"drives", "A:", "e", "F:"});
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("A:     removable  DEMO         FAT          1,474,560"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("E:     fixed      N/A          N/A          1,048,576"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("F:     removable  N/A          N/A          N/A"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("C:"), std::string::npos) << "only the drives asked for";

  const auto bad = RunCli({"drives", "Q:"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.output.find("there is no drive Q:"), std::string::npos) << bad.output;
  EXPECT_EQ(RunCli({"drives", "E:x"}).exitCode, 2);
}

TEST_F(CliOnImages, ViewPrintsTheSectorsDumpText) {
  for (uint64_t sector : {0ull, 33ull, 2879ull}) {
    SCOPED_TRACE(sector);
    const auto r = RunCli({"view", "a:", std::to_string(sector)});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string bytes = fixtures::ReadBytes(floppy, sector * 512, 512);
    ASSERT_EQ(bytes.size(), 512u);
    std::string expected = viewer::FormatSectorDump(reinterpret_cast<const uint8_t*>(bytes.data()), 512);
    std::string lf;
    for (char c : expected) {
      if (c != '\r') lf.push_back(c);
    }
    EXPECT_NE(r.output.find(lf + "\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("of 2,879"), std::string::npos);
  }
  // The root directory's first entry is the file put there.
  EXPECT_NE(RunCli({"view", "A:", "19"}).output.find("| DEMO       ..."), std::string::npos);
  // A drive without a file system is still viewed.
  EXPECT_EQ(RunCli({"view", "E:", "2047"}).exitCode, 0);
}

TEST_F(CliOnImages, ViewRefusesBadLettersMissingDrivesAndSectorsPastTheEnd) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  } cases[] = {
      {{"view", "A:", "2880"}, 1, "sector 2,880 is past the end of drive A: (last sector 2,879)"},
      {{"view", "E:", "2048"}, 1, "past the end of drive E:"},
      {{"view", "Q:", "0"}, 1, "there is no drive Q:"},
      {{"view", "F:", "0"}, 1, "failed to access drive F:"},
      {{"view", "1:", "0"}, 2, "not a drive letter"},
      {{"view", "A:", "-1"}, 2, "not a valid sector number"},
      {{"view", "A:", "12a"}, 2, "not a valid sector number"},
      {{"view", "A:", "99999999999999999999999"}, 2, "not a valid sector number"},
      {{"view", "A:"}, 2, "usage"},
  };
  for (const auto& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args[1] << " " << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
}

}  // namespace
