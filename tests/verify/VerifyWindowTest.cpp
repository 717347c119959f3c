// The verify window end to end, offscreen: real images in a private drive
// map, the real verify thread, the window driven by its component names and
// its questions answered as a person would.
#include <sys/resource.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "tests/fixtures/Fixtures.h"
#include "settings/CSettings.h"
#include "tests/widgets/GuiTest.h"
#include "verify/TForm_VerifyDrive.h"
#include "viewer/TForm_ViewSectors.h"
#include "widgets/DriveList.h"
#include "widgets/SkinWidgets.h"
#include "widgets/TXAMessageBox.h"

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using fixtures::FileSystem;
using guitest::ModalWatcher;
using guitest::Pump;

const QColor kGreen(0, 128, 0);
const QColor kMaroon(128, 0, 0);

QString Text(QWidget* window, const char* name) {
  QLabel* label = window->findChild<QLabel*>(QString::fromLatin1(name));
  return label ? label->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
}

QColor TextColour(QWidget* window, const char* name) {
  QLabel* label = window->findChild<QLabel*>(QString::fromLatin1(name));
  if (!label) return {};
  label->ensurePolished();
  return label->palette().color(label->foregroundRole());
}

int Meter(QWidget* window) { return window->findChild<QProgressBar*>("Progress_Verify")->value(); }

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    Pump(5);
  }
  return true;
}

// Presses the button of a message box that answers `result`.
void Answer(QWidget* box, int result) {
  const char* name = result == ResultYes ? "Button_Yes" : result == ResultNo ? "Button_No" : "Button_Ok";
  QPushButton* button = guitest::Button(box, name);
  ASSERT_NE(button, nullptr) << name << " in " << qPrintable(box->windowTitle());
  button->click();
}

class VerifyWindowTest : public guitest::GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    SetDriveListSource(SystemDriveListSource());
  }

  // Picks drive E: in the drop-down as a user does and presses a button.
  static void VerifyDriveE(TForm_VerifyDrive& window, const char* button) {
    auto* combo = window.findChild<TDriveComboBox*>("DriveComboBox1");
    ASSERT_NE(combo, nullptr);
    const int item = combo->findText(QStringLiteral("E:"), Qt::MatchStartsWith);
    ASSERT_GE(item, 0) << "E: is not listed";
    combo->setCurrentIndex(item);
    emit combo->activated(item);
    ASSERT_EQ(combo->Drive(), 'e');
    QTest::mouseClick(guitest::Button(&window, button), Qt::LeftButton);
  }

  static bool RunEnded(TForm_VerifyDrive& window) {
    return window.Thread() == nullptr && guitest::Button(&window, "Button_Verify")->isEnabled();
  }
};

// Before any run: the layout's texts and states, the branding link, and
// Close (or Escape) closing the window at once.
TEST_F(VerifyWindowTest, IdleWindowBrandingAndClose) {
  guitest::WriteBranding("Local2", "www.nullifex.test");
  for (const bool escape : {false, true}) {
    TForm_VerifyDrive window(nullptr);
    window.show();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Verify Drive"));
    EXPECT_EQ(Text(&window, "MessageTitle"), QStringLiteral("Verify Drive C: is Clean"));
    EXPECT_TRUE(window.findChild<QLabel*>("Label_StartMessage")->isVisible());
    for (const char* hidden : {"Label_Progress", "Progress_Verify", "Label_Rate", "Button_ViewDirtySectors"}) {
      EXPECT_FALSE(window.findChild<QWidget*>(hidden)->isVisible()) << hidden;
    }
    for (const char* value : {"Label_DriveTypeText", "Label_DriveLabelText", "Label_ClusterSizeNumber",
                              "Label_DriveSizeNumber", "Label_DirtySectorsNum", "Label_DriveStatusText",
                              "Label_DriveErrors", "Label_Report"}) {
      EXPECT_EQ(Text(&window, value), QStringLiteral("N/A")) << value;
    }
    EXPECT_TRUE(guitest::Button(&window, "Button_Verify")->isDefault());
    EXPECT_EQ(guitest::Button(&window, "Button_Cancel")->text(), QStringLiteral("Close"));
    auto* animation = window.findChild<TAnimate*>("Animation");
    ASSERT_NE(animation, nullptr);
    EXPECT_EQ(animation->resourceNumber(), 132);
    EXPECT_FALSE(animation->IsPlaying());
    auto* timer = window.findChild<QTimer*>("DirtySectorTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 50);
    EXPECT_FALSE(timer->isActive());

    QLabel* link = window.findChild<QLabel*>("Label_Branding");
    EXPECT_EQ(link->text(), QStringLiteral("www.nullifex.test"));
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(link, &enter);
    EXPECT_TRUE(link->font().underline());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(link, &leave);
    EXPECT_FALSE(link->font().underline());

    if (escape) {
      QTest::keyClick(&window, Qt::Key_Escape);
    } else {
      QTest::mouseClick(guitest::Button(&window, "Button_Cancel"), Qt::LeftButton);
    }
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), ResultCancel);
  }
}

// A volume holding files: the status turns while the run goes, the run
// ends "Finished", the viewer is offered, and Yes opens it on the first
// dirty sector; No leaves the button to open it later.
TEST_F(VerifyWindowTest, FilesOnFatAreDirtyAndTheViewerShowsTheFirstDirtySector) {
  fixtures::TempDir dir;
  const std::string image = dir.File("fat.img");
  std::string error;
  // Large enough (sparse) that the run lasts over a second: the timer and
  // the rate line have their turns while it goes.
  ASSERT_TRUE(fixtures::MakeImage(image, 8ull << 30, FileSystem::FAT32, {.label = "DATA", .extraArgs = {}}, &error)) << error;
  const std::string host = dir.File("letter.txt");
  ASSERT_TRUE(fixtures::WriteFile(host, std::string(20000, 'q')));
  ASSERT_TRUE(fixtures::CopyIn(image, FileSystem::FAT32, host, "LETTER.TXT", &error)) << error;
  ASSERT_TRUE(fixtures::CopyIn(image, FileSystem::FAT32, host, "COPY.TXT", &error)) << error;
  fixtures::DriveMap map({{'E', "removable", image}});
  const std::string before = fixtures::ReadBytes(image, 0, 1 << 20);

  for (const int answer : {ResultYes, ResultNo}) {
    SCOPED_TRACE(answer == ResultYes ? "Yes" : "No");
    TForm_VerifyDrive window(nullptr);
    window.show();
    uint64_t viewerSector = UINT64_MAX;
    ModalWatcher watcher([&](QWidget* modal) {
      if (auto* viewer = qobject_cast<TForm_ViewSectors*>(modal)) {
        // The viewer shows its first sector once it has opened the drive
        // (and explained itself in a box of its own).
        auto* poll = new QTimer(viewer);
        QObject::connect(poll, &QTimer::timeout, viewer, [&viewerSector, viewer] {
          if (QApplication::activeModalWidget() != viewer ||
              Text(viewer, "Label_CurrentSector") == QLatin1String("Viewing Sector: N/A")) {
            return;
          }
          viewerSector = viewer->CurrentSector();
          viewer->reject();
        });
        poll->start(10);
      } else if (modal->windowTitle() == QLatin1String("View Dirty Sectors")) {
        Answer(modal, answer);
      } else if (auto* box = qobject_cast<TSkinnedForm*>(modal)) {
        box->accept();  // the viewer's one-time explanation
      }
    });

    QString statusWhileRunning;
    QColor colourWhileRunning;
    int meterWhenTurned = -1;
    QString rateWhileRunning;
    QTimer observer;
    QObject::connect(&observer, &QTimer::timeout, [&] {
      if (statusWhileRunning.isEmpty() && window.Thread() &&
          Text(&window, "Label_DriveStatusText") != QLatin1String("Clean")) {
        statusWhileRunning = Text(&window, "Label_DriveStatusText");
        colourWhileRunning = TextColour(&window, "Label_DriveStatusText");
        meterWhenTurned = Meter(&window);
      }
      if (rateWhileRunning.isEmpty() && window.Thread()) rateWhileRunning = Text(&window, "Label_Rate");
    });
    observer.start(5);
    VerifyDriveE(window, "Button_Verify");
    EXPECT_EQ(Text(&window, "MessageTitle"), QStringLiteral("Verify Drive E: is Clean"));
    EXPECT_EQ(guitest::Button(&window, "Button_Cancel")->text(), QStringLiteral("Stop Scanning"));
    ASSERT_TRUE(WaitUntil([&] { return RunEnded(window); }, 120000));
    // The answer's consequences run inside the finished handler: pump until
    // the question has been handled.
    ASSERT_TRUE(WaitUntil([&] { return !watcher.Titles().empty() && !QApplication::activeModalWidget(); }, 30000));
    observer.stop();

    EXPECT_EQ(statusWhileRunning, QStringLiteral("Uncleaned Sectors Detected"));
    EXPECT_EQ(colourWhileRunning, kMaroon);
    // Mid-run, so the timer turned it, not the count posted at the end.
    EXPECT_GE(meterWhenTurned, 0);
    EXPECT_LT(meterWhenTurned, 100);
    // The read rate and time left showed under the meter while it went.
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^[0-9.]+ [kMG]?B/s, about [0-9].* left$)"))
                    .match(rateWhileRunning)
                    .hasMatch())
        << qPrintable(rateWhileRunning);
    EXPECT_TRUE(Text(&window, "Label_Rate").isEmpty());
    EXPECT_EQ(Text(&window, "Label_DriveStatusText"), QStringLiteral("Uncleaned Sectors Detected"));
    EXPECT_EQ(Text(&window, "Label_Progress"), QStringLiteral("Finished"));
    EXPECT_EQ(Meter(&window), 100);
    EXPECT_EQ(Text(&window, "Label_DriveTypeText"), QStringLiteral("FAT32"));
    EXPECT_EQ(Text(&window, "Label_DriveLabelText"), QStringLiteral("DATA"));
    EXPECT_NE(Text(&window, "Label_Report"), QStringLiteral("100% clean"));
    EXPECT_EQ(guitest::Button(&window, "Button_Cancel")->text(), QStringLiteral("Close"));
    EXPECT_TRUE(guitest::Button(&window, "Button_ViewDirtySectors")->isVisible());
    ASSERT_NE(window.DirtySet(), nullptr);
    EXPECT_GT(window.DirtySet()->DirtyCount(), 0u);
    EXPECT_NE(Text(&window, "Label_DirtySectorsNum"), QStringLiteral("0"));
    ASSERT_FALSE(watcher.Titles().empty());
    EXPECT_EQ(watcher.Titles().front(), QStringLiteral("View Dirty Sectors"));

    if (answer == ResultYes) {
      CDirtyBitmap copy(*window.DirtySet());
      EXPECT_EQ(viewerSector, copy.FindFirst());
    } else {
      EXPECT_EQ(viewerSector, UINT64_MAX) << "No must not open the viewer";
    }
  }
  // Verifying and viewing only read.
  EXPECT_EQ(fixtures::ReadBytes(image, 0, 1 << 20), before);
}

// A volume the program wiped: clean, full and quick.
TEST_F(VerifyWindowTest, AVolumeWipedByTheProgramIsReportedClean) {
  fixtures::TempDir dir;
  const std::string image = dir.File("floppy.img");
  ASSERT_TRUE(fixtures::WriteFile(image, std::string()));
  ASSERT_TRUE(fixtures::FillRandom(image, 0, 1474560, 7));
  fixtures::DriveMap map({{'E', "removable", image}});
  const auto wiped = fixtures::RunTool({NFX_CLI_PATH, "wipe", "E:", "--passes", "1", "--fs", "fat", "--yes"});
  ASSERT_EQ(wiped.exitCode, 0) << wiped.output;

  TForm_VerifyDrive window(nullptr);
  window.show();
  ModalWatcher watcher([](QWidget* modal) { Answer(modal, ResultNo); });
  for (const char* button : {"Button_Verify", "Button_QuickVerify"}) {
    SCOPED_TRACE(button);
    VerifyDriveE(window, button);
    ASSERT_TRUE(WaitUntil([&] { return RunEnded(window); }, 60000));
    Pump(20);
    EXPECT_EQ(Text(&window, "Label_Progress"), QStringLiteral("Finished"));
    EXPECT_EQ(Meter(&window), 100);
    EXPECT_EQ(Text(&window, "Label_Report"), QStringLiteral("100% clean"));
    EXPECT_EQ(Text(&window, "Label_DriveStatusText"), QStringLiteral("Clean"));
    EXPECT_EQ(TextColour(&window, "Label_DriveStatusText"), kGreen);
    EXPECT_EQ(Text(&window, "Label_DirtySectorsNum"), QStringLiteral("0"));
    EXPECT_EQ(Text(&window, "Label_DriveErrors"), QStringLiteral("0"));
    EXPECT_EQ(Text(&window, "Label_DriveTypeText"), QStringLiteral("FAT12"));
    EXPECT_EQ(Text(&window, "Label_ClusterSizeNumber"), QStringLiteral("512 bytes"));
    // 2,879 sectors as 512-byte ones.
    EXPECT_EQ(Text(&window, "Label_DriveSizeNumber"), QStringLiteral("1.41 MB"));
    EXPECT_TRUE(Text(&window, "Label_Rate").isEmpty()) << "the rate shows only while a run goes";
    EXPECT_FALSE(guitest::Button(&window, "Button_ViewDirtySectors")->isVisible());
  }
  EXPECT_TRUE(watcher.Titles().empty()) << "a clean run asks nothing";
}

// A drive that cannot be opened: the error, and the display is not reset.
TEST_F(VerifyWindowTest, ADriveThatCannotBeOpenedIsReported) {
  fixtures::TempDir dir;
  fixtures::DriveMap map({{'E', "removable", dir.File("missing.img")}});
  ASSERT_TRUE(fixtures::WriteFile(dir.File("missing.img"), std::string(512, '\0')));
  TForm_VerifyDrive window(nullptr);
  window.show();
  ASSERT_TRUE(std::filesystem::remove(dir.File("missing.img")));
  ModalWatcher watcher([](QWidget* modal) { Answer(modal, ResultOk); });
  VerifyDriveE(window, "Button_Verify");
  ASSERT_EQ(watcher.Titles().size(), 1u);
  EXPECT_EQ(watcher.Titles()[0], QStringLiteral("Error"));
  EXPECT_EQ(window.Thread(), nullptr);
  EXPECT_EQ(Text(&window, "Label_DriveTypeText"), QStringLiteral("N/A"));
  EXPECT_TRUE(guitest::Button(&window, "Button_Verify")->isEnabled());
}

// A volume over 1 TiB (2^31 sectors), sparse: its size shows, and a run
// that is stopped ends "Cancelled" with the window holding the dirty set;
// the title-bar button asks the same question and closes only after Yes.
class LargeVolumeTest : public VerifyWindowTest {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fixtures::TempDir();
    std::string error;
    // 1.25 TiB: 2,684,354,560 sectors, negative as a signed 32-bit value.
    made_ = fixtures::MakeImage(dir_->File("large.img"), 1280ull << 30, FileSystem::NTFS, {}, &error);
    if (!made_) std::fprintf(stderr, "%s\n", error.c_str());
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    VerifyWindowTest::SetUp();
    ASSERT_TRUE(made_);
    map_ = std::make_unique<fixtures::DriveMap>(
        std::vector<fixtures::DriveMap::Entry>{{'E', "fixed", dir_->File("large.img")}});
  }
  void TearDown() override {
    map_.reset();
    VerifyWindowTest::TearDown();
  }

  static fixtures::TempDir* dir_;
  static bool made_;
  std::unique_ptr<fixtures::DriveMap> map_;
};
fixtures::TempDir* LargeVolumeTest::dir_ = nullptr;
bool LargeVolumeTest::made_ = false;

TEST_F(LargeVolumeTest, ItsSizeShowsAndStopAnsweredYesLeavesCancelled) {
  TForm_VerifyDrive window(nullptr);
  window.show();
  std::vector<int> answers{ResultNo, ResultYes};
  ModalWatcher watcher([&](QWidget* modal) {
    if (modal->windowTitle() != QLatin1String("Stop Drive Verification")) return Answer(modal, ResultNo);
    // The worker is paused while the question is open.
    EXPECT_TRUE(window.Thread() && window.Thread()->IsSuspended());
    const int answer = answers.front();
    answers.erase(answers.begin());
    Answer(modal, answer);
  });
  VerifyDriveE(window, "Button_Verify");
  ASSERT_TRUE(WaitUntil(
      [&] {
        return Text(&window, "Label_DriveSizeNumber") != QLatin1String("0 bytes") &&
               Text(&window, "Label_ClusterSizeNumber") != QLatin1String("N/A");
      },
      60000));
  EXPECT_EQ(Text(&window, "Label_DriveSizeNumber"), QStringLiteral("1280.00 GB"));
  EXPECT_EQ(Text(&window, "Label_DriveTypeText"), QStringLiteral("NTFS"));
  EXPECT_EQ(Text(&window, "Label_ClusterSizeNumber"), QStringLiteral("4,096 bytes"));

  QPushButton* stop = guitest::Button(&window, "Button_Cancel");
  // No: the run goes on.
  QTest::mouseClick(stop, Qt::LeftButton);
  ASSERT_NE(window.Thread(), nullptr);
  EXPECT_FALSE(window.Thread()->IsSuspended());
  EXPECT_TRUE(window.DirtySectorTimer()->isActive());
  // Yes: it stops.
  QTest::mouseClick(stop, Qt::LeftButton);
  EXPECT_EQ(window.Thread(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return window.DirtySet() != nullptr; }, 10000));
  Pump(20);
  EXPECT_EQ(watcher.Titles().size(), 2u);
  EXPECT_EQ(Text(&window, "Label_Progress"), QStringLiteral("Cancelled"));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(stop->text(), QStringLiteral("Close"));
  EXPECT_TRUE(guitest::Button(&window, "Button_Verify")->isEnabled());
  EXPECT_FALSE(window.DirtySectorTimer()->isActive());
  EXPECT_TRUE(Text(&window, "Label_Rate").isEmpty());
  EXPECT_LT(Meter(&window), 100);
}

TEST_F(LargeVolumeTest, TheTitleBarButtonAsksBeforeClosingDuringARun) {
  TForm_VerifyDrive window(nullptr);
  window.show();
  int answer = ResultNo;
  ModalWatcher watcher([&](QWidget* modal) { Answer(modal, answer); });
  VerifyDriveE(window, "Button_Verify");
  ASSERT_NE(window.Thread(), nullptr);
  auto* close = window.findChild<QAbstractButton*>("KTransButton3");
  ASSERT_NE(close, nullptr);

  QTest::mouseClick(close, Qt::LeftButton);
  ASSERT_EQ(watcher.Titles().size(), 1u);
  EXPECT_EQ(watcher.Titles()[0], QStringLiteral("Stop Drive Verification"));
  EXPECT_TRUE(window.isVisible()) << "No keeps the window and the run";
  EXPECT_NE(window.Thread(), nullptr);

  answer = ResultYes;
  QTest::mouseClick(close, Qt::LeftButton);
  EXPECT_EQ(watcher.Titles().size(), 2u);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), ResultCancel);
  EXPECT_EQ(window.Thread(), nullptr);
}


// The run's last log lines are written after Stop's Yes, while the window
// waits for the worker. When they cannot be written, the worker asks on the
// main thread; the window serves that question while it waits, instead of
// both waiting for each other for ever.
TEST_F(LargeVolumeTest, StopServesALogQuestionTheWorkerAsksOnItsWayOut) {
  fixtures::TempDir logs;
  {
    CSettings settings;
    settings.SetLogEnabled(true);
    settings.SetLogLocation(logs.path());
  }
  TForm_VerifyDrive window(nullptr);
  window.show();
  ModalWatcher watcher([](QWidget* modal) { Answer(modal, ResultYes); });
  VerifyDriveE(window, "Button_Verify");
  // The record's opening lines are written before the type is posted.
  ASSERT_TRUE(WaitUntil([&] { return Text(&window, "Label_DriveTypeText") == QLatin1String("NTFS"); }, 60000));
  const std::string log = logs.File("Log.txt");
  const auto written = std::filesystem::file_size(log);
  ASSERT_GT(written, 0u);

  // From now on no file of this process may grow past what the log holds:
  // the record's tail cannot be written.
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
  rlimit capped = previous;
  capped.rlim_cur = written;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
  QTest::mouseClick(guitest::Button(&window, "Button_Cancel"), Qt::LeftButton);
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, previousSignal);

  EXPECT_EQ(window.Thread(), nullptr);
  ASSERT_GE(watcher.Titles().size(), 2u);
  EXPECT_EQ(watcher.Titles()[0], QStringLiteral("Stop Drive Verification"));
  EXPECT_EQ(watcher.Titles()[1], QStringLiteral("Log File Error"));
  ASSERT_TRUE(WaitUntil([&] { return window.DirtySet() != nullptr; }, 10000));
  EXPECT_EQ(Text(&window, "Label_Progress"), QStringLiteral("Cancelled"));
  EXPECT_EQ(std::filesystem::file_size(log), written);
}

}  // namespace
