#include <stdlib.h>

#include <thread>
#include <tuple>
#include <vector>

#include "TempConfig.h"
#include "platform/Thread.h"
#include "settings/OVTimer.h"

namespace {

const std::string kRule(66, '-');

// A worker that runs one function, as the wipe and verify threads run theirs.
class FunctionThread : public platform::Thread {
 public:
  explicit FunctionThread(std::function<void(FunctionThread&)> fn) : fn_(std::move(fn)) {}
  ~FunctionThread() override { Stop(); }

 protected:
  void Execute() override { fn_(*this); }

 private:
  std::function<void(FunctionThread&)> fn_;
};

struct PostRecorder : platform::MessageTarget {
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    posts.emplace_back(message, wParam, lParam);
  }
  intptr_t Send(uint32_t, uintptr_t, intptr_t) override { return 0; }
  std::vector<std::tuple<uint32_t, uintptr_t, intptr_t>> posts;
};

struct Question {
  std::string text, title;
  int buttons, icon;
  bool onMainThread;
};

}  // namespace

class LoggerTest : public TempConfigTest {
 protected:
  void SetUp() override {
    TempConfigTest::SetUp();
    logDir_ = root_ + "/logs";
    std::filesystem::create_directories(logDir_);
    // The record's system line is pinned so whole files can be compared.
    platform::InjectVersionInfo(platform::OsVersionInfo{platform::kPlatformNT, 5, 1, 2600, ""});
  }
  void EnableLog(const std::string& folder) {
    CSettings settings;
    settings.SetLogEnabled(true);
    settings.SetLogLocation(folder);
  }
  std::string LogPath() const { return logDir_ + "/Log.txt"; }

  // Runs `work` on a worker while this thread serves as the main thread,
  // answering the log-failure question with `answer`.
  void RunOnWorker(const std::function<void(FunctionThread&)>& work, int answer) {
    platform::EventLoop loop;
    const auto mainId = std::this_thread::get_id();
    platform::SetMainThreadDispatcher(&loop);
    platform::SetAskUser([&, mainId](const std::string& text, const std::string& title, int buttons,
                                     int icon) {
      questions_.push_back({text, title, buttons, icon, std::this_thread::get_id() == mainId});
      return answer;
    });
    FunctionThread worker([&](FunctionThread& self) {
      work(self);
      terminated_ = self.IsTerminateRequested();
    });
    worker.Resume();
    EXPECT_TRUE(loop.RunUntil([&] { return worker.Finished(); }, 20000));
    worker.WaitFor();
    platform::SetMainThreadDispatcher(nullptr);
  }

  std::string logDir_;
  std::vector<Question> questions_;
  PostRecorder window_;
  bool terminated_ = false;
};

TEST_F(LoggerTest, TheHeaderBlockByteForByte) {
  EXPECT_EQ(BuildLogHeader(),
            "------------------------------------------------------------------\r\n"
            "Action Log\r\n"
            "\r\n"
            "Product: Ostrand Nullifex\r\n"
            "Operating System: Windows XP\r\n"
            "------------------------------------------------------------------\r\n"
            "\r\n"
            "\r\n");
}

TEST_F(LoggerTest, TheRealSystemIsNamedUnlessAVersionIsInjected) {
  platform::InjectVersionInfo(std::nullopt);
  const std::string real = platform::RealSystemName();
  EXPECT_EQ(OperatingSystemName(), real);
  EXPECT_NE(BuildLogHeader().find("\r\nOperating System: " + real + "\r\n" + kRule + "\r\n"),
            std::string::npos);
}

TEST_F(LoggerTest, WindowsNameTable) {
  using platform::OsVersionInfo;
  struct Case {
    OsVersionInfo info;
    const char* name;
  };
  const Case cases[] = {
      {{platform::kPlatformNT, 4, 0, 1381, "Service Pack 6"}, "Windows NT"},
      {{platform::kPlatformNT, 3, 1, 0, ""}, "Windows NT"},
      {{platform::kPlatformNT, 5, 0, 2195, ""}, "Windows 2000"},
      {{platform::kPlatformNT, 5, 1, 2600, ""}, "Windows XP"},
      {{platform::kPlatformNT, 5, 2, 3790, ""}, "Windows Server 2003"},
      {{platform::kPlatformNT, 6, 1, 7601, ""}, "Windows XP"},  // minor version alone
      {{platform::kPlatformNT, 5, 3, 0, ""}, "Windows NT/2000/XP"},
      {{platform::kPlatformWindows, 4, 0, 950, ""}, "Windows 95"},
      {{platform::kPlatformWindows, 4, 10, 2222, " A "}, "Windows 98 SE"},
      {{platform::kPlatformWindows, 4, 10, 1998, "A"}, "Windows 98"},
      {{platform::kPlatformWindows, 4, 10, 1998, " B"}, "Windows 98"},
      {{platform::kPlatformWindows, 4, 90, 3000, ""}, "Windows ME"},
      {{platform::kPlatformWindows, 4, 3, 0, ""}, "Windows 9x"},
      {{platform::kPlatformWin32s, 3, 10, 0, ""}, "Windows 3.1"},
      {{9, 5, 1, 0, ""}, "Windows 3.1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowsVersionName(c.info), c.name) << c.name;
    platform::InjectVersionInfo(c.info);
    EXPECT_EQ(OperatingSystemName(), c.name);
  }
}

TEST_F(LoggerTest, ANewLogGetsTheHeaderThenTheRecordsAndStaysOpen) {
  EnableLog(logDir_);
  CLogger logger;
  ASSERT_TRUE(logger.Append("first\r\n"));
  ASSERT_TRUE(logger.Append("second\r\n"));
  EXPECT_EQ(ReadFile(LogPath()), BuildLogHeader() + "first\r\nsecond\r\n");

  // The open file keeps being used until the program starts again.
  const std::string other = root_ + "/other";
  std::filesystem::create_directories(other);
  CSettings().SetLogLocation(other);
  ASSERT_TRUE(logger.Append("third\r\n"));
  EXPECT_EQ(ReadFile(LogPath()), BuildLogHeader() + "first\r\nsecond\r\nthird\r\n");
  EXPECT_FALSE(std::filesystem::exists(other + "/Log.txt"));
  logger.Close();
  ASSERT_TRUE(logger.Append("fourth\r\n"));
  EXPECT_EQ(ReadFile(other + "/Log.txt"), BuildLogHeader() + "fourth\r\n");
}

TEST_F(LoggerTest, AnExistingLogIsAppendedToAfterItsLastByte) {
  struct Case {
    const char* what;
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"no line end at the end", "old record", "old recordnew\r\n"},
      {"a whole old record", "x\r\n", "x\r\nnew\r\n"},
      {"empty file", "", BuildLogHeader() + "new\r\n"},
  };
  EnableLog(logDir_);
  for (const Case& c : cases) {
    WriteFile(LogPath(), c.before);
    CLogger logger;
    EXPECT_TRUE(logger.Append("new\r\n")) << c.what;
    EXPECT_EQ(ReadFile(LogPath()), c.after) << c.what;
  }
}

TEST_F(LoggerTest, LoggingOffWritesNothing) {
  CSettings().SetLogLocation(logDir_);
  CLogger logger;
  EXPECT_TRUE(logger.Append("record\r\n"));
  EXPECT_FALSE(logger.IsOpen());
  EXPECT_TRUE(std::filesystem::is_empty(logDir_));
}

TEST_F(LoggerTest, AFolderThatIsMissingFailsUntilItExists) {
  const std::string missing = root_ + "/not-yet";
  EnableLog(missing);
  CLogger logger;
  EXPECT_FALSE(logger.Append("lost\r\n"));
  EXPECT_FALSE(logger.IsOpen());
  std::filesystem::create_directories(missing);
  EXPECT_TRUE(logger.Append("kept\r\n"));
  EXPECT_EQ(ReadFile(missing + "/Log.txt"), BuildLogHeader() + "kept\r\n");
}

TEST_F(LoggerTest, AFailedWriteIsReported) {
  std::filesystem::create_symlink("/dev/full", LogPath());
  EnableLog(logDir_);
  CLogger logger;
  EXPECT_FALSE(logger.Append("record\r\n"));
}

TEST_F(LoggerTest, LogPathsUseTheFolderUnchanged) {
  EXPECT_EQ(LogFilePath("/var/log/nfx"), "/var/log/nfx/Log.txt");
  EXPECT_EQ(LogFilePath("/var/log/nfx/"), "/var/log/nfx//Log.txt");
  EXPECT_EQ(LogFilePath(""), "/Log.txt");
}

TEST_F(LoggerTest, YesTurnsLoggingOffAndIsAskedOnceOnTheMainThread) {
  const std::string missing = root_ + "/gone";
  EnableLog(missing);
  const LogStop stop{LogOperation::kWipe, 'e', &window_, 1025, 1, 29};
  RunOnWorker(
      [&](FunctionThread& self) {
        LogLine(self, stop, "first\r\n");
        LogLine(self, stop, "second\r\n");
        LogStampedLine(self, stop, "Operation finished:");
      },
      ResultYes);
  ASSERT_EQ(questions_.size(), 1u);
  const Question& q = questions_[0];
  EXPECT_TRUE(q.onMainThread);
  EXPECT_EQ(q.title, "Log File Error");
  EXPECT_EQ(q.buttons, ButtonsYesNo);
  EXPECT_EQ(q.icon, IconCaution);
  // The drive that holds the temporary folder depends on the machine; it is
  // a letter, as the rest of the text is fixed.
  const std::string head = "There was an error writing to the log file at " + missing +
                           "/Log.txt.  You should reboot your computer and scan drive ";
  ASSERT_GT(q.text.size(), head.size());
  const char logDrive = q.text[head.size()];
  EXPECT_TRUE(logDrive >= 'A' && logDrive <= 'Z') << q.text;
  EXPECT_EQ(q.text, head + logDrive +
                        ": for errors.  "
                        "Would you like to turn of the logging feature and continue wiping drive "
                        "E:?\r\n\r\nClick Yes to continue wiping (not recommended).  Click No to "
                        "stop wiping drive E:.");
  EXPECT_FALSE(CSettings().GetLogEnabled());
  EXPECT_FALSE(terminated_);
  EXPECT_TRUE(window_.posts.empty());
}

TEST_F(LoggerTest, YesAsksOnceEvenWhenLoggingCannotBeSwitchedOff) {
  EnableLog(root_ + "/gone");
  // A folder where the settings' temp file goes makes every settings write
  // fail, even for root.
  std::filesystem::create_directories(KeyFile() + ".tmp");
  RunOnWorker(
      [&](FunctionThread& self) {
        for (int i = 0; i < 3; ++i) LogLine(self, LogStop{LogOperation::kWipe, 'e', &window_, 1025, 1, 0}, "x\r\n");
      },
      ResultYes);
  EXPECT_EQ(questions_.size(), 1u);
  EXPECT_TRUE(CSettings().GetLogEnabled());
  // The next run is a new worker, and asks again.
  RunOnWorker([&](FunctionThread& self) { LogLine(self, LogStop{}, "y\r\n"); }, ResultYes);
  EXPECT_EQ(questions_.size(), 2u);
}

TEST_F(LoggerTest, NoStopsTheWorkerAndPostsItsStopMessage) {
  EnableLog(root_ + "/gone");
  RunOnWorker(
      [&](FunctionThread& self) {
        LogLine(self, LogStop{LogOperation::kWipe, 'e', &window_, 1025, 1, 29}, "a\r\n");
        LogLine(self, LogStop{LogOperation::kVerify, 'f', &window_, 1027, 2, 0}, "b\r\n");
      },
      ResultNo);
  EXPECT_TRUE(terminated_);
  EXPECT_EQ(window_.posts, (std::vector<std::tuple<uint32_t, uintptr_t, intptr_t>>{
                               {1025, 1, 29}, {1027, 2, 0}}));
  // Logging stays on, so a later failure asks again.
  EXPECT_TRUE(CSettings().GetLogEnabled());
  ASSERT_EQ(questions_.size(), 2u);
  EXPECT_NE(questions_[1].text.find("continue verifying drive F:?"), std::string::npos);
  EXPECT_NE(questions_[1].text.find("/gone/Log.txt."), std::string::npos);
  EXPECT_NE(questions_[1].text.find("Click No to stop verifying drive F:."), std::string::npos);
  EXPECT_EQ(questions_[1].title, "Log File Error");
}

TEST_F(LoggerTest, TheQuestionNamesTheDriveThatHoldsTheLog) {
  const LogStop stop{LogOperation::kVerify, 'd', nullptr, 1027, 2, 0};
  const std::string text = LogFailureQuestion(stop, LogFilePath("c:\\Logs"));
  EXPECT_NE(text.find("at c:\\Logs/Log.txt.  You should reboot your computer and scan drive C: for "
                      "errors."),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Yes"), std::string::npos);
  EXPECT_NE(text.find("drive D:"), std::string::npos);
  // An empty folder puts the log at the root, which is the system drive.
  EXPECT_NE(LogFailureQuestion(stop, LogFilePath("")).find("at /Log.txt.  You should reboot your "
                                                           "computer and scan drive C: for errors."),
            std::string::npos);
}

TEST_F(LoggerTest, WritesGoThroughTheProcessLogger) {
  EnableLog(logDir_);
  SetTimeSourceForTests([] { return int64_t{1796825100}; });
  setenv("TZ", "UTC", 1);
  RunOnWorker(
      [&](FunctionThread& self) {
        LogLine(self, LogStop{}, "Drive: E:\r\n");
        LogStampedLine(self, LogStop{}, "Operation began:");
      },
      ResultNo);
  unsetenv("TZ");
  EXPECT_TRUE(questions_.empty());
  EXPECT_EQ(ReadFile(LogPath()),
            BuildLogHeader() + "Drive: E:\r\nOperation began: Wednesday, 09 Dec 2026 at 14:05\r\n");
}

TEST_F(LoggerTest, StampedLinesUseLocalTimeWithEnglishNames) {
  struct Case {
    const char* tz;
    int64_t when;
    const char* line;
  };
  const Case cases[] = {
      {"UTC", 1796825100, "Operation began: Wednesday, 09 Dec 2026 at 14:05\r\n"},
      {"EST5", 1796825100, "Operation began: Wednesday, 09 Dec 2026 at 09:05\r\n"},
      {"JST-9", 1796825100, "Operation began: Wednesday, 09 Dec 2026 at 23:05\r\n"},
      {"UTC", 1796947140, "Operation began: Thursday, 10 Dec 2026 at 23:59\r\n"},
      {"UTC", 0, "Operation began: Thursday, 01 Jan 1970 at 00:00\r\n"},
  };
  for (const Case& c : cases) {
    setenv("TZ", c.tz, 1);  // the zone is reloaded for every line
    EXPECT_EQ(FormatStampedLine("Operation began:", static_cast<time_t>(c.when)), c.line) << c.tz;
  }
  unsetenv("TZ");
}

TEST_F(LoggerTest, ElapsedTime) {
  struct Case {
    int32_t elapsed;
    const char *h, *m, *s;
  };
  const Case cases[] = {
      {0, "00", "00", "00"},        {59, "00", "00", "59"},   {60, "00", "01", "00"},
      {3600, "01", "00", "00"},     {3725, "01", "02", "05"}, {36 * 3600, "36", "00", "00"},
      {100 * 3600 + 61, "100", "01", "01"},
      {-5, "00", "00", "00"},  // the clock went back during the run
  };
  for (const Case& c : cases) {
    OVTimer timer;
    timer.start = 1796825100;
    timer.stop = timer.start + c.elapsed;
    std::string h, m, s;
    timer.FormatElapsed(h, m, s);
    EXPECT_EQ(h + ":" + m + ":" + s, std::string(c.h) + ":" + c.m + ":" + c.s) << c.elapsed;
  }
  OVTimer timer;
  EXPECT_EQ(timer.start, 0);
  EXPECT_EQ(timer.stop, 0);
  int64_t now = 1000;
  SetTimeSourceForTests([&] { return now; });
  timer.Start();
  now += 3725;
  timer.Stop();
  std::string h, m, s;
  timer.FormatElapsed(h, m, s);
  EXPECT_EQ(h + m + s, "010205");
}
