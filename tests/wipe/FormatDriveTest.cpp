// FormatDrive: the attempt loop, the size and type rules, and the 95/98/ME
// path, with a scripted formatter in place of mkfs.
#include <gtest/gtest.h>

#include "drive/CDriveController.h"
#include "platform/MemoryBackend.h"
#include "tests/fixtures/Fixtures.h"
#include "tests/wipe/WipeTestSupport.h"

using namespace std::chrono_literals;

namespace {

struct Calls {
  std::vector<uint32_t> commands;
  std::vector<uint8_t> done;  // the info byte of every command 11
  std::vector<uint32_t> percents;
  std::vector<std::string> texts;
};

FormatCallback Recorder(Calls& calls) {
  return [&calls](uint32_t command, uint32_t, void* info) {
    calls.commands.push_back(command);
    if (command == 0) calls.percents.push_back(*static_cast<uint32_t*>(info));
    if (command == 11) calls.done.push_back(*static_cast<uint8_t*>(info));
    if (command == 14) calls.texts.push_back(static_cast<FormatTextOutput*>(info)->text);
    return true;
  };
}

class FormatDriveTest : public ::testing::Test {
 protected:
  // A drive of `reportedSize` bytes (by its geometry) of type `type`.
  std::unique_ptr<CDriveController> Drive(uint64_t reportedSize, const std::string& type) {
    map.WriteRaw(std::string("F: ") + type + " " + dir.File("f.img") + "\n");
    disk = std::make_shared<platform::MemoryDisk>(64);
    disk->reportedDeviceSize = reportedSize;
    return std::make_unique<CDriveController>([d = disk](char) { return platform::MakeMemoryBackend(d); });
  }

  fixtures::TempDir dir;
  fixtures::DriveMap map{{}};
  std::shared_ptr<platform::MemoryDisk> disk;
  wipetest::ScriptedFormatter formatter;
  wipetest::FormatterGuard guard{&formatter};
};

TEST_F(FormatDriveTest, SizeAndTypeChooseTheFileSystem) {
  struct Case {
    uint64_t size;
    const char* type;
    int32_t asked;
    platform::FormatKind made;
  };
  using K = platform::FormatKind;
  for (const Case c : {Case{1474560, "removable", 1, K::kFat12}, Case{0x3FFFFF, "removable", 32, K::kFat12},
                       Case{0x400000, "removable", 1, K::kFat16}, Case{256ull << 20, "removable", 32, K::kFat16},
                       Case{1ull << 30, "removable", 32, K::kFat32}, Case{1ull << 30, "removable", 1, K::kNtfs},
                       Case{8ull << 20, "fixed", 1, K::kNtfs}, Case{8ull << 20, "fixed", 32, K::kFat32}}) {
    SCOPED_TRACE(std::to_string(c.size) + " " + c.type);
    formatter.requests.clear();
    auto drive = Drive(c.size, c.type);
    EXPECT_TRUE(drive->FormatDrive('f', nullptr, true, {}, c.asked));
    ASSERT_EQ(formatter.requests.size(), 1u);
    EXPECT_EQ(formatter.requests[0].kind, c.made);
    EXPECT_EQ(formatter.requests[0].label, "CLEANED");  // no label given
    EXPECT_EQ(formatter.requests[0].devicePath, dir.File("f.img"));
  }
}

TEST_F(FormatDriveTest, CallbackHearsProgressTextAndTheOutcome) {
  auto drive = Drive(8ull << 20, "fixed");
  Calls calls;
  EXPECT_TRUE(drive->FormatDrive('f', "MINE", false, Recorder(calls), 1));
  EXPECT_EQ(calls.percents, (std::vector<uint32_t>{0, 50, 100}));
  EXPECT_EQ(calls.texts, (std::vector<std::string>{"formatting"}));
  EXPECT_EQ(calls.done, (std::vector<uint8_t>{1}));
  EXPECT_EQ(calls.commands.back(), 11u);
  EXPECT_EQ(formatter.requests[0].label, "MINE");
  EXPECT_FALSE(formatter.requests[0].quick);
}

TEST_F(FormatDriveTest, TwoFailuresThenSuccessTakeThreeAttemptsWithPauses) {
  formatter.outcomes = {false, false, true};
  auto drive = Drive(8ull << 20, "fixed");
  Calls calls;
  EXPECT_TRUE(drive->FormatDrive('f', "X", true, Recorder(calls), 1));
  ASSERT_EQ(formatter.times.size(), 3u);
  EXPECT_GE(formatter.times[1] - formatter.times[0], 2900ms);
  EXPECT_GE(formatter.times[2] - formatter.times[1], 2900ms);
  EXPECT_EQ(calls.done, (std::vector<uint8_t>{0, 0, 1}));
}

TEST_F(FormatDriveTest, SixFailuresGive20003AndTheNextCallStartsAfresh) {
  formatter.outcomes = {false};
  auto drive = Drive(8ull << 20, "fixed");
  EXPECT_FALSE(drive->FormatDrive('f', "X", true, {}, 32));
  EXPECT_EQ(formatter.requests.size(), 6u);
  EXPECT_EQ(drive->GetLastErrorCode(), 20003u);

  formatter.requests.clear();
  formatter.outcomes = {true};
  EXPECT_TRUE(drive->FormatDrive('f', "X", true, {}, 32));
  EXPECT_EQ(formatter.requests.size(), 1u);
}

TEST_F(FormatDriveTest, MissingFormatterIsSaidOnceAndLeavesTheCodeAlone) {
  formatter.available = false;
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultOk; });
  auto drive = Drive(8ull << 20, "fixed");
  EXPECT_FALSE(drive->FormatDrive('f', "X", true, {}, 1));
  EXPECT_TRUE(formatter.requests.empty());
  EXPECT_EQ(drive->GetLastErrorCode(), 0u);
  ASSERT_EQ(answers.Asked().size(), 1u);
  EXPECT_EQ(answers.Asked()[0].title, "Error");
  EXPECT_EQ(answers.Asked()[0].text, "Failed to load FMIFS entry points.");
  EXPECT_EQ(answers.Asked()[0].icon, IconError);
}

TEST_F(FormatDriveTest, RemovableDriveOfUnknownSizeIsNotFormatted) {
  auto drive = Drive(0, "removable");
  disk->reportedDeviceSize = 0;
  EXPECT_FALSE(drive->FormatDrive('f', "X", true, {}, 32));
  EXPECT_TRUE(formatter.requests.empty());
  EXPECT_NE(drive->GetLastErrorCode(), 0u);
}

TEST_F(FormatDriveTest, WindowsNinetyEightPathTriesOnceAndReportsTheEnd) {
  wipetest::VersionGuard version(wipetest::Windows98());
  {
    formatter.outcomes = {false};
    auto drive = Drive(1474560, "removable");
    ASSERT_NE(drive->GetOsFamily(), OS_NT);
    EXPECT_FALSE(drive->FormatDrive('f', "LBL", true, {}, 1));
    EXPECT_EQ(drive->GetLastErrorCode(), 20003u);
    EXPECT_EQ(formatter.requests.size(), 1u);
  }
  {
    formatter.requests.clear();
    formatter.outcomes = {true};
    auto drive = Drive(1474560, "removable");
    Calls calls;
    EXPECT_TRUE(drive->FormatDrive('f', "LBL", true, Recorder(calls), 1));
    ASSERT_EQ(formatter.requests.size(), 1u);
    EXPECT_EQ(formatter.requests[0].kind, platform::FormatKind::kFat12);  // no NTFS on this family
    EXPECT_EQ(formatter.requests[0].label, "LBL");
    EXPECT_EQ(calls.percents.back(), 100u);
  }
}

}  // namespace
