// FormatThousands, the drive drop-down and FillDriveList over drive tables.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <map>

#include "widgets/DriveList.h"
#include "tests/widgets/GuiTest.h"

namespace {

TEST(FormatThousandsTest, GroupsOfThreeWithCommas) {
  struct Case {
    int64_t value;
    const char* text;
  };
  const Case cases[] = {{0, "0"},           {7, "7"},           {999, "999"},
                        {1000, "1,000"},    {1001, "1,001"},    {10000, "10,000"},
                        {100000, "100,000"}, {1000000, "1,000,000"}, {1234567, "1,234,567"},
                        {4294967295, "4,294,967,295"}};
  for (const Case& c : cases) {
    EXPECT_EQ(FormatThousands(static_cast<uint32_t>(c.value)), c.text) << c.value;
  }
  EXPECT_EQ(FormatThousands(int32_t{-1}), "4,294,967,295");
  EXPECT_EQ(FormatThousands(int32_t{-1000}), "4,294,966,296");
  EXPECT_EQ(FormatThousands(int32_t{1234}), "1,234");
}

class DriveListTest : public guitest::GuiTest {
 protected:
  void SetUp() override {
    guitest::GuiTest::SetUp();
    Add('A', platform::DRIVE_REMOVABLE, "N/A");  // a floppy drive without a disk
    Add('B', platform::DRIVE_REMOVABLE, "N/A");
    Add('C', platform::DRIVE_FIXED, "SYSTEM");
    Add('D', platform::DRIVE_CDROM, "DVD");
    Add('E', platform::DRIVE_REMOVABLE, "USB STICK");
    Add('F', platform::DRIVE_FIXED, "N/A");       // label literally "N/A"
    Add('G', platform::DRIVE_FIXED, "");          // no label
    Add('H', platform::DRIVE_REMOTE, "SHARE");
    Add('R', platform::DRIVE_RAMDISK, "RAM");
    Add('S', platform::DRIVE_REMOVABLE, "");
    Add('T', platform::DRIVE_UNKNOWN, "ODD");     // never listed by the control
    Install();
  }
  void TearDown() override {
    SetDriveListSource({});
    guitest::GuiTest::TearDown();
  }
  void Add(char letter, uint32_t type, const char* label) {
    platform::DriveEntry e;
    e.letter = letter;
    e.type = type;
    e.path = std::string("/nonexistent/") + letter;
    entries_.push_back(e);
    labels_[letter] = label;
  }
  void Install() {
    DriveListSource source;
    auto entries = entries_;
    source.table = [entries] { return platform::DriveTable(entries); };
    auto labels = labels_;
    source.volumeLabel = [labels, this](char letter, char* buffer, uint32_t size) {
      asked_.push_back(letter);
      EXPECT_EQ(size, 12u);
      auto it = labels.find(letter);
      std::snprintf(buffer, size, "%s", it == labels.end() ? "N/A" : it->second.c_str());
      return true;
    };
    SetDriveListSource(source);
  }
  static std::vector<QString> Items(const QComboBox& list) {
    std::vector<QString> out;
    for (int i = 0; i < list.count(); ++i) out.push_back(list.itemText(i));
    return out;
  }

  std::vector<platform::DriveEntry> entries_;
  std::map<char, std::string> labels_;
  std::vector<char> asked_;
};

TEST_F(DriveListTest, TheControlListsTypesTwoToSixInLetterOrder) {
  TDriveComboBox list;
  EXPECT_EQ(Items(list), (std::vector<QString>{"a:", "b:", "c:", "d:", "e:", "f:", "g:", "h:",
                                               "r:", "s:"}));
  EXPECT_EQ(list.currentIndex(), -1);
  EXPECT_EQ(list.Drive(), 0);
}

TEST_F(DriveListTest, FillNamesRemovableAndFixedDrivesAndDropsTheOthers) {
  TDriveComboBox list;
  FillDriveList(list, 'e');
  EXPECT_EQ(Items(list), (std::vector<QString>{QString::fromUtf8("A: 3½ Floppy"),
                                               "B: Removable Media", "C: SYSTEM", "E: USB STICK",
                                               "F: Local Disk", "G: Local Disk",
                                               "S: Removable Media"}));
  EXPECT_EQ(list.currentText(), QStringLiteral("E: USB STICK"));
  EXPECT_EQ(list.Drive(), 'e');
  // Labels are read only for the drives that stay.
  EXPECT_EQ(asked_, (std::vector<char>{'A', 'B', 'C', 'E', 'F', 'G', 'S'}));
}

TEST_F(DriveListTest, SelectionAndCurrentDriveRules) {
  TDriveComboBox list;
  QSignalSpy changed(&list, &TDriveComboBox::DriveChanged);
  FillDriveList(list, 'C');
  EXPECT_EQ(list.currentText(), QStringLiteral("C: SYSTEM"));
  EXPECT_EQ(list.Drive(), 'c') << "the windows read the drive in lower case";
  EXPECT_EQ(changed.count(), 1);

  // The same letter again, in either case, changes nothing.
  list.SetDrive('C');
  list.SetDrive('c');
  EXPECT_EQ(changed.count(), 1);

  // A letter without an item leaves the selection and still becomes the
  // current drive.
  FillDriveList(list, 'd');
  EXPECT_EQ(list.currentText(), QStringLiteral("C: SYSTEM"));
  EXPECT_EQ(list.Drive(), 'd');
  EXPECT_EQ(changed.count(), 2);

  // Picking an item makes its letter the drive.
  const int g = list.findText(QStringLiteral("G: Local Disk"));
  ASSERT_GE(g, 0);
  list.setCurrentIndex(g);
  emit list.activated(g);
  EXPECT_EQ(list.Drive(), 'g');
  EXPECT_EQ(changed.count(), 3);

  // Letter 0 clears both.
  list.SetDrive(0);
  EXPECT_EQ(list.Drive(), 0);
  EXPECT_EQ(list.currentIndex(), -1);
}

TEST_F(DriveListTest, AFloppyBWithoutADiskIsRemovableMediaAndAnEmptyTableListsNothing) {
  TDriveComboBox list;
  FillDriveList(list, 'b');
  EXPECT_EQ(list.currentText(), QStringLiteral("B: Removable Media"));
  for (const QString& item : Items(list)) {
    EXPECT_TRUE(item.size() >= 2 && item[0].isUpper() && item[1] == QLatin1Char(':'))
        << item.toStdString();
  }

  SetDriveListSource({});
  TDriveComboBox empty;
  FillDriveList(empty, 'a');
  EXPECT_EQ(empty.count(), 0);
  EXPECT_EQ(empty.Drive(), 'a');
}

// The program's own source: the user's drive map read by the drive table,
// labels probed on real images made by mkfs.fat.
TEST(SystemDriveListTest, MappedImagesAreNamedByTheirLabelsAndTypes) {
  guitest::App();
  const QString mkfs = QStandardPaths::findExecutable("mkfs.fat", {"/usr/sbin", "/sbin", "/usr/bin"});
  ASSERT_FALSE(mkfs.isEmpty()) << "mkfs.fat (dosfstools) is needed";
  const QString dir = QString::fromStdString(platform::DataDir()) + "/drive-list";
  ASSERT_TRUE(QDir().mkpath(dir));
  auto makeImage = [&](const QString& name, const QStringList& label) {
    QProcess p;
    // -C creates the file; 1440 KiB is a floppy's size.
    p.start(mkfs, QStringList{"-C"} + label + QStringList{dir + "/" + name, "1440"});
    ASSERT_TRUE(p.waitForFinished(30000));
    // mkfs.fat(8): 0 is success.
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  };
  makeImage("labelled.img", {"-n", "NFXLABEL"});
  makeImage("disc.img", {"-n", "DISC"});
  QFile blank(dir + "/blank.img");  // no file system: the label cannot be read
  ASSERT_TRUE(blank.open(QIODevice::WriteOnly));
  ASSERT_TRUE(blank.resize(1474560));
  blank.close();

  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(platform::ConfigDir())));
  QFile map(QString::fromStdString(platform::DriveMapPath()));
  ASSERT_TRUE(map.open(QIODevice::WriteOnly | QIODevice::Truncate));
  map.write(QStringLiteral("# test drives\n"
                           "A: removable %1/no-disk.img\n"
                           "E: removable %1/labelled.img\n"
                           "F: cdrom %1/disc.img\n"
                           "G: fixed %1/blank.img\n")
                .arg(dir)
                .toUtf8());
  map.close();

  SetDriveListSource(SystemDriveListSource());
  TDriveComboBox list;
  FillDriveList(list, 'E');
  std::vector<QString> items;
  for (int i = 0; i < list.count(); ++i) items.push_back(list.itemText(i));
  auto has = [&](const QString& text) { return std::find(items.begin(), items.end(), text) != items.end(); };
  EXPECT_TRUE(has(QString::fromUtf8("A: 3½ Floppy")));
  EXPECT_TRUE(has(QStringLiteral("E: NFXLABEL")));
  EXPECT_TRUE(has(QStringLiteral("G: Local Disk")));
  for (const QString& item : items) EXPECT_FALSE(item.startsWith("F:")) << "an optical drive is never listed";
  EXPECT_EQ(list.currentText(), QStringLiteral("E: NFXLABEL"));
  EXPECT_EQ(list.Drive(), 'e');
  SetDriveListSource({});
  map.remove();
  QDir(dir).removeRecursively();
}

}  // namespace
