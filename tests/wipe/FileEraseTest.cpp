// The file-erase phase of the 95/98/ME family (injected), on a folder that
// stands for the drive's root and a floppy held in memory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "settings/CSettings.h"
#include "tests/wipe/FloppyWipeTest.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using wipetest::Message;

namespace {

// A freshly formatted 1.44 MB floppy: 224 root entries, 512-byte clusters,
// 2,847 free clusters.
constexpr uint64_t kFloppyFree = 2847ull * 512;
constexpr uint32_t kRun = 64 * 512;

std::map<std::string, uint64_t> Listing(const std::string& folder) {
  std::map<std::string, uint64_t> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    out[e.path().filename().string()] = e.is_regular_file() ? e.file_size() : 0;
  }
  return out;
}

using fixtures::ReadFile;

class FileEraseTest : public wipetest::FloppyWipeTest {
 protected:
  void SetUp() override {
    FloppyWipeTest::SetUp();
    if (HasFatalFailure()) return;
    disk->freeBytes = kFloppyFree;
  }

  std::unique_ptr<DriveWipeThread> MakeThread(int passes) { return FloppyWipeTest::MakeThread(passes, "FLOPPY"); }
  void PutFiles() {
    fs::create_directories(root.File("sub/deeper"));
    ASSERT_TRUE(fixtures::WriteFile(root.File("a.txt"), "alpha"));
    ASSERT_TRUE(fixtures::WriteFile(root.File("sub/b.txt"), "beta"));
    ASSERT_TRUE(fixtures::WriteFile(root.File("sub/deeper/c.bin"), std::string(5000, 'c')));
  }
  // Lists the root when the cleanup starts: the fill files as they are.
  void SnapshotAtCleanup() {
    window.onSend = [this](const Message& m) {
      if (m.progress.phase == WP_CLEANUP && m.progress.percent == 0.0f) atCleanup = Listing(root.path());
    };
  }
  static std::map<std::string, uint64_t> FloppyFillFiles() {
    std::map<std::string, uint64_t> expected;
    for (unsigned i = 0; i < 223; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "%.8u.000", i);
      expected[name] = i == 222 ? 6144 + 87552 : 6144;
    }
    return expected;
  }
  wipetest::VersionGuard versionGuard{wipetest::Windows98()};
  std::map<std::string, uint64_t> atCleanup;
};

TEST_F(FileEraseTest, FloppyGetsItsFillFilesAfterTheFilesGoAndIsLeftEmpty) {
  PutFiles();
  SnapshotAtCleanup();
  auto thread = MakeThread(1);
  ASSERT_TRUE(thread->MakePatternBuffers(1, kRun));
  EXPECT_TRUE(thread->FillFilePasses('q', 1, kRun));

  EXPECT_EQ(thread->GetFilesFound(), 5);  // a.txt, sub, b.txt, deeper, c.bin
  EXPECT_EQ(atCleanup, FloppyFillFiles());
  EXPECT_TRUE(Listing(root.path()).empty());
  const auto erase = window.Progress(WP_ERASE_FILES);
  ASSERT_FALSE(erase.empty());
  EXPECT_EQ(erase.back().percent, 100.0f);
  const auto cleanup = window.Progress(WP_CLEANUP);
  ASSERT_FALSE(cleanup.empty());
  EXPECT_EQ(cleanup.front().percent, 0.0f);
  // 223 files, yet the window hears only of changes to the whole percent.
  EXPECT_LE(window.Progress(WP_OVERWRITE).size(), 102u);
  EXPECT_EQ(thread->GetSectorErrorCount(), 0u);
}

TEST_F(FileEraseTest, ThreePassesRewriteTheSameFilesAndCleanupRemovesExactlyThem) {
  std::vector<std::string> passOneContent;
  window.onSend = [&](const Message& m) {
    if (m.progress.phase == WP_OVERWRITE && m.progress.passNumber == 2 && m.progress.percent == 0.0f) {
      passOneContent.push_back(ReadFile(root.File("00000005.000")));
    }
    if (m.progress.phase == WP_CLEANUP && m.progress.percent == 0.0f) {
      atCleanup = Listing(root.path());
      passOneContent.push_back(ReadFile(root.File("00000005.000")));
    }
  };
  auto thread = MakeThread(3);
  ASSERT_TRUE(thread->MakePatternBuffers(3, kRun));
  EXPECT_TRUE(thread->FillFilePasses('q', 3, kRun));

  EXPECT_EQ(atCleanup, FloppyFillFiles());
  ASSERT_EQ(passOneContent.size(), 2u);
  EXPECT_EQ(passOneContent[0], std::string(6144, '\0'));
  const std::string& pairs = passOneContent[1];
  ASSERT_EQ(pairs.size(), 6144u);
  for (size_t i = 0; i < pairs.size(); i += 2) {
    ASSERT_EQ(static_cast<uint8_t>(pairs[i + 1]), static_cast<uint8_t>(pairs[i] ^ 0xFF)) << i;
  }
  std::vector<int> passesStarted;
  for (const auto& p : window.Progress(WP_OVERWRITE)) {
    if (p.percent == 0.0f) passesStarted.push_back(p.passNumber);
  }
  EXPECT_EQ(passesStarted, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(Listing(root.path()).empty());
  // An empty drive: no "Erasing files" at all.
  EXPECT_TRUE(window.Progress(WP_ERASE_FILES).empty());
}

TEST_F(FileEraseTest, Fat32WithFourKilobyteClustersGets127FillFiles) {
  fixtures::ImageOptions options;
  options.sectorsPerCluster = 8;
  std::string error;
  ASSERT_TRUE(fixtures::MakeImage(image, 40ull << 20, fixtures::FileSystem::FAT32, options, &error)) << error;
  disk = platform::MemoryDisk::FromImage(image);
  ASSERT_TRUE(disk);
  disk->freeBytes = 8ull << 20;  // what the mounted volume would say
  SnapshotAtCleanup();
  auto thread = MakeThread(1);
  ASSERT_EQ(thread->Controller().GetFileSystemType(), FS_FAT32);
  ASSERT_EQ(thread->Controller().GetClusterSize(), 4096u);
  ASSERT_TRUE(thread->MakePatternBuffers(1, 64 * 4096));
  EXPECT_TRUE(thread->FillFilePasses('q', 1, 64 * 4096));
  ASSERT_EQ(atCleanup.size(), 127u);
  uint64_t total = 0;
  for (const auto& [name, size] : atCleanup) {
    EXPECT_EQ(size % 4096, name == "00000126.000" ? (8ull << 20) % 4096 : 0u) << name;
    total += size;
  }
  EXPECT_EQ(total, 8ull << 20);  // together the fill files take all free space
}

TEST_F(FileEraseTest, ReadOnlyFileFailsThePhaseBeforeAnyFillFile) {
  PutFiles();
  ASSERT_EQ(chmod(root.File("sub/b.txt").c_str(), 0444), 0);
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultNo; });
  auto thread = MakeThread(1);
  ASSERT_TRUE(thread->MakePatternBuffers(1, kRun));
  EXPECT_FALSE(thread->FillFilePasses('q', 1, kRun));
  EXPECT_TRUE(fs::exists(root.File("sub/b.txt")));
  EXPECT_FALSE(fs::exists(root.File("00000000.000")));
  ASSERT_EQ(answers.Asked().size(), 1u);
  EXPECT_EQ(answers.Asked()[0].title, "Unknown Error");
  EXPECT_EQ(thread->GetErrorCode(), 5);
  EXPECT_EQ(Ends(), "X5 ");
}

TEST_F(FileEraseTest, CancelDuringPassTwoLeavesTheFillFilesAndSkipsCleanup) {
  DriveWipeThread* t = nullptr;
  window.onSend = [&](const Message& m) {
    if (m.progress.phase == WP_OVERWRITE && m.progress.passNumber == 2 && m.progress.percent > 20) t->Terminate();
  };
  auto thread = MakeThread(3);
  t = thread.get();
  ASSERT_TRUE(thread->MakePatternBuffers(3, kRun));
  EXPECT_FALSE(thread->FillFilePasses('q', 3, kRun));
  EXPECT_TRUE(window.Progress(WP_CLEANUP).empty());
  EXPECT_EQ(Listing(root.path()).size(), 223u);
}

TEST_F(FileEraseTest, FillWritesThatMakeNoProgressAreCountedAndGivenUp) {
  // Every file may grow to 4 KiB only: past that each write moves nothing.
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  auto thread = MakeThread(1);
  bool ok = thread->MakePatternBuffers(1, kRun);
  const auto start = std::chrono::steady_clock::now();
  ok = ok && thread->FillFilePasses('q', 1, kRun);
  const auto took = std::chrono::steady_clock::now() - start;
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);

  EXPECT_TRUE(ok);
  EXPECT_EQ(thread->GetSectorErrorCount(), 223u * DriveWipeThread::kMaxStalledWrites);
  EXPECT_LT(took, 10s);
  EXPECT_TRUE(Listing(root.path()).empty());
}

TEST_F(FileEraseTest, FilledAreaCheckPassesOverTheLabelAndDeletedFillEntriesOnly) {
  auto thread = MakeThread(3);
  ASSERT_TRUE(thread->MakePatternBuffers(3, kRun));
  const uint64_t dataStart = thread->Controller().GetFirstDataSector() * 512;
  ASSERT_EQ(dataStart, 33u * 512);
  {
    std::lock_guard lock(disk->mutex);
    const uint8_t* pairs = thread->PatternForPass(3);
    for (uint64_t at = dataStart; at < disk->bytes.size(); at += 2) {
      disk->bytes[at] = pairs[at % 64];
      disk->bytes[at + 1] = pairs[at % 64 + 1];
    }
    uint8_t* label = &disk->bytes[dataStart + 64];
    std::memcpy(label, "FLOPPY     ", 11);
    label[11] = 0x08;
    std::memset(label + 12, 0x11, 14);  // times: not pairs
    std::memset(label + 26, 0, 6);
    uint8_t* fill = &disk->bytes[dataStart + 512 * 3 + 96];
    std::memcpy(fill, "\xE5" "0000017000", 11);
    std::memset(fill + 11, 0x20, 21);
  }
  disk->freeBytes = disk->bytes.size() - dataStart;
  EXPECT_TRUE(thread->VerifyFilledArea(kRun));
  EXPECT_EQ(thread->GetErrorCode(), 0);
  EXPECT_EQ(window.Progress(WP_VERIFY).back().percent, 99.0f);

  {
    std::lock_guard lock(disk->mutex);
    disk->bytes[dataStart + 40000] ^= 0x10;
  }
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultYes; });
  EXPECT_FALSE(thread->VerifyFilledArea(kRun));
  EXPECT_EQ(thread->GetErrorCode(), 20002);
  EXPECT_TRUE(answers.Asked().empty());
}

TEST(FileEraseEntries, LabelAndDeletedFillEntryTests) {
  struct Case {
    const char* name;  // 11 bytes from offset 0
    uint8_t attribute;
    uint8_t tail;  // bytes 26 to 31
    bool label, fill;
  };
  for (const Case c : {Case{"CLEANED    ", 0x08, 0, true, false}, Case{"CLEANED    ", 0x28, 0, true, false},
                       Case{"CLEANED    ", 0x08, 3, false, false}, Case{"CLEANED    ", 0x20, 0, false, false},
                       Case{"\xE5" "0000001000", 0x20, 7, false, true},
                       Case{"\xE5" "0000001" "001", 0x20, 7, false, false},  // extension "001"
                       Case{"\xE5" "000A001000", 0x20, 7, false, false},
                       Case{"00000001000", 0x20, 7, false, false}}) {
    uint8_t entry[32] = {};
    std::memcpy(entry, c.name, 11);
    entry[11] = c.attribute;
    std::memset(entry + 26, c.tail, 6);
    EXPECT_EQ(DriveWipeThread::IsLabelEntry(entry), c.label) << c.name;
    EXPECT_EQ(DriveWipeThread::IsDeletedFillEntry(entry), c.fill) << c.name;
  }
}

TEST_F(FileEraseTest, WholeRunFormatsFirstAsksBothQuestionsAndLeavesTheRootEmpty) {
  PutFiles();
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultOk; });
  auto thread = MakeThread(1);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));
  EXPECT_EQ(Ends(), "S S F0,0 ");
  const auto asked = answers.Asked();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].title, "Drive Q:");
  EXPECT_EQ(asked[0].text.rfind("Before wiping drive Q:, Nullifex needs to format the drive.", 0), 0u);
  EXPECT_EQ(asked[1].text.rfind("As a final step in the cleaning process, drive Q: needs to be reformatted.", 0), 0u);
  for (const auto& q : asked) {
    EXPECT_EQ(q.buttons, ButtonsOkCancel);
    EXPECT_EQ(q.icon, IconQuestion);
  }
  // Formatted before (quick: the floppy had a file system) and after.
  ASSERT_EQ(formatter.requests.size(), 2u);
  EXPECT_TRUE(formatter.requests[0].quick);
  EXPECT_TRUE(formatter.requests[1].quick);
  EXPECT_EQ(formatter.requests[0].kind, platform::FormatKind::kFat12);
  // The pre-format's progress comes before the first stage.
  const auto messages = window.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages[0].id, WM_WIPE_PROGRESS);
  EXPECT_EQ(messages[0].progress.phase, WP_FORMAT);
  EXPECT_TRUE(Listing(root.path()).empty());
}

TEST_F(FileEraseTest, CancelAtThePreFormatQuestionStopsBeforeAnythingIsWritten) {
  PutFiles();
  CSettings settings;
  settings.SetLogEnabled(true);
  settings.SetLogLocation(dir.path());
  wipetest::ScriptedAnswers answers([](const auto&) { return ResultCancel; });
  auto thread = MakeThread(3);
  ASSERT_TRUE(wipetest::RunToEnd(*thread));
  EXPECT_EQ(Ends(), "S F1,0 ");
  EXPECT_TRUE(formatter.requests.empty());
  EXPECT_TRUE(window.Progress().empty());
  EXPECT_EQ(Listing(root.path()).size(), 2u);  // a.txt and sub are still there
  const std::string log = ReadFile(dir.File("Log.txt"));
  EXPECT_NE(log.find("Operation: Overwrite drive Q:\r\nOverwrites: 3 with verification (DoD 5220.22-M).\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Operation began: "), std::string::npos);
  EXPECT_EQ(log.find("Operation finished:"), std::string::npos);
}

}  // namespace
