// The sector viewer as a person uses it: opened on real images through a
// private drive map, driven by its component names.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QTextEdit>
#include <QWheelEvent>
#include <fstream>

#include "platform/MemoryBackend.h"
#include "settings/TForm_DNSMessage.h"
#include "tests/fixtures/Fixtures.h"
#include "tests/widgets/GuiTest.h"
#include "ui_TForm_ViewSectors.h"
#include "verify/CBitmap.h"
#include "viewer/TForm_ViewSectors.h"
#include "widgets/DriveList.h"

// Failures print the texts themselves.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

using guitest::ModalWatcher;
using guitest::Pump;

class ViewSectorsTest : public guitest::GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    floppy_ = dir_.File("floppy.img");
    std::string error;
    ASSERT_TRUE(fixtures::MakeFloppy(floppy_, "VIEWME", &error)) << error;
  }
  void TearDown() override {
    map_.reset();
    GuiTest::TearDown();
  }

  // Maps the drives and keeps the viewer's explanation quiet (its own test
  // shows it).
  void Map(const std::vector<fixtures::DriveMap::Entry>& entries, bool quietIntro = true) {
    map_ = std::make_unique<fixtures::DriveMap>(entries);
    SetDriveListSource(MappedDriveListSource());
    if (quietIntro) guitest::WriteDword("DNS", 1);
  }

  // A viewer shown as its owner shows it; browse mode presses "View
  // Sectors" as the user does, dirty-sector mode opens the drive by itself.
  std::unique_ptr<TForm_ViewSectors> Show(const CDirtyBitmap* dirty, char letter,
                                          CDriveController::BackendFactory backends = {}) {
    auto view = std::make_unique<TForm_ViewSectors>(nullptr, dirty, letter, std::move(backends));
    view->SetOpenPause(std::chrono::milliseconds(0));
    view->show();
    Pump(30);
    if (!dirty) QTest::mouseClick(view->ui()->Button_ViewSectors, Qt::LeftButton);
    Pump(10);
    return view;
  }

  static QString Shown(const TForm_ViewSectors& view) { return view.ui()->Label_CurrentSector->text(); }
  static QStringList DumpLines(const TForm_ViewSectors& view) {
    return view.ui()->Memo_SectorContents->toPlainText().split(QLatin1Char('\n'));
  }
  // Types into Go To and presses Enter (the default button by then).
  static void GoTo(TForm_ViewSectors& view, const QString& text) {
    QTest::keyClicks(view.ui()->Edit_CurSector, text);
    QTest::keyClick(view.ui()->Edit_CurSector, Qt::Key_Return);
    Pump(5);
  }

  fixtures::TempDir dir_;
  std::string floppy_;
  std::unique_ptr<fixtures::DriveMap> map_;
};

// Escape on every message box, remembering the titles.
ModalWatcher Dismisser() {
  return ModalWatcher([](QWidget* box) {
    QTimer::singleShot(0, box, [box] { QTest::keyClick(box, Qt::Key_Escape); });
  });
}

TEST_F(ViewSectorsTest, BrowsesTheFloppyByButtonsTrackBarAndWheelWithoutWritingIt) {
  Map({{'A', "removable", floppy_}});
  const std::string before = fixtures::ReadFile(floppy_);
  {
    auto view = Show(nullptr, 'a');
    auto* ui = view->ui();
    EXPECT_EQ(view->windowTitle(), "View Sectors on Drive A:");
    EXPECT_EQ(ui->Label_MaxSector->text(), "2,879");
    EXPECT_EQ(ui->Label_MinMax->text(), "Enter a value between 0 and 2,879");
    EXPECT_TRUE(ui->Label_MinMax->isVisible());
    EXPECT_EQ(view->SectorsPerTick(), 28u);
    EXPECT_EQ(Shown(*view), "Viewing Sector: 0 of 2,879");
    // The boot sector of mkfs.fat begins EB 3C 90 "mkfs.fat".
    EXPECT_EQ(DumpLines(*view).value(0), "0x0000:  eb3c 906d 6b66 732e - 6661 7400 0201 0100 | .<.mkfs.fat.....");
    EXPECT_EQ(DumpLines(*view).size(), 32);
    EXPECT_FALSE(ui->Button_Previous->isEnabled());
    EXPECT_TRUE(ui->Button_Next->isEnabled());

    QTest::mouseClick(ui->Button_Next, Qt::LeftButton);
    EXPECT_EQ(Shown(*view), "Viewing Sector: 1 of 2,879");
    EXPECT_TRUE(ui->Button_Previous->isEnabled());
    QTest::mouseClick(ui->Button_Previous, Qt::LeftButton);
    EXPECT_EQ(view->CurrentSector(), 0u);

    // Dragging the thumb moves the label only; letting go shows the sector.
    QSlider* track = ui->TrackBar_CurrentSector;
    struct Case {
      int position;
      uint64_t sector;
      const char* label;
    };
    for (const Case& c : {Case{50, 1400, "Viewing Sector: 1,400 of 2,879"},
                          Case{100, 2879, "Viewing Sector: 2,879 of 2,879"},
                          Case{1, 28, "Viewing Sector: 28 of 2,879"}}) {
      const QString dumpBefore = ui->Memo_SectorContents->toPlainText();
      track->setSliderDown(true);
      track->setSliderPosition(c.position);
      EXPECT_EQ(Shown(*view), c.label) << c.position;
      EXPECT_EQ(ui->Memo_SectorContents->toPlainText(), dumpBefore) << "read while dragging";
      track->setSliderDown(false);
      EXPECT_EQ(view->CurrentSector(), c.sector) << c.position;
      EXPECT_EQ(DumpLines(*view).value(0).left(7), "0x0000:") << c.position;
    }
    // At the last sector Next is off.
    track->setSliderDown(true);
    track->setSliderPosition(100);
    track->setSliderDown(false);
    EXPECT_FALSE(ui->Button_Next->isEnabled());
    QTest::mouseClick(ui->Button_Next, Qt::LeftButton);
    EXPECT_EQ(view->CurrentSector(), 2879u);

    // Keys and the wheel show the sector at the thumb's new place.
    QTest::keyClick(track, Qt::Key_Left);
    EXPECT_EQ(track->value(), 99);
    EXPECT_EQ(view->CurrentSector(), 99u * 28);
    QWheelEvent wheel(QPointF(10, 10), track->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(track, &wheel);
    EXPECT_LT(track->value(), 99);
    EXPECT_EQ(view->CurrentSector(), static_cast<uint64_t>(track->value()) * 28);
    QTest::keyClick(track, Qt::Key_End);
    EXPECT_EQ(view->CurrentSector(), 2879u);
    QTest::keyClick(track, Qt::Key_Home);
    EXPECT_EQ(view->CurrentSector(), 0u);
  }
  EXPECT_TRUE(fixtures::ReadFile(floppy_) == before) << "the viewer changed the image";
}

TEST_F(ViewSectorsTest, GoToClampsKeepsThePositionOnBadInputAndNamesTheError) {
  Map({{'A', "removable", floppy_}});
  auto view = Show(nullptr, 'A');
  GoTo(*view, "10");
  ASSERT_EQ(view->CurrentSector(), 10u);
  struct Case {
    const char* text;
    uint64_t sector;  // shown afterwards
    bool error;
  };
  const Case cases[] = {
      {"3000", 2879, false},
      {"-5", 2879, false},
      {"12a", 2879, true},
      {"1,000", 2879, true},
      {"99999999999999999999", 2879, true},  // beyond 64 bits
      {"", 2879, true},
      {"1400", 1400, false},
      {"0", 0, false},
  };
  for (const Case& c : cases) {
    auto watcher = Dismisser();
    GoTo(*view, QString::fromLatin1(c.text));
    Pump(30);
    EXPECT_EQ(view->CurrentSector(), c.sector) << c.text;
    if (c.error) {
      ASSERT_EQ(watcher.Titles().size(), 1u) << c.text;
      EXPECT_EQ(watcher.Titles()[0], "Error") << c.text;
    } else {
      EXPECT_TRUE(watcher.Titles().empty()) << c.text;
    }
    EXPECT_TRUE(view->ui()->Edit_CurSector->text().isEmpty()) << c.text;
  }
  EXPECT_FALSE(view->ui()->Button_Previous->isEnabled());
  EXPECT_TRUE(view->ui()->Button_Next->isEnabled());
}

TEST_F(ViewSectorsTest, EnterFollowsTheDefaultButtonRules) {
  Map({{'A', "removable", floppy_}});
  auto view = Show(nullptr, 'A');
  auto* ui = view->ui();
  QTest::keyClicks(ui->Edit_CurSector, "7");
  EXPECT_TRUE(ui->Button_GoToSector->isDefault());
  EXPECT_FALSE(ui->Button_ViewSectors->isDefault());
  QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);  // leaving the edit
  QApplication::sendEvent(ui->Edit_CurSector, &leave);
  EXPECT_FALSE(ui->Button_GoToSector->isDefault());
  emit ui->DriveComboBox1->activated(0);
  EXPECT_TRUE(ui->Button_ViewSectors->isDefault());
  EXPECT_FALSE(ui->Button_GoToSector->isDefault());
}

TEST_F(ViewSectorsTest, LetterZeroIsTheSystemDriveAndLettersAreKeptUpperCase) {
  Map({{'A', "removable", floppy_}});
  TForm_ViewSectors system(nullptr, nullptr, '\0');
  EXPECT_EQ(system.DriveLetter(), 'C');
  TForm_ViewSectors floppy(nullptr, nullptr, 'a');
  EXPECT_EQ(floppy.DriveLetter(), 'A');
}

TEST_F(ViewSectorsTest, TextColumnShowsPrintableBytesAndDel) {
  {
    std::fstream f(floppy_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(5 * 512);
    const char bytes[] = {0x7F, static_cast<char>(0x80), 0x0A, 'A', 0x1F, 0x20, '~', static_cast<char>(0xFF)};
    f.write(bytes, sizeof bytes);
  }
  Map({{'A', "removable", floppy_}});
  auto view = Show(nullptr, 'A');
  GoTo(*view, "5");
  const QString row = DumpLines(*view).value(0);
  EXPECT_EQ(row.left(51), "0x0000:  7f80 0a41 1f20 7eff - 0000 0000 0000 0000 ");
  EXPECT_EQ(row.mid(53), QString::fromLatin1("\x7F..A. ~.........", 16));
}

TEST_F(ViewSectorsTest, DirtyClustersAreSteppedSectorBySector) {
  const std::string ntfs = dir_.File("ntfs.img");
  fixtures::ImageOptions options;
  options.sectorsPerCluster = 8;
  std::string error;
  ASSERT_TRUE(fixtures::MakeImage(ntfs, 8u << 20, fixtures::FileSystem::NTFS, options, &error)) << error;
  Map({{'E', "removable", ntfs}});
  CDirtyBitmap dirty(2048, false);
  dirty.MarkDirty(10);
  dirty.MarkDirty(12);
  (void)dirty.FindNext();  // the viewer browses its own copy from the start

  auto view = Show(&dirty, 'E');
  auto* ui = view->ui();
  EXPECT_FALSE(ui->TrackBar_CurrentSector->isVisible());
  EXPECT_FALSE(ui->Edit_CurSector->isVisible());
  EXPECT_FALSE(ui->Label_MinMax->isVisible());
  EXPECT_FALSE(ui->Button_ViewSectors->isEnabled());
  EXPECT_EQ(ui->Memo_SectorContents->height(), 262 + 92);
  EXPECT_EQ(view->DirtyTotal(), 16u);

  std::vector<uint64_t> forward{view->CurrentSector()};
  while (ui->Button_Next->isEnabled()) {
    QTest::mouseClick(ui->Button_Next, Qt::LeftButton);
    forward.push_back(view->CurrentSector());
    ASSERT_LT(forward.size(), 20u);
  }
  std::vector<uint64_t> expected;
  for (uint64_t s = 80; s <= 87; ++s) expected.push_back(s);
  for (uint64_t s = 96; s <= 103; ++s) expected.push_back(s);
  EXPECT_EQ(forward, expected);

  for (int i = 0; i < 7; ++i) QTest::mouseClick(ui->Button_Previous, Qt::LeftButton);
  EXPECT_EQ(view->CurrentSector(), 96u);
  QTest::mouseClick(ui->Button_Previous, Qt::LeftButton);
  EXPECT_EQ(view->CurrentSector(), 87u);
  EXPECT_EQ(Shown(*view), "Viewing Sector: 87 of 16,383");
  for (int i = 0; i < 7; ++i) QTest::mouseClick(ui->Button_Previous, Qt::LeftButton);
  EXPECT_EQ(view->CurrentSector(), 80u);
  EXPECT_FALSE(ui->Button_Previous->isEnabled());
  EXPECT_TRUE(ui->Button_Next->isEnabled());
}

// NTFS writes clusters of 128 sectors and more as a power of two in the boot
// sector (128 KiB: 0xF8); a dirty cluster still starts where it lies.
TEST_F(ViewSectorsTest, LargeNtfsClustersStartAtTheirOwnSectors) {
  const std::string ntfs = dir_.File("ntfs.img");
  fixtures::ImageOptions options;
  options.sectorsPerCluster = 256;
  std::string error;
  ASSERT_TRUE(fixtures::MakeImage(ntfs, 32u << 20, fixtures::FileSystem::NTFS, options, &error)) << error;
  Map({{'E', "removable", ntfs}});
  CDirtyBitmap dirty(256, false);
  dirty.MarkDirty(10);

  auto view = Show(&dirty, 'E');
  EXPECT_EQ(view->DirtyTotal(), 256u);
  EXPECT_EQ(view->CurrentSector(), 2560u);
  QTest::mouseClick(view->ui()->Button_Next, Qt::LeftButton);
  EXPECT_EQ(view->CurrentSector(), 2561u);
}

TEST_F(ViewSectorsTest, SingleDirtyFatSectorLeavesBothButtonsOff) {
  Map({{'A', "removable", floppy_}});
  CDirtyBitmap dirty(2879, true);
  dirty.MarkDirty(100);
  auto view = Show(&dirty, 'A');
  EXPECT_EQ(view->CurrentSector(), 100u);
  EXPECT_EQ(Shown(*view), "Viewing Sector: 100 of 2,879");
  EXPECT_FALSE(view->ui()->Button_Previous->isEnabled());
  EXPECT_FALSE(view->ui()->Button_Next->isEnabled());
}

TEST_F(ViewSectorsTest, ThreeTebibyteImageReachesItsLastSector) {
  const std::string big = dir_.File("big.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(big, uint64_t{3} << 40));
  Map({{'F', "fixed", big}});
  auto view = Show(nullptr, 'F');
  auto* ui = view->ui();
  EXPECT_EQ(view->LastSector(), 6442450943u);
  EXPECT_EQ(ui->Label_MaxSector->text(), "6,442,450,943");
  EXPECT_TRUE(ui->Button_Next->isEnabled());

  GoTo(*view, "6442450943");
  EXPECT_EQ(view->CurrentSector(), 6442450943u);
  EXPECT_EQ(Shown(*view), "Viewing Sector: 6,442,450,943 of 6,442,450,943");
  EXPECT_EQ(ui->TrackBar_CurrentSector->value(), 100);
  GoTo(*view, "4294967296");  // 2^32: no wrap to 0
  EXPECT_EQ(view->CurrentSector(), 4294967296u);
  EXPECT_EQ(ui->TrackBar_CurrentSector->value(), 66);
  GoTo(*view, "99999999999");
  EXPECT_EQ(view->CurrentSector(), 6442450943u);

  QSlider* track = ui->TrackBar_CurrentSector;
  track->setSliderDown(true);
  track->setSliderPosition(50);
  track->setSliderDown(false);
  EXPECT_EQ(view->CurrentSector(), 50u * 64424509);
  track->setSliderDown(true);
  track->setSliderPosition(100);
  track->setSliderDown(false);
  EXPECT_EQ(view->CurrentSector(), 6442450943u);
  EXPECT_EQ(DumpLines(*view).value(0), "0x0000:  0000 0000 0000 0000 - 0000 0000 0000 0000 | ................");
}

TEST_F(ViewSectorsTest, UnreadableDriveAndUnreadableSector) {
  const std::string empty = dir_.File("empty.img");
  ASSERT_TRUE(fixtures::WriteFile(empty, ""));
  Map({{'A', "removable", floppy_}, {'G', "removable", empty}});
  {
    auto watcher = Dismisser();
    auto view = Show(nullptr, 'G');
    Pump(30);
    auto* ui = view->ui();
    ASSERT_EQ(watcher.Titles().size(), 1u);
    EXPECT_EQ(watcher.Titles()[0], "Drive Error");
    EXPECT_EQ(ui->Memo_SectorContents->toPlainText(), "\n\n\nUnable to read from drive.");
    EXPECT_FALSE(ui->Label_CurrentSector->isVisible());
    EXPECT_EQ(ui->Label_MaxSector->text(), "0");
    for (QWidget* w : {static_cast<QWidget*>(ui->Button_Previous), static_cast<QWidget*>(ui->Button_Next),
                       static_cast<QWidget*>(ui->TrackBar_CurrentSector),
                       static_cast<QWidget*>(ui->Edit_CurSector), static_cast<QWidget*>(ui->Button_GoToSector)}) {
      EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    }
    // Another drive from the list opens in the same window.
    ui->DriveComboBox1->SetDrive('a');
    QTest::mouseClick(ui->Button_ViewSectors, Qt::LeftButton);
    EXPECT_EQ(ui->Label_MaxSector->text(), "2,879");
    EXPECT_TRUE(ui->Label_CurrentSector->isVisible());
    EXPECT_EQ(ui->Memo_SectorContents->font().pointSize(), 8);
  }
  // A floppy with one sector the medium cannot read.
  auto disk = platform::MemoryDisk::FromImage(floppy_);
  ASSERT_TRUE(disk && disk->SectorCount() == 2880);
  disk->unreadable.insert(1400);
  auto view = Show(nullptr, 'A', [disk](char) { return platform::MakeMemoryBackend(disk); });
  auto* ui = view->ui();
  GoTo(*view, "1400");
  EXPECT_EQ(ui->Memo_SectorContents->toPlainText(),
            "\n\n\nDisk errors encountered at sector 1,400.\nThis sector appears to be damaged and is not usable.");
  EXPECT_EQ(ui->Memo_SectorContents->font().pointSize(), 12);
  EXPECT_TRUE(ui->Button_Next->isEnabled());
  QTest::mouseClick(ui->Button_Next, Qt::LeftButton);
  EXPECT_EQ(view->CurrentSector(), 1401u);
  EXPECT_EQ(ui->Memo_SectorContents->font().pointSize(), 8);
  EXPECT_EQ(DumpLines(*view).size(), 32);
}

TEST_F(ViewSectorsTest, ExplanationFollowsTheShowUntilTicked) {
  BindDontShowAgainWindow();
  Map({{'A', "removable", floppy_}}, false);
  for (bool tick : {true, false}) {
    bool viewerVisible = false;
    ModalWatcher watcher([&](QWidget* box) {
      viewerVisible = box->parentWidget() && box->parentWidget()->isVisible();
      QTimer::singleShot(0, box, [box, tick] {
        if (tick) box->findChild<QCheckBox*>("CheckBox_DontShow")->setChecked(true);
        QTest::mouseClick(guitest::Button(box, "Button_Ok"), Qt::LeftButton);
      });
    });
    TForm_ViewSectors view(nullptr, nullptr, 'A');
    view.show();
    Pump(60);
    if (tick) {
      ASSERT_EQ(watcher.Titles().size(), 1u);
      EXPECT_EQ(watcher.Titles()[0], "Sector Viewer");
      EXPECT_TRUE(viewerVisible);
    } else {
      EXPECT_TRUE(watcher.Titles().empty()) << "shown again after the box was ticked";
    }
  }
}

}  // namespace
