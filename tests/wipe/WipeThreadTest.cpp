// The wipe thread's run on in-memory disks: its messages, patterns, flushes,
// faults and log record.
#include <gtest/gtest.h>

#include "settings/CSettings.h"
#include "tests/wipe/FloppyWipeTest.h"

using namespace std::chrono_literals;
using wipetest::Message;

namespace {

constexpr uint64_t kFloppyBytes = 1474560;

enum class Pattern { Zeros, Ones, Pairs, Mixed };

Pattern Classify(const std::vector<uint8_t>& bytes) {
  bool zeros = true, ones = true, pairs = true;
  for (size_t i = 0; i < bytes.size(); ++i) {
    zeros = zeros && bytes[i] == 0x00;
    ones = ones && bytes[i] == 0xFF;
    if (i % 2 == 1) pairs = pairs && bytes[i] == static_cast<uint8_t>(bytes[i - 1] ^ 0xFF);
  }
  return zeros ? Pattern::Zeros : ones ? Pattern::Ones : pairs ? Pattern::Pairs : Pattern::Mixed;
}

class WipeThreadTest : public wipetest::FloppyWipeTest {
 protected:
  void SetUp() override {
    FloppyWipeTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(disk->bytes.size(), kFloppyBytes);
  }

  void EnableLog() {
    CSettings settings;
    settings.SetLogEnabled(true);
    settings.SetLogLocation(dir.path());
  }
  std::string LogText() { return fixtures::ReadFile(dir.File("Log.txt")); }
  std::vector<uint8_t> DiskBytes() {
    std::lock_guard lock(disk->mutex);
    return disk->bytes;
  }
};

TEST_F(WipeThreadTest, OneCleanPassSendsTheFullSequenceAndLogsTheRecord) {
  EnableLog();
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultNo; });
  auto thread = MakeThread(1);
  ASSERT_EQ(thread->GetErrorCode(), 0);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));

  // stage, pass 1 from 0 to 100, stage, format from 0 to 100, finished (0, 0)
  std::vector<std::string> shape;
  for (const auto& m : window.Messages()) {
    std::string s = m.id == WM_WIPE_STAGE ? "stage"
                    : m.id == WM_WIPE_FINISHED ? "finished"
                    : m.id == WM_WIPE_PROGRESS ? (m.progress.phase == WP_OVERWRITE ? "pass" : m.progress.phase == WP_FORMAT ? "format" : "other")
                                               : "unexpected";
    if (shape.empty() || shape.back() != s) shape.push_back(s);
  }
  EXPECT_EQ(shape, (std::vector<std::string>{"stage", "pass", "stage", "format", "finished"}));
  EXPECT_EQ(Ends(), "S S F0,0 ");

  // A floppy with 512-byte clusters: 45 runs of 32,768 bytes, each 2.2 more.
  const auto pass = window.Progress(WP_OVERWRITE);
  ASSERT_EQ(pass.size(), 47u);
  EXPECT_EQ(pass.front().percent, 0.0f);
  EXPECT_EQ(pass.back().percent, 100.0f);
  for (size_t i = 1; i + 1 < pass.size(); ++i) {
    EXPECT_EQ(pass[i].passNumber, 1);
    EXPECT_NEAR(pass[i].percent, 2.2f * static_cast<float>(i), 0.01f);
  }
  const auto format = window.Progress(WP_FORMAT);
  ASSERT_GE(format.size(), 2u);
  EXPECT_EQ(format.front().percent, 0.0f);
  EXPECT_EQ(format.back().percent, 100.0f);

  // One full format of the floppy as FAT12, with the wipe's label.
  ASSERT_EQ(formatter.requests.size(), 1u);
  EXPECT_EQ(formatter.requests[0].kind, platform::FormatKind::kFat12);
  EXPECT_EQ(formatter.requests[0].label, "TEST");
  EXPECT_FALSE(formatter.requests[0].quick);
  EXPECT_TRUE(answers.Asked().empty());
  EXPECT_EQ(notified, (std::vector<char>{'Q', 'Q'}));
  EXPECT_EQ(Classify(DiskBytes()), Pattern::Zeros);

  const std::string log = LogText();
  const size_t record = log.find("Operation: Overwrite drive Q:\r\nOverwrites: 1\r\n");
  ASSERT_NE(record, std::string::npos) << log;
  const std::string rest = log.substr(record);
  size_t at = 0;
  for (const char* line : {"Operation began: ", "Operation finished: ", "Total elapsed time (HH:MM:SS): 00:00:",
                           "\r\nOperation result: SUCCESS\r\n", "\r\nTotal disk sector read/write errors: 0\r\n"}) {
    const size_t found = rest.find(line, at);
    ASSERT_NE(found, std::string::npos) << "missing, in order: " << line << "\n" << rest;
    at = found;
  }
  EXPECT_EQ(rest.find("WARNING"), std::string::npos);
  EXPECT_EQ(rest.substr(rest.size() - 70), std::string(66, '-') + "\r\n\r\n");
}

class WipePatternTest : public WipeThreadTest, public ::testing::WithParamInterface<int> {};

TEST_P(WipePatternTest, EachPassLeavesItsPatternOnTheMediumBeforeTheNextBegins) {
  const int passes = GetParam();
  FormatWhenFinished = false;
  auto thread = MakeThread(passes);
  std::vector<Pattern> seen;
  std::vector<uint64_t> flushes;
  window.onSend = [&](const Message& m) {
    if (m.progress.phase == WP_OVERWRITE && m.progress.percent == 100.0f) {
      seen.push_back(Classify(DiskBytes()));
      std::lock_guard lock(disk->mutex);
      flushes.push_back(disk->flushes);
    }
  };
  ASSERT_TRUE(wipetest::RunToEnd(*thread));

  std::vector<Pattern> expected;
  std::vector<uint64_t> expectedFlushes;
  for (int p = 1; p <= passes; ++p) {
    expected.push_back(passes == 3 && p == 3 ? Pattern::Pairs : p % 2 == 1 ? Pattern::Zeros : Pattern::Ones);
    expectedFlushes.push_back(static_cast<uint64_t>(p));
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(flushes, expectedFlushes);
  EXPECT_EQ(Ends(), "S F0,0 ");  // no final format: one stage only
  EXPECT_TRUE(formatter.requests.empty());
  EXPECT_EQ(window.Progress(WP_VERIFY).empty(), passes != 3);
  EXPECT_EQ(thread->GetSectorErrorCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Levels, WipePatternTest, ::testing::Values(1, 3, 7, 12));

TEST_F(WipeThreadTest, WriteProtectedMediumFailsWith19AndNoFinishedMessage) {
  disk->writeProtected = true;
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultYes; });
  auto thread = MakeThread(3);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));
  EXPECT_EQ(Ends(), "S X19 ");
  EXPECT_EQ(thread->GetErrorCode(), 19);
  EXPECT_EQ(thread->GetSectorErrorCount(), 1u);
  EXPECT_TRUE(answers.Asked().empty());
  EXPECT_TRUE(formatter.requests.empty());
}

TEST_F(WipeThreadTest, BadRunMidPassIsCountedAndThePassReachesTheEnd) {
  EnableLog();
  // Mark every byte so the test can see exactly what the pass wrote.
  {
    std::lock_guard lock(disk->mutex);
    std::fill(disk->bytes.begin(), disk->bytes.end(), 0x5A);
    disk->unwritable.insert(1000);  // in run 15: sectors 960 to 1023
  }
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultNo; });
  auto thread = MakeThread(1);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));

  EXPECT_EQ(Ends(), "S S F0,29 ");
  EXPECT_EQ(thread->GetSectorErrorCount(), 1u);
  EXPECT_TRUE(answers.Asked().empty());
  const auto bytes = DiskBytes();
  for (size_t i = 0; i < bytes.size(); ++i) {
    const bool inBadRun = i >= 960 * 512 && i < 1024 * 512;
    ASSERT_EQ(bytes[i], inBadRun ? 0x5A : 0x00) << "offset " << i;
  }
  const std::string log = LogText();
  EXPECT_NE(log.find("\r\nOperation result: FAILURE\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\nTotal disk sector read/write errors: 1\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\n\r\nWARNING: Logical drive Q: has been found to contain errors.\r\nNullifex was unable to "
                     "write to all disk sectors, meaning this disk\r\nmay still contain file data.\r\n\r\n"),
            std::string::npos);
}

TEST_F(WipeThreadTest, VanishingMediumEndsTheRunWithItsErrorInsteadOfSpinning) {
  struct Case {
    int answer;
    const char* ends;
    size_t questions;  // Yes: asked for the pass, the phase, and the format that finds no drive
  };
  for (const Case c : {Case{ResultNo, "S X21 ", 1}, Case{ResultYes, "S S F0,21 ", 3}}) {
    SCOPED_TRACE(c.answer);
    window.Clear();
    {
      std::lock_guard lock(disk->mutex);
      disk->transfers = 0;
      disk->vanishAfterTransfers = 40;  // after the opening reads, a few runs into the pass
    }
    wipetest::ScriptedAnswers answers([&](const auto&) { return c.answer; });
    auto thread = MakeThread(12);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(wipetest::RunToEnd(*thread, 30s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(Ends(), c.ends);
    EXPECT_GE(thread->GetSectorErrorCount(), 1u);
    ASSERT_EQ(answers.Asked().size(), c.questions);
    EXPECT_EQ(answers.Asked()[0].title, "Unknown Error");
    {
      std::lock_guard lock(disk->mutex);
      disk->vanishAfterTransfers = -1;
    }
  }
}

TEST_F(WipeThreadTest, CancelDuringPassTwoOfThreeSkipsVerificationAndFormat) {
  auto thread = MakeThread(3);
  DriveWipeThread* t = thread.get();
  window.onSend = [t](const Message& m) {
    if (m.progress.phase == WP_OVERWRITE && m.progress.passNumber == 2 && m.progress.percent > 10) t->Terminate();
  };
  ASSERT_TRUE(wipetest::RunToEnd(*thread));
  EXPECT_EQ(Ends(), "S F1,0 ");
  EXPECT_TRUE(window.Progress(WP_VERIFY).empty());
  EXPECT_TRUE(formatter.requests.empty());
  for (const auto& p : window.Progress()) EXPECT_LE(p.passNumber, 2);
}

TEST_F(WipeThreadTest, DirtyReadBackAsksAndFollowsTheAnswer) {
  struct Case {
    int answer;
    const char* ends;
    size_t formats;
  };
  for (const Case c : {Case{ResultNo, "S X20002 ", 0}, Case{ResultYes, "S S F0,20002 ", 1}}) {
    SCOPED_TRACE(c.answer);
    window.Clear();
    formatter.requests.clear();
    // Between the third pass and its read-back, one byte on the medium
    // stops matching its pair.
    window.onSend = [this](const Message& m) {
      if (m.progress.phase == WP_VERIFY && m.progress.percent == 0.0f) {
        std::lock_guard lock(disk->mutex);
        disk->bytes[700 * 512 + 77] ^= 0x01;
      }
    };
    wipetest::ScriptedAnswers answers([&](const auto&) { return c.answer; });
    auto thread = MakeThread(3);
    ASSERT_TRUE(wipetest::RunToEnd(*thread));
    EXPECT_EQ(Ends(), c.ends);
    ASSERT_EQ(answers.Asked().size(), 1u);
    EXPECT_EQ(answers.Asked()[0].title, "Verification Error");
    EXPECT_EQ(answers.Asked()[0].buttons, ButtonsYesNo);
    EXPECT_EQ(answers.Asked()[0].icon, IconCaution);
    EXPECT_EQ(formatter.requests.size(), c.formats);
    EXPECT_EQ(thread->GetSectorErrorCount(), 0u);
    // The question stops the animation and starts it again.
    EXPECT_EQ(window.Count(WM_WIPE_TOGGLE_ANIMATION), 2);
    // The check stops at the dirty run: nothing after it was reported.
    EXPECT_LT(window.Progress(WP_VERIFY).size(), 30u);
  }
}

TEST_F(WipeThreadTest, UnreadableRunInTheReadBackIsCountedAndSkipped) {
  EnableLog();
  window.onSend = [this](const Message& m) {
    if (m.progress.phase == WP_VERIFY && m.progress.percent == 0.0f) {
      std::lock_guard lock(disk->mutex);
      disk->silentSectors = {1500};  // claims to read, delivers nothing
    }
  };
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultNo; });
  auto thread = MakeThread(3);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));
  EXPECT_EQ(Ends(), "S S F0,0 ");
  EXPECT_TRUE(answers.Asked().empty());
  EXPECT_EQ(thread->GetSectorErrorCount(), 1u);
  EXPECT_EQ(window.Progress(WP_VERIFY).back().percent, 100.0f);
  EXPECT_NE(LogText().find("Operation result: FAILURE"), std::string::npos);
}

TEST_F(WipeThreadTest, ProgressIsSentOnlyWhenTheShownValueChanges) {
  // 64 MiB of zeros: 2,048 runs of 32 KiB, yet the window hears of each
  // whole percent once, and of 0 and 100.
  disk = std::make_shared<platform::MemoryDisk>(64ull << 20 >> 9);
  FormatWhenFinished = false;
  auto thread = MakeThread(1);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));
  const auto pass = window.Progress(WP_OVERWRITE);
  EXPECT_LE(pass.size(), 102u);
  EXPECT_GE(pass.size(), 90u);
  for (size_t i = 1; i + 1 < pass.size(); ++i) {
    EXPECT_GT(static_cast<int>(pass[i].percent), static_cast<int>(pass[i - 1].percent)) << i;
  }
  EXPECT_EQ(pass.back().percent, 100.0f);
}

TEST_F(WipeThreadTest, FinalFormatFailingSixTimesPostsOnlyTheFailure) {
  EnableLog();
  formatter.outcomes = {false};
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultYes; });
  auto thread = MakeThread(1);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));
  EXPECT_EQ(formatter.requests.size(), 6u);
  EXPECT_EQ(Ends(), "S S X20003 ");  // and no finished message after it
  EXPECT_EQ(thread->GetErrorCode(), 20003);
  EXPECT_TRUE(answers.Asked().empty());  // 20003 is reported, not asked about
  EXPECT_EQ(LogText().find("Operation finished:"), std::string::npos);
}

TEST_F(WipeThreadTest, LogThatCannotBeWrittenAndNoStopsTheRunWithOneEndMessage) {
  CSettings settings;
  settings.SetLogEnabled(true);
  settings.SetLogLocation(dir.File("no such folder"));
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultNo; });
  auto thread = MakeThread(1);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));
  ASSERT_EQ(answers.Asked().size(), 1u);
  EXPECT_EQ(answers.Asked()[0].title, "Log File Error");
  EXPECT_EQ(window.Count(WM_WIPE_FINISHED) + window.Count(WM_WIPE_FAILED), 1);
  EXPECT_EQ(Ends().substr(0, 5), "F1,0 ");
  EXPECT_TRUE(window.Progress(WP_OVERWRITE).empty());
}

TEST_F(WipeThreadTest, VolumeSmallerThanARunIsWrittenInOneRunAndShownUpTo100) {
  disk = std::make_shared<platform::MemoryDisk>(32);  // 16 KiB, no file system
  disk->keepLog = true;
  FormatWhenFinished = false;
  auto thread = MakeThread(1);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));
  std::vector<uint32_t> writes;
  for (const auto& t : disk->log) {
    if (t.op == platform::MemoryDisk::Op::Write) writes.push_back(t.count);
  }
  EXPECT_EQ(writes, (std::vector<uint32_t>{32}));
  // The step is figured for a whole run, twice this volume; the window is
  // never shown more than 100.
  for (const auto& p : window.Progress()) EXPECT_LE(p.percent, 100.0f);
  EXPECT_EQ(Classify(DiskBytes()), Pattern::Zeros);
  EXPECT_EQ(Ends(), "S F0,0 ");
}

TEST_F(WipeThreadTest, LabelIsCutToElevenDefaultsToCleanedAndMayBeEmpty) {
  struct Case {
    const char* given;
    const char* kept;
  };
  for (const Case c : {Case{"ABCDEFGHIJKLMNO", "ABCDEFGHIJK"}, Case{nullptr, "CLEANED"}, Case{"", ""},
                       Case{"SHORT", "SHORT"}}) {
    auto thread = MakeThread(1, c.given);
    EXPECT_EQ(thread->GetVolumeLabel(), c.kept);
  }
}

TEST_F(WipeThreadTest, UnopenableDriveIsReportedAtConstructionAndUnformattedIsNot) {
  {
    disk->noMedium = true;
    auto thread = MakeThread(1);
    EXPECT_EQ(thread->GetErrorCode(), 1112);
  }
  {
    disk->noMedium = false;
    std::lock_guard lock(disk->mutex);
    std::fill(disk->bytes.begin(), disk->bytes.end(), 0);
  }
  auto thread = MakeThread(1);
  EXPECT_EQ(thread->GetErrorCode(), 0);  // 1785 is no obstacle
}

TEST(WipeThreadLoopDevice, ReadOnlyLoopDeviceFailsWith19) {
  fixtures::TempDir dir;
  const std::string image = dir.File("ro.img");
  ASSERT_TRUE(fixtures::MakeFloppy(image));
  const std::string before = fixtures::ReadBytes(image, 0, kFloppyBytes);
  auto attach = fixtures::LoopDevice::AttachImage(image, true);
  NFX_REQUIRE_LOOP(attach);
  fixtures::DriveMap map({{'R', "removable", attach.device->node()}});
  TheLogger().Close();
  wipetest::RecordingTarget window;
  wipetest::ScriptedFormatter formatter;
  wipetest::FormatterGuard guard(&formatter);
  DriveWipeThread::Environment env;
  env.notifyShell = [](char) {};
  DriveWipeThread thread(&window, true, 1, "RO", WIPE_FS_FAT, 'r', env);
  ASSERT_EQ(thread.GetErrorCode(), 0);
  ASSERT_TRUE(wipetest::RunToEnd(thread));
  EXPECT_EQ(window.Count(WM_WIPE_FINISHED), 0);
  ASSERT_EQ(window.Count(WM_WIPE_FAILED), 1);
  EXPECT_EQ(thread.GetErrorCode(), 19);
  EXPECT_TRUE(formatter.requests.empty());
  EXPECT_EQ(fixtures::ReadBytes(image, 0, kFloppyBytes), before);
}

}  // namespace
