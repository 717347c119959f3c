// The wipe wizard, its confirmations and the wipe window, driven as a
// person drives them: by component name, through whole runs on real images
// (and, for the rate and the failures, on in-memory disks with faults).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/TMainForm.h"
#include "drive/CDriveController.h"
#include "platform/MemoryBackend.h"
#include "platform/OsVersion.h"
#include "platform/linux/VolumeProbe.h"
#include "platform/qt/QtMessageTarget.h"
#include "platform/qt/Sound.h"
#include "tests/fixtures/Fixtures.h"
#include "tests/widgets/GuiTest.h"
#include "tests/wipe/DirtyImage.h"
#include "ui_TForm_WipeMedia.h"
#include "ui_TForm_Wiper.h"
#include "widgets/DriveList.h"
#include "widgets/SkinWidgets.h"
#include "wipe/TForm_Confirmation.h"
#include "wipe/TForm_WipeMedia.h"
#include "wipe/TForm_Wiper.h"
#include "wipe/WipeTexts.h"

namespace {

using guitest::Button;
using guitest::ModalWatcher;
using guitest::Pump;
using namespace std::chrono_literals;

template <typename T = QWidget>
T* Child(QWidget* window, const char* name) {
  T* w = window->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

QString Text(QWidget* window, const char* name) {
  if (auto* label = window->findChild<QLabel*>(QString::fromLatin1(name))) return label->text();
  if (auto* button = window->findChild<QAbstractButton*>(QString::fromLatin1(name))) return button->text();
  ADD_FAILURE() << name;
  return {};
}

void Click(QWidget* window, const char* name) { QTest::mouseClick(Child<QAbstractButton>(window, name), Qt::LeftButton); }

// Picks the drive in the wizard's drop-down with the keyboard, as a user
// without a mouse does.
void PickDrive(QWidget* wizard, char letter) {
  auto* list = Child<TDriveComboBox>(wizard, "DriveComboBox1");
  const int index = list->findText(QString(QChar::fromLatin1(letter)), Qt::MatchStartsWith);
  ASSERT_GE(index, 0) << letter;
  list->setFocus();
  for (int guard = 0; list->currentIndex() != index && guard < 30; ++guard) {
    QTest::keyClick(list, list->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
  }
  ASSERT_EQ(list->Drive(), std::tolower(letter));
}

// The button of a message box that gives `result`.
void Answer(QWidget* box, int result) {
  const char* name = result == ResultYes ? "Button_Yes" : result == ResultNo ? "Button_No" : "Button_Ok";
  QTimer::singleShot(0, box, [box, name] { QTest::mouseClick(Button(box, name), Qt::LeftButton); });
}

// Sounds the windows played, in order.
struct SoundLog {
  SoundLog() { platform::SetSoundListener([this](const std::string& alias) { played.push_back(alias); }); }
  ~SoundLog() { platform::SetSoundListener(nullptr); }
  bool Heard(const std::string& alias) const { return std::find(played.begin(), played.end(), alias) != played.end(); }
  std::vector<std::string> played;
};

// Waits, with the event loop running, until `done` or the time is up.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Pump(5);
  }
  return true;
}

class WipeWindowsTest : public guitest::GuiTest {
 protected:
  void SetUp() override {
    guitest::GuiTest::SetUp();
    SetDriveListSource(SystemDriveListSource());
    FormatWhenFinished = true;
  }
  void TearDown() override {
    FormatWhenFinished = true;
    platform::InjectVersionInfo(std::nullopt);
    guitest::GuiTest::TearDown();
  }
  fixtures::TempDir dir;
};

// ---- the whole road ------------------------------------------------------

struct Road {
  wipetest::Kind kind;
  const char* driveType;
  int overwriteIndex;
  const char* overwriteText;
};

void PrintTo(const Road& road, std::ostream* os) { *os << road.driveType << ", " << road.overwriteText; }

class WipeRoadTest : public WipeWindowsTest, public ::testing::WithParamInterface<Road> {};

TEST_P(WipeRoadTest, FromTheMainWindowToACleanLabelledDrive) {
  const Road road = GetParam();
  wipetest::DirtyImage image(dir, road.kind, 3u << 20);
  fixtures::DriveMap map({{'E', road.driveType, image.path}});
  ASSERT_GE(wipetest::FirstSurvivingRun(fixtures::ReadFile(image.path), image.sources), 0);
  CSettings().SetAutoUpdate(false);
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::WipeMedia,
                                   [](QWidget* owner) { return std::make_unique<TForm_WipeMedia>(owner); });
  SoundLog sounds;

  std::vector<QString> seen, confirmations, identities, step2Checked;
  QString finishedInfo, finishedOperation;
  bool mainHidden = false;
  bool wizardDriven = false, wiperWatched = false;
  TMainForm main;
  ModalWatcher watcher([&](QWidget* w) {
    seen.push_back(w->objectName() + ":" + w->windowTitle());
    if (w->objectName() == "TForm_WipeMedia" && !wizardDriven) {
      wizardDriven = true;
      QTimer::singleShot(0, w, [&, w] {
        mainHidden = !main.isVisible();
        PickDrive(w, 'E');
        Click(w, "Button_Next");
        step2Checked.push_back(Child<QRadioButton>(w, "RadioButton_NTFS")->isChecked() ? "NTFS" : "FAT");
        Click(w, road.kind == wipetest::Kind::Fat ? "RadioButton_FAT" : "RadioButton_NTFS");
        Click(w, "Button_Next");
        auto* label = Child<QLineEdit>(w, "Edit_VolumeLabel");
        label->selectAll();
        QTest::keyClicks(label, "CLEANED");
        auto* level = Child<QComboBox>(w, "ComboBox_Overwrites");
        level->setCurrentIndex(road.overwriteIndex);
        EXPECT_EQ(level->currentText(), road.overwriteText);
        EXPECT_EQ(Text(w, "Button_Next"), "Wipe Media Selection");
        Click(w, "Button_Next");
      });
    } else if (w->objectName() == "TForm_Confirmation") {
      confirmations.push_back(Text(w, "Label_Confirmation") + " / " + Text(w, "Label_BoldDrive"));
      // Parts are kept whole on a line by no-break spaces.
      identities.push_back(Text(w, "Label_DriveIdentity").replace(QChar(0x00A0), QLatin1Char(' ')));
      Answer(w, ResultYes);
    } else if (w->objectName() == "TForm_Wiper" && !wiperWatched) {
      wiperWatched = true;
      auto* poll = new QTimer(w);
      QObject::connect(poll, &QTimer::timeout, w, [&, w, poll] {
        if (!Child<QPushButton>(w, "Button_Ok")->isEnabled()) return;
        poll->stop();
        finishedInfo = Text(w, "Label_Info");
        finishedOperation = Text(w, "LabelOperation");
        EXPECT_EQ(Text(w, "Button_Ok"), "Finish");
        EXPECT_FALSE(Child<QPushButton>(w, "Button_Cancel")->isEnabled());
        Click(w, "Button_Ok");
      });
      poll->start(10);
    } else if (w->objectName() == "TXAMessageBox") {
      ADD_FAILURE() << "unexpected box: " << w->windowTitle().toStdString();
      Answer(w, ResultOk);
    }
  });

  main.show();
  Pump(30);
  QTest::keyClick(&main, Qt::Key_Return);  // "Wipe Media" is the default button
  EXPECT_TRUE(mainHidden);
  EXPECT_TRUE(main.isVisible()) << "the main window comes back";
  ASSERT_EQ(confirmations.size(), 2u);
  EXPECT_EQ(confirmations[0], "Confirmation 1 of 2 / Drive E:");
  EXPECT_EQ(confirmations[1], "Confirmation 2 of 2 / Drive E:");
  EXPECT_EQ(identities[0].toStdString(), image.path + " \xC2\xB7 3,145,728 bytes (3.1 MB)");
  // A fixed NTFS drive comes preselected with NTFS, a removable one with FAT.
  EXPECT_EQ(step2Checked, std::vector<QString>{road.kind == wipetest::Kind::Fat ? "FAT" : "NTFS"});
  EXPECT_EQ(finishedOperation, "Finished");
  EXPECT_EQ(finishedInfo, "Your drive is now clean.");
  EXPECT_EQ(sounds.played, (std::vector<std::string>{"SystemQuestion", "SystemQuestion", "SystemExclamation"}));

  const std::string after = fixtures::ReadFile(image.path);
  ASSERT_EQ(after.size(), 3u << 20);
  EXPECT_EQ(wipetest::FirstSurvivingRun(after, image.sources), -1);
  platform::VolumeInformation info;
  ASSERT_TRUE(platform::ProbeVolumePath(image.path, info));
  EXPECT_EQ(info.label, "CLEANED");
  if (road.kind == wipetest::Kind::Fat) {
    const auto check = fixtures::RunTool({"fsck.fat", "-n", image.path});
    EXPECT_TRUE(check.ok()) << check.output;
  } else {
    EXPECT_EQ(info.fileSystem, "NTFS");
    const auto check = fixtures::RunTool({"ntfsinfo", "-m", image.path});
    EXPECT_TRUE(check.ok()) << check.output;
  }
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::WipeMedia, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Drives, WipeRoadTest,
                         ::testing::Values(Road{wipetest::Kind::Fat, "removable", 1, "3 Overwrites & Verify (DoD 5220-22M)"},
                                           Road{wipetest::Kind::Ntfs, "fixed", 0, "1 Overwrite (Recommended)"}),
                         [](const auto& info) { return info.param.kind == wipetest::Kind::Fat ? "FatRemovable3" : "NtfsFixed1"; });

// ---- the wizard ----------------------------------------------------------

// Drives of every kind the set-up tells apart, on real images.
class WizardTest : public WipeWindowsTest {
 protected:
  void SetUp() override {
    WipeWindowsTest::SetUp();
    ASSERT_TRUE(fixtures::MakeImage(dir.File("ntfs.img"), 4u << 20, fixtures::FileSystem::NTFS));
    ASSERT_TRUE(fixtures::MakeFloppy(dir.File("fat.img")));
    map = std::make_unique<fixtures::DriveMap>(std::vector<fixtures::DriveMap::Entry>{
        {'E', "removable", dir.File("fat.img")},
        {'F', "fixed", dir.File("ntfs.img")},
        {'G', "fixed", dir.File("fat.img")},
        {'H', "removable", dir.File("ntfs.img")},
        {'M', "removable", dir.File("missing.img")},
    });
  }
  // A wizard shown modeless for the test to drive.
  std::unique_ptr<TForm_WipeMedia> Open() {
    auto w = std::make_unique<TForm_WipeMedia>(nullptr);
    w->show();
    Pump(5);
    return w;
  }
  void ToStep3(TForm_WipeMedia& w, char letter) {
    PickDrive(&w, letter);
    Click(&w, "Button_Next");
    Click(&w, "Button_Next");
    ASSERT_EQ(w.Step(), 3);
  }
  std::unique_ptr<fixtures::DriveMap> map;
};

TEST_F(WizardTest, SystemDriveIsRefusedAtStepOne) {
  auto w = Open();
  ModalWatcher watcher([](QWidget* box) { Answer(box, ResultOk); });
  for (char letter : {'c', 'C'}) {
    PickDrive(w.get(), letter);
    Click(w.get(), "Button_Next");
    EXPECT_TRUE(WaitUntil([&] { return watcher.Titles().size() >= 1; }, 5s));
    EXPECT_EQ(w->Step(), 1);
    EXPECT_FALSE(Child<QPushButton>(w.get(), "Button_Back")->isEnabled());
  }
  ASSERT_FALSE(watcher.Titles().empty());
  EXPECT_EQ(watcher.Titles()[0], "Cannot Wipe System Drive");
}

TEST_F(WizardTest, FileSystemPreselectionByDriveTypeAndVolume) {
  const struct {
    char letter;
    const char* checked;
  } cases[] = {{'E', "RadioButton_FAT"}, {'F', "RadioButton_NTFS"}, {'G', "RadioButton_FAT"},
               {'H', "RadioButton_FAT"}, {'M', "RadioButton_FAT"}};
  for (const auto& c : cases) {
    auto w = Open();
    PickDrive(w.get(), c.letter);
    Click(w.get(), "Button_Next");
    ASSERT_EQ(w->Step(), 2) << c.letter;
    EXPECT_TRUE(Child<QRadioButton>(w.get(), c.checked)->isChecked()) << c.letter;
    // Formatting is on: both are offered whatever the drive.
    EXPECT_TRUE(Child<QRadioButton>(w.get(), "RadioButton_NTFS")->isEnabled()) << c.letter;
    EXPECT_TRUE(Child<QCheckBox>(w.get(), "CheckBox_Format")->isVisible());
    EXPECT_EQ(w->windowTitle(), "Wipe Media - Step 2 of 3");
  }
}

TEST_F(WizardTest, FormatCheckBoxRuleHoldsForTheRunAndTheOlderFamilyNeverShowsIt) {
  {
    auto w = Open();
    PickDrive(w.get(), 'F');
    Click(w.get(), "Button_Next");
    Click(w.get(), "CheckBox_Format");
    EXPECT_FALSE(FormatWhenFinished.load());
    EXPECT_FALSE(Child<QRadioButton>(w.get(), "RadioButton_FAT")->isEnabled());
    EXPECT_FALSE(Child<QRadioButton>(w.get(), "RadioButton_NTFS")->isEnabled());
    EXPECT_TRUE(Child<QRadioButton>(w.get(), "RadioButton_NTFS")->isChecked());
    Click(w.get(), "Button_Next");
    EXPECT_FALSE(Child<QLineEdit>(w.get(), "Edit_VolumeLabel")->isEnabled());
    EXPECT_FALSE(Child<QLabel>(w.get(), "Label_DriveLabel")->isEnabled());
    // A disabled field still hands its text; the choice goes with the options.
    EXPECT_EQ(w->Options().volumeLabel, "CLEANED");
    EXPECT_FALSE(w->Options().formatWhenFinished);
    EXPECT_EQ(w->Options().fileSystem, WIPE_FS_NTFS);
  }
  {
    // Opened again in the same run: still unchecked.
    auto w = Open();
    EXPECT_FALSE(Child<QCheckBox>(w.get(), "CheckBox_Format")->isChecked());
    PickDrive(w.get(), 'E');
    Click(w.get(), "Button_Next");
    EXPECT_FALSE(Child<QCheckBox>(w.get(), "CheckBox_Format")->isChecked());
    EXPECT_FALSE(Child<QRadioButton>(w.get(), "RadioButton_FAT")->isEnabled());
    Click(w.get(), "CheckBox_Format");
    EXPECT_TRUE(FormatWhenFinished.load());
    EXPECT_TRUE(Child<QRadioButton>(w.get(), "RadioButton_FAT")->isEnabled());
  }
  {
    // 95/98/ME: no check box, FAT only, the label always offered, even with
    // the flag off.
    platform::OsVersionInfo win98;
    win98.platformId = platform::kPlatformWindows;
    win98.majorVersion = 4;
    win98.minorVersion = 10;
    platform::InjectVersionInfo(win98);
    FormatWhenFinished = false;
    auto w = Open();
    PickDrive(w.get(), 'F');  // fixed and NTFS
    Click(w.get(), "Button_Next");
    EXPECT_FALSE(Child<QCheckBox>(w.get(), "CheckBox_Format")->isVisible());
    EXPECT_TRUE(Child<QRadioButton>(w.get(), "RadioButton_FAT")->isChecked());
    EXPECT_FALSE(Child<QRadioButton>(w.get(), "RadioButton_NTFS")->isEnabled());
    Click(w.get(), "Button_Next");
    EXPECT_TRUE(Child<QLineEdit>(w.get(), "Edit_VolumeLabel")->isEnabled());
    EXPECT_EQ(w->Options().fileSystem, WIPE_FS_FAT);
  }
}

TEST_F(WizardTest, BackAndNextKeepTheButtonsInPlace) {
  auto w = Open();
  auto* next = Child<QPushButton>(w.get(), "Button_Next");
  auto* back = Child<QPushButton>(w.get(), "Button_Back");
  ToStep3(*w, 'E');
  EXPECT_EQ(next->geometry(), QRect(113, 335, 130, 23));
  EXPECT_EQ(back->x(), 30);
  EXPECT_EQ(Text(w.get(), "Label_Step3Heading"), "Drive Label for Drive E:");
  EXPECT_EQ(Text(w.get(), "Label_DriveLabel"), "Label Drive E: as (11 characters maximum):");
  for (int round = 0; round < 2; ++round) {
    Click(w.get(), "Button_Back");
    EXPECT_EQ(w->Step(), 2);
    Click(w.get(), "Button_Next");
    EXPECT_EQ(w->Step(), 3);
  }
  Click(w.get(), "Button_Back");
  EXPECT_EQ(next->geometry(), QRect(168, 335, 75, 23));
  EXPECT_EQ(next->text(), "Next");
  EXPECT_EQ(back->x(), 85);
  Click(w.get(), "Button_Back");
  EXPECT_EQ(w->Step(), 1);
  EXPECT_FALSE(back->isEnabled());
  EXPECT_EQ(w->windowTitle(), "Wipe Media - Step 1 of 3");
}

TEST_F(WizardTest, NoInEitherConfirmationReturnsToStepThreeWithEverythingKept) {
  const std::string before = fixtures::ReadFile(dir.File("ntfs.img"));
  for (int refusedAt : {1, 2}) {
    auto w = Open();
    ToStep3(*w, 'F');
    auto* label = Child<QLineEdit>(w.get(), "Edit_VolumeLabel");
    label->setText("KEEPME");
    Child<QComboBox>(w.get(), "ComboBox_Overwrites")->setCurrentIndex(2);
    int confirmations = 0;
    ModalWatcher watcher([&](QWidget* box) {
      if (box->objectName() != "TForm_Confirmation") return Answer(box, ResultOk);
      ++confirmations;
      Answer(box, confirmations == refusedAt ? ResultNo : ResultYes);
    });
    Click(w.get(), "Button_Next");
    EXPECT_EQ(confirmations, refusedAt);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->Step(), 3);
    EXPECT_EQ(label->text(), "KEEPME");
    EXPECT_EQ(w->Options().overwriteCount, 7);
    EXPECT_EQ(w->Options().fileSystem, WIPE_FS_NTFS);
    EXPECT_EQ(w->Options().driveLetter, 'f');
    EXPECT_EQ(Text(w.get(), "Button_Next"), "Wipe Media Selection");
  }
  EXPECT_EQ(fixtures::ReadFile(dir.File("ntfs.img")), before);
}

TEST_F(WizardTest, StartErrorsKeepTheWizardOnlyForAnUnreadyDrive) {
  // M: names a missing image (the drive is not ready); N: a folder, which
  // no wipe can open for another reason.
  map->WriteRaw("M: removable " + dir.File("missing.img") + "\nN: removable " + dir.path() + "\n");
  const struct {
    char letter;
    const char* title;
    bool staysOpen;
  } cases[] = {{'M', "Drive Not Ready", true}, {'N', "Unknown Error", false}};
  for (const auto& c : cases) {
    SoundLog sounds;
    TForm_WipeMedia w(nullptr);
    bool driven = false, stayedOpen = false;
    std::vector<QString> boxes;
    ModalWatcher watcher([&](QWidget* box) {
      if (box != &w) {
        boxes.push_back(box->windowTitle());
        return Answer(box, box->objectName() == "TForm_Confirmation" ? ResultYes : ResultOk);
      }
      if (driven) return;
      driven = true;
      QTimer::singleShot(0, &w, [&] {
        ToStep3(w, c.letter);
        Click(&w, "Button_Next");
        stayedOpen = w.isVisible() && w.Step() == 3;
        if (w.isVisible()) w.reject();
      });
    });
    (void)w.exec();
    ASSERT_EQ(boxes.size(), 3u) << c.letter;
    EXPECT_EQ(boxes[2], c.title) << c.letter;
    EXPECT_EQ(stayedOpen, c.staysOpen) << c.letter;
    EXPECT_TRUE(sounds.Heard("SystemHand"));
  }
}

// ---- the wipe window -----------------------------------------------------

// A wipe window on an in-memory disk.
class WiperTest : public WipeWindowsTest {
 protected:
  std::unique_ptr<TForm_Wiper> Make(uint64_t sectors, double bytesPerSecond = 0) {
    disk = std::make_shared<platform::MemoryDisk>(sectors);
    disk->bytesPerSecond = bytesPerSecond;
    auto w = std::make_unique<TForm_Wiper>(nullptr);
    DriveWipeThread::Environment env;
    env.backends = [d = disk](char) { return platform::MakeMemoryBackend(d); };
    env.notifyShell = [](char) {};
    w->SetDriveEnvironment(env);
    return w;
  }
  static WipeOptions Options(int passes) {
    WipeOptions o;
    o.driveLetter = 'e';
    o.volumeLabel = "CLEANED";
    o.overwriteCount = passes;
    return o;
  }
  std::shared_ptr<platform::MemoryDisk> disk;
};

TEST_F(WiperTest, RefusedStartsCreateNoThread) {
  for (char letter : {'c', 'C'}) {
    auto w = Make(2048);
    WipeOptions o = Options(1);
    o.driveLetter = letter;
    EXPECT_FALSE(w->StartWipe(o));
    EXPECT_EQ(w->GetStartError(), WIPE_ERR_SYSTEM_DRIVE);
    EXPECT_FALSE(w->HasThread());
    EXPECT_EQ(disk->opens, 0u) << "the drive is not even opened";
  }
  auto w = Make(2048);
  disk->noMedium = true;
  EXPECT_FALSE(w->StartWipe(Options(1)));
  EXPECT_EQ(w->GetStartError(), 1112);
  EXPECT_FALSE(w->HasThread());
}

// A user's drive comes from the storage service, whose open may wait a
// minute on the authorisation dialog: the windows' timers keep running while
// it does, and the wipe is ready once the open is done.
TEST_F(WiperTest, AnOpenThatWaitsOnTheAuthorisationKeepsTheWindowsRunning) {
  auto w = Make(2048);
  disk->openTakes = std::chrono::milliseconds(800);
  int ticks = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
  tick.start(20);
  ASSERT_TRUE(w->StartWipe(Options(1)));
  EXPECT_GT(ticks, 10);
  EXPECT_TRUE(w->HasThread());
  EXPECT_EQ(disk->opens, 1u);
}

TEST_F(WiperTest, ProgressTableAndTheBar) {
  auto w = Make(2048);
  ASSERT_TRUE(w->StartWipe(Options(3)));
  const struct {
    uint8_t phase;
    int32_t pass;
    float percent;
    const char* operation;
    const char* info;
    int bar;
  } cases[] = {
      {WP_OVERWRITE, 2, 40.5f, "Wipe Progress on Drive E:", "Overwrite 2 of 3", 40},
      {WP_VERIFY, 0, 99.9f, "Verification Progress on Drive E:", "Please wait...", 99},
      {7, 5, 12.0f, "Verification Progress on Drive E:", "Please wait...", 12},  // only the bar
      {WP_FORMAT, 0, 50.0f, "Format Progress on Drive E:", "Please wait...", 50},
      {WP_ERASE_FILES, 1, 3.0f, "Erasing files on Drive E:", "Overwrite 1 of 3", 3},
      {WP_CLEANUP, 0, 100.0f, "Cleaning up", "Please wait...", 100},
  };
  for (const auto& c : cases) {
    WipeProgress p{c.phase, c.pass, c.percent};
    // Sent as the worker sends it.
    platform::SendWindowMessage(w.get(), WM_WIPE_PROGRESS, reinterpret_cast<uintptr_t>(&p), 0);
    EXPECT_EQ(Text(w.get(), "LabelOperation"), c.operation);
    EXPECT_EQ(Text(w.get(), "Label_Info"), c.info);
    EXPECT_EQ(Child<QProgressBar>(w.get(), "ProgressWipe")->value(), c.bar);
  }
  EXPECT_FALSE(Child<QLabel>(w.get(), "Label_Rate")->isVisibleTo(w.get()));
}

// Runs `w` modally; `act` is called every 10 ms with the window until it
// returns true, and `onBox` answers the boxes that come up.
int RunModal(TForm_Wiper& w, const std::function<bool(TForm_Wiper&)>& act,
             const std::function<void(QWidget*)>& onBox) {
  ModalWatcher watcher([&](QWidget* box) {
    if (box != &w) onBox(box);
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (act(w)) poll.stop();
  });
  poll.start(10);
  return w.exec();
}

TEST_F(WiperTest, CancelAnsweredNoGoesOnAndYesInPassOneClosesTheWindow) {
  FormatWhenFinished = false;
  SoundLog sounds;
  auto w = Make(8192, 2e6);  // 4 MiB at 2 MB/s: two seconds a pass
  ASSERT_TRUE(w->StartWipe(Options(3)));
  int boxes = 0;
  int valueAtNo = -1;
  bool askedNo = false, askedYes = false;
  const int result = RunModal(
      *w,
      [&](TForm_Wiper& win) {
        auto* bar = Child<QProgressBar>(&win, "ProgressWipe");
        if (!askedNo && bar->value() >= 5 && Text(&win, "Label_Info") == "Overwrite 1 of 3") {
          askedNo = true;
          EXPECT_EQ(win.Stage(), 1);
          QTimer::singleShot(0, &win, [&win] { Click(&win, "Button_Cancel"); });
        } else if (askedNo && !askedYes && bar->value() >= valueAtNo + 10 && valueAtNo >= 0) {
          // Answered No: the run went on.
          askedYes = true;
          EXPECT_EQ(Text(&win, "Label_Info"), "Overwrite 1 of 3");
          QTimer::singleShot(0, &win, [&win] { Click(&win, "Button_Cancel"); });
          return true;
        }
        return false;
      },
      [&](QWidget* box) {
        ++boxes;
        EXPECT_EQ(box->windowTitle(), "Warning");
        EXPECT_TRUE(w->HasThread());
        if (boxes == 1) {
          valueAtNo = Child<QProgressBar>(w.get(), "ProgressWipe")->value();
          EXPECT_TRUE(Child<TAnimate>(w.get(), "Animation")->IsPlaying() == false);
          Answer(box, ResultNo);
        } else {
          Answer(box, ResultYes);
        }
      });
  EXPECT_EQ(boxes, 2);
  EXPECT_EQ(result, ResultOk) << "closed by itself";
  EXPECT_FALSE(w->HasThread());
  EXPECT_EQ(std::count(sounds.played.begin(), sounds.played.end(), "Default"), 2);
  // Stopped in pass 1: the second pattern never reached the disk.
  std::lock_guard lock(disk->mutex);
  EXPECT_EQ(std::count(disk->bytes.begin(), disk->bytes.end(), static_cast<uint8_t>(0xFF)), 0);
}

TEST_F(WiperTest, EndingWithAnErrorCodeAndCancelAfterTheEnd) {
  FormatWhenFinished = false;
  SoundLog sounds;
  auto w = Make(2048);
  // A sector that cannot be written: the pass counts it and goes on, and
  // the run ends with the write fault's code (29).
  disk->unwritable.insert(1000);
  ASSERT_TRUE(w->StartWipe(Options(1)));
  std::vector<QString> titles;
  QString operation, message;
  bool messageVisible = false, infoVisible = true, cancelEnabled = true;
  const int result = RunModal(
      *w,
      [&](TForm_Wiper& win) {
        if (!Child<QPushButton>(&win, "Button_Ok")->isEnabled()) return false;
        operation = Text(&win, "LabelOperation");
        message = Text(&win, "Label_Message");
        messageVisible = Child<QLabel>(&win, "Label_Message")->isVisibleTo(&win);
        infoVisible = Child<QLabel>(&win, "Label_Info")->isVisibleTo(&win);
        cancelEnabled = Child<QPushButton>(&win, "Button_Cancel")->isEnabled();
        EXPECT_EQ(Child<QLabel>(&win, "Label_Message")->y(), 44);
        EXPECT_EQ(Text(&win, "Button_Ok"), "Finish");
        // With no final format no second stage message came; Cancel does
        // nothing now.
        win.Button_CancelClick();
        QTimer::singleShot(0, &win, [&win] { Click(&win, "Button_Ok"); });
        return true;
      },
      [&](QWidget* box) {
        titles.push_back(box->windowTitle());
        Answer(box, ResultYes);
      });
  EXPECT_EQ(result, ResultOk);
  for (const QString& t : titles) EXPECT_NE(t, "Warning") << "no cancel question after the end";
  EXPECT_EQ(operation, "Finished");
  EXPECT_EQ(message, "There was an error and your drive may not be clean.");
  EXPECT_TRUE(messageVisible);
  EXPECT_FALSE(infoVisible);
  EXPECT_FALSE(cancelEnabled);
  EXPECT_TRUE(sounds.Heard("SystemExclamation"));
  EXPECT_FALSE(sounds.Heard("Default"));
}

TEST_F(WiperTest, FailuresShowTheirBoxAndCloseTheWindow) {
  struct Case {
    const char* name;
    std::function<void(platform::MemoryDisk&)> fault;
    int passes;
    const char* title;
    bool hand;
  };
  const Case cases[] = {
      {"write protected", [](platform::MemoryDisk& d) { d.writeProtected = true; }, 1, "Write Protected", true},
      // The read-back finds a byte that does not match its pair; the user
      // declines to go on.
      {"dirty read-back", [](platform::MemoryDisk&) {}, 3, "Verification Failed", false},
      {"medium pulled", [](platform::MemoryDisk& d) { d.vanishAfterTransfers = 6; }, 1, "Unknown Error", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormatWhenFinished = false;
    SoundLog sounds;
    auto w = Make(4096, c.passes == 3 ? 4e6 : 0);
    c.fault(*disk);
    ASSERT_TRUE(w->StartWipe(Options(c.passes)));
    bool flipped = false;
    std::vector<QString> titles;
    const int result = RunModal(
        *w,
        [&](TForm_Wiper& win) {
          if (c.passes == 3 && !flipped && Text(&win, "LabelOperation").startsWith("Verification")) {
            flipped = true;
            std::lock_guard lock(disk->mutex);
            disk->bytes[disk->bytes.size() - 100] ^= 0x01;
          }
          return false;
        },
        [&](QWidget* box) {
          titles.push_back(box->windowTitle());
          // The thread's own questions ("go on?") are declined.
          Answer(box, Button(box, "Button_No") && Button(box, "Button_No")->isVisible() ? ResultNo : ResultOk);
        });
    EXPECT_EQ(result, ResultOk);
    EXPECT_FALSE(w->HasThread());
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles.back(), c.title);
    EXPECT_EQ(sounds.Heard("SystemHand"), c.hand);
  }
}

TEST_F(WiperTest, RateLabelFollowsAThrottledMedium) {
  FormatWhenFinished = false;
  constexpr uint64_t kSectors = 24576;  // 12 MiB at 4 MB/s: about three seconds
  auto w = Make(kSectors, 4e6);
  disk->keepLog = true;  // the medium's own account of when each write ended
  ASSERT_TRUE(w->StartWipe(Options(1)));
  struct Reading {
    std::chrono::steady_clock::time_point at;
    QString text;
  };
  std::vector<Reading> readings;
  bool hiddenAtEnd = false;
  RunModal(
      *w,
      [&](TForm_Wiper& win) {
        auto* label = Child<QLabel>(&win, "Label_Rate");
        if (label->isVisibleTo(&win) && (readings.empty() || readings.back().text != label->text())) {
          readings.push_back({std::chrono::steady_clock::now(), label->text()});
        }
        if (!Child<QPushButton>(&win, "Button_Ok")->isEnabled()) return false;
        hiddenAtEnd = !label->isVisibleTo(&win);
        QTimer::singleShot(0, &win, [&win] { Click(&win, "Button_Ok"); });
        return true;
      },
      [](QWidget* box) { Answer(box, ResultOk); });

  // The true rate at a moment: bytes the medium took after its first write
  // ended, over the time since (the throttle is only nominal on a busy
  // machine; the medium's log is what happened).
  std::vector<platform::MemoryDisk::Transfer> writes;
  {
    std::lock_guard lock(disk->mutex);
    for (const auto& t : disk->log) {
      if (t.op == platform::MemoryDisk::Op::Write && t.error == 0) writes.push_back(t);
    }
  }
  ASSERT_FALSE(writes.empty());
  auto trueRate = [&](std::chrono::steady_clock::time_point at) {
    uint64_t bytes = 0;
    for (size_t i = 1; i < writes.size() && writes[i].when <= at; ++i) bytes += uint64_t(writes[i].count) * 512;
    return bytes / std::chrono::duration<double>(at - writes[0].when).count();
  };
  auto bytesLeft = [&](std::chrono::steady_clock::time_point at) {
    uint64_t done = 0;
    for (const auto& t : writes) {
      if (t.when <= at) done += uint64_t(t.count) * 512;
    }
    return double(kSectors * 512 - done);
  };

  ASSERT_GE(readings.size(), 3u);
  int firstLeft = -1, lastLeft = -1;
  for (size_t i = 0; i < readings.size(); ++i) {
    const std::string text = readings[i].text.toStdString();
    double mb = 0;
    int left = 0;
    char unit[8] = {};
    ASSERT_EQ(std::sscanf(text.c_str(), "%lf MB/s, about %d %7s left", &mb, &left, unit), 3) << text;
    const double truth = trueRate(readings[i].at);
    EXPECT_NEAR(mb * 1e6, truth, truth * 0.10) << text;
    EXPECT_STREQ(unit, "s");
    // What is left over the rate shown, counted from the medium's log. The
    // text may be up to half a second older than the reading, and a busy
    // machine may slow the medium down: the time left may then rise for a
    // while, as it should.
    const double expected = bytesLeft(readings[i].at) / (mb * 1e6);
    EXPECT_NEAR(left, expected, 1.5) << text;
    if (firstLeft < 0) firstLeft = left;
    lastLeft = left;
    if (i > 0) {
      EXPECT_GE(readings[i].at - readings[i - 1].at, 400ms) << "at most twice a second";
    }
  }
  EXPECT_LT(lastLeft, firstLeft) << "the time left falls as the pass goes on";
  EXPECT_TRUE(hiddenAtEnd);
}

}  // namespace
