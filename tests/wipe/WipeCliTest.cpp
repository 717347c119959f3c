// nullifex-cli wipe end to end on real FAT and NTFS images holding random
// leftovers and real files: nothing of the old content survives, a file
// system with the chosen label is left behind, and the log has the record.
#include <gtest/gtest.h>

#include "settings/CSettings.h"
#include "tests/fixtures/Fixtures.h"
#include "tests/wipe/DirtyImage.h"

namespace {

std::string Cli() { return NFX_CLI_PATH; }

using fixtures::ReadFile;
using fixtures::WriteFile;
using wipetest::DirtyImage;
using wipetest::FirstSurvivingRun;
using wipetest::Kind;
using wipetest::RandomBytes;

class WipeCliTest : public ::testing::Test {
 protected:
  void UseLog() {
    CSettings settings;
    settings.SetLogEnabled(true);
    settings.SetLogLocation(dir.path());
  }
  fixtures::ToolResult Wipe(std::vector<std::string> args) {
    args.insert(args.begin(), {Cli(), "wipe"});
    return fixtures::RunTool(args);
  }
  fixtures::TempDir dir;
  fixtures::DriveMap map{{}};
};

struct Level {
  Kind kind;
  int passes;
};
std::string LevelText(const Level& level) {
  return std::string(level.kind == Kind::Fat ? "Fat" : "Ntfs") + std::to_string(level.passes);
}
// A failure names the level, not its bytes.
void PrintTo(const Level& level, std::ostream* os) { *os << LevelText(level); }

class WipeCliLevelTest : public WipeCliTest, public ::testing::WithParamInterface<Level> {};

TEST_P(WipeCliLevelTest, LeavesNothingOfTheOldContentAndALabelledFileSystem) {
  const Level level = GetParam();
  DirtyImage image(dir, level.kind, 3u << 20);
  // FAT on a removable drive below 4 MiB is FAT12; NTFS needs a fixed one.
  map.WriteRaw(std::string("E: ") + (level.kind == Kind::Fat ? "removable " : "fixed ") + image.path + "\n");
  // The check finds the old content where it still is.
  ASSERT_GE(FirstSurvivingRun(ReadFile(image.path), image.sources), 0);
  UseLog();
  const std::string passes = std::to_string(level.passes);
  const auto run = Wipe({"E:", "--passes", passes, "--fs", level.kind == Kind::Fat ? "fat" : "ntfs", "--label",
                         "Wiped1", "--yes"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("Your drive is now clean."), std::string::npos);

  const std::string after = ReadFile(image.path);
  ASSERT_EQ(after.size(), 3u << 20);
  EXPECT_EQ(FirstSurvivingRun(after, image.sources), -1);

  if (level.kind == Kind::Fat) {
    const auto check = fixtures::RunTool({"fsck.fat", "-n", image.path});
    EXPECT_TRUE(check.ok()) << check.output;
    const auto label = fixtures::RunTool({"fatlabel", image.path});
    EXPECT_EQ(label.output, "WIPED1\n");
  } else {
    const auto info = fixtures::RunTool({"ntfsinfo", "-m", image.path});
    EXPECT_TRUE(info.ok()) << info.output;
    EXPECT_NE(info.output.find("Volume Name: Wiped1"), std::string::npos) << info.output;
  }

  const std::string log = ReadFile(dir.File("Log.txt"));
  std::string header = "Operation: Overwrite drive E:\r\nOverwrites: " + passes;
  if (level.passes == 3) header += " with verification (DoD 5220.22-M).";
  header += "\r\n";
  size_t at = log.find(header);
  ASSERT_NE(at, std::string::npos) << log;
  for (const std::string& line : std::vector<std::string>{"Operation began: ", "Operation finished: ", "Total elapsed time (HH:MM:SS): ",
                                 "\r\nOperation result: SUCCESS\r\n", "\r\nTotal disk sector read/write errors: 0\r\n",
                                 std::string(66, '-') + "\r\n\r\n"}) {
    at = log.find(line, at);
    ASSERT_NE(at, std::string::npos) << "missing, in order: " << line << "\n" << log;
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, WipeCliLevelTest,
                         ::testing::Values(Level{Kind::Fat, 1}, Level{Kind::Fat, 3}, Level{Kind::Fat, 7},
                                           Level{Kind::Fat, 12}, Level{Kind::Ntfs, 1}, Level{Kind::Ntfs, 3},
                                           Level{Kind::Ntfs, 7}, Level{Kind::Ntfs, 12}),
                         [](const auto& info) { return LevelText(info.param); });

class WipeCliNoFormatTest : public WipeCliTest, public ::testing::WithParamInterface<int> {};

TEST_P(WipeCliNoFormatTest, WithoutTheFormatTheImageHoldsTheLastPattern) {
  const int passes = GetParam();
  DirtyImage image(dir, Kind::Fat, 2u << 20);
  map.WriteRaw("E: removable " + image.path + "\n");
  const auto run = Wipe({"e", "--passes", std::to_string(passes), "--no-format", "--yes"});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.find("Format Progress"), std::string::npos);
  const std::string after = ReadFile(image.path);
  ASSERT_EQ(after.size(), 2u << 20);
  if (passes == 3) {
    for (size_t i = 0; i < after.size(); i += 2) {
      ASSERT_EQ(static_cast<uint8_t>(after[i + 1]), static_cast<uint8_t>(after[i] ^ 0xFF)) << "offset " << i;
    }
  } else {
    const uint8_t last = passes % 2 == 1 ? 0x00 : 0xFF;
    EXPECT_EQ(fixtures::FirstByteNotEqual(image.path, 0, after.size(), last), -1);
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, WipeCliNoFormatTest, ::testing::Values(1, 3, 7, 12));

TEST_F(WipeCliTest, RefusesTheSystemDriveAndBadArguments) {
  DirtyImage image(dir, Kind::Fat, 1u << 20);
  map.WriteRaw("E: removable " + image.path + "\n");
  const std::string before = ReadFile(image.path);
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  for (const Case& c : {Case{{"C:", "--yes"}, "Cannot Wipe System Drive"}, Case{{"c", "--yes"}, "Cannot Wipe System Drive"},
                        Case{{"E:", "--passes", "2", "--yes"}, "--passes must be 1, 3, 7 or 12"},
                        Case{{"E:", "--fs", "ext4", "--yes"}, "--fs must be fat or ntfs"},
                        Case{{"--yes"}, "no drive given"}, Case{{"Q:", "--yes"}, "Unknown Error"}}) {
    const auto run = Wipe(c.args);
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
  }
  EXPECT_EQ(ReadFile(image.path), before);
}

TEST_F(WipeCliTest, WithoutYesItAsksAndANoWritesNothing) {
  DirtyImage image(dir, Kind::Fat, 1u << 20);
  map.WriteRaw("E: removable " + image.path + "\n");
  const std::string before = ReadFile(image.path);
  // Standard input is empty: every question gets its Escape answer.
  const auto run = Wipe({"E:"});
  EXPECT_EQ(run.exitCode, 3) << run.output;
  EXPECT_NE(run.output.find("Confirmation 1 of 2"), std::string::npos);
  // Under the letter, the thing it stands for.
  EXPECT_NE(run.output.find("Drive E:\n" + image.path + " \xC2\xB7 1,048,576 bytes (1.0 MB)\n"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("All the data stored on this disk will be permanently erased"), std::string::npos);
  EXPECT_EQ(ReadFile(image.path), before);
}

TEST_F(WipeCliTest, FormatThatFailsSixTimesEndsWithFormatError) {
  // NTFS cannot be made on half a mebibyte: every attempt fails.
  const std::string path = dir.File("small.img");
  ASSERT_TRUE(WriteFile(path, RandomBytes(512 * 1024, 5)));
  map.WriteRaw("E: fixed " + path + "\n");
  const auto run = Wipe({"E:", "--fs", "ntfs", "--yes"});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_NE(run.output.find("Format Error (error 20003): The formatting process did not complete successfully."),
            std::string::npos)
      << run.output;
  EXPECT_EQ(fixtures::FirstByteNotEqual(path, 0, 512 * 1024, 0x00), -1);  // the pass itself was done
}

TEST_F(WipeCliTest, ReadOnlyLoopDeviceIsReportedWriteProtected) {
  DirtyImage image(dir, Kind::Fat, 1u << 20);
  const std::string before = ReadFile(image.path);
  auto attach = fixtures::LoopDevice::AttachImage(image.path, true);
  NFX_REQUIRE_LOOP(attach);
  map.WriteRaw("E: removable " + attach.device->node() + "\n");
  const auto run = Wipe({"E:", "--yes"});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  EXPECT_NE(run.output.find("Write Protected (error 19)"), std::string::npos) << run.output;
  EXPECT_EQ(ReadFile(image.path), before);
}

TEST_F(WipeCliTest, CtrlCDuringPassTwoCancelsLikeTheWindowsCancel) {
  DirtyImage image(dir, Kind::Fat, 2u << 20);
  map.WriteRaw("E: removable " + image.path + "\n");
  bool interrupted = false;
  const auto run =
      fixtures::RunToolInterruptedAt({Cli(), "wipe", "E:", "--passes", "3", "--yes"}, "Overwrite 2 of 3", interrupted);
  const std::string& output = run.output;
  ASSERT_TRUE(interrupted) << output;
  EXPECT_EQ(run.exitCode, 3) << output;
  EXPECT_NE(output.find("Are you sure you want to cancel this operation?"), std::string::npos) << output;
  EXPECT_EQ(output.find("Overwrite 3 of 3"), std::string::npos) << output;
  EXPECT_EQ(output.find("Verification Progress"), std::string::npos) << output;
  EXPECT_EQ(output.find("Format Progress"), std::string::npos) << output;
}

}  // namespace
