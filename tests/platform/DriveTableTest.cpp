// The drive table on a private configuration folder: the user's map, the
// system drive, and what a controller built on the table sees.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "drive/CDriveController.h"
#include "platform/DriveTable.h"
#include "platform/Paths.h"
#include "platform/linux/Mounts.h"
#include "tests/fixtures/Fixtures.h"

namespace {

using platform::DriveTable;

class MappedDrives : public ::testing::Test {
 protected:
  void SetUp() override {
    floppy = dir.File("demo floppy.img");
    ntfs = dir.File("ntfs.img");
    std::string error;
    ASSERT_TRUE(fixtures::MakeFloppy(floppy, "DEMOLBL", &error)) << error;
    fixtures::ImageOptions options;
    options.label = "A LONGER NTFS LABEL";
    ASSERT_TRUE(fixtures::MakeImage(ntfs, 8 << 20, fixtures::FileSystem::NTFS, options, &error)) << error;
    map = std::make_unique<fixtures::DriveMap>(std::vector<fixtures::DriveMap::Entry>{});
    map->WriteRaw("# test drives\n"
                  "A: removable " + floppy + "\n"
                  "  e: fixed " + ntfs + "   \n"
                  "C: fixed " + floppy + "\n"
                  "G: ramdisk " + floppy + "\n"
                  "H: floppy " + floppy + "\n"
                  "I: fixed\n"
                  "J removable " + floppy + "\n"
                  "K: removable demo floppy.img\n"
                  "A: cdrom " + ntfs + "\n");
  }
  fixtures::TempDir dir;
  std::string floppy, ntfs;
  std::unique_ptr<fixtures::DriveMap> map;
};

TEST_F(MappedDrives, MapEntriesAppearWithTheirTypesAndTheSystemDriveIsNeverAnImage) {
  EXPECT_EQ(platform::DriveMapPath(), map->mapFile());
  const DriveTable table = DriveTable::Load();
  const auto a = table.Find('a');
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->mapped);
  EXPECT_EQ(a->type, platform::DRIVE_REMOVABLE);
  EXPECT_EQ(a->path, floppy) << "the path runs to the end of the line, spaces and all";
  const auto e = table.Find('E');
  ASSERT_TRUE(e);
  EXPECT_EQ(e->type, platform::DRIVE_FIXED);
  EXPECT_EQ(e->path, ntfs);
  EXPECT_EQ(table.GetDriveType('G'), platform::DRIVE_RAMDISK);
  // A line with an unknown type, without a path, without the colon or with
  // a relative path is skipped. (The letters may still go to machine
  // volumes, such as loop devices other tests attach meanwhile.)
  for (char letter : {'H', 'I', 'J', 'K'}) {
    const auto d = table.Find(letter);
    EXPECT_TRUE(!d || !d->mapped) << letter;
  }
  EXPECT_EQ(table.Find('A')->path, floppy) << "the first line for a letter wins";
  const uint32_t bits = table.GetLogicalDrives();
  EXPECT_EQ(bits & 0x55u, 0x55u) << "A, C, E and G";

  EXPECT_EQ(table.SystemDrive(), 'C');
  const auto c = table.Find('C');
  ASSERT_TRUE(c);
  EXPECT_TRUE(c->system);
  EXPECT_FALSE(c->mapped);
  EXPECT_NE(c->path, floppy);
  for (const auto& d : table.Drives()) {
    if (d.mapped) {
      EXPECT_FALSE(d.system) << d.letter;
    }
  }
}

TEST_F(MappedDrives, ControllerAndVolumeLabelReachTheMappedImages) {
  CDriveController drive;  // backends from the drive table
  ASSERT_TRUE(drive.OpenDrive('a')) << drive.GetLastErrorCode();
  EXPECT_EQ(drive.GetFileSystemType(), FS_FAT12);
  EXPECT_EQ(drive.GetLastSector(), 2879u);
  EXPECT_EQ(drive.GetDriveSizeBytes('e'), 8u << 20) << "another letter's size";
  ASSERT_TRUE(drive.OpenDrive('E'));
  EXPECT_EQ(drive.GetFileSystemType(), FS_NTFS);
  EXPECT_FALSE(drive.OpenDrive('q'));
  EXPECT_EQ(drive.GetLastErrorCode(), errc::kFileNotFound);

  char label[12];
  EXPECT_TRUE(CDriveController::GetVolumeLabel('a', label, sizeof label));
  EXPECT_STREQ(label, "DEMOLBL");
  EXPECT_TRUE(CDriveController::GetVolumeLabel('e', label, sizeof label));
  EXPECT_STREQ(label, "A LONGER NT") << "cut to the buffer, never past it";
  EXPECT_TRUE(CDriveController::GetVolumeLabel('q', label, sizeof label));
  EXPECT_STREQ(label, "N/A");
}

TEST(DriveTable, MapEntryNamingTheSystemVolumeIsDropped) {
  const auto mounts = platform::ReadMountInfo();
  std::string rootSource;
  for (const auto& m : mounts) {
    if (m.mountPoint == "/") rootSource = m.source;
  }
  struct stat st {};
  if (rootSource.rfind("/dev/", 0) != 0 || ::stat(rootSource.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
    GTEST_SKIP() << "the root file system is not on a block device here (" << rootSource << ")";
  }
  // Only the device number is looked at; the device is never opened.
  fixtures::DriveMap map({{'K', "fixed", rootSource}});
  const DriveTable table = DriveTable::Load();
  EXPECT_FALSE(table.Find('K')) << rootSource << " would make the system drive wipeable as K:";
  EXPECT_EQ(table.SystemDrive(), 'C');
  EXPECT_EQ(table.Find('C')->path, rootSource);
}

TEST(DriveTable, VolumeTheMapNamesHasOnlyTheMapsLetter) {
  fixtures::TempDir dir;
  const std::string floppy = dir.File("floppy.img"), other = dir.File("other.img");
  ASSERT_TRUE(fixtures::MakeFloppy(floppy));
  ASSERT_TRUE(fixtures::MakeFloppy(other));
  auto first = fixtures::LoopDevice::AttachImage(floppy, true);
  auto second = fixtures::LoopDevice::AttachImage(other, true);
  if (!first.device || !second.device) {
    if (first.unavailable || second.unavailable) GTEST_SKIP() << first.message << second.message;
    FAIL() << first.message << second.message;
  }
  // One mapped by its device node, one by the image behind its loop device.
  fixtures::DriveMap map({{'E', "removable", first.device->node()}, {'F', "fixed", other}});
  const DriveTable table = DriveTable::Load();
  ASSERT_TRUE(table.Find('E'));
  ASSERT_TRUE(table.Find('F'));
  int e = 0, f = 0;
  for (const auto& d : table.Drives()) {
    e += d.path == first.device->node();
    f += d.path == second.device->node() || d.path == other;
  }
  EXPECT_EQ(e, 1);
  EXPECT_EQ(f, 1);
}

TEST(DriveTable, NoMapFileLeavesTheMachineVolumes) {
  fixtures::DriveMap map({});
  ASSERT_EQ(::unlink(map.mapFile().c_str()), 0);
  const DriveTable table = DriveTable::Load();
  EXPECT_EQ(table.SystemDrive(), 'C');
  for (const auto& d : table.Drives()) {
    EXPECT_FALSE(d.mapped);
    EXPECT_GE(d.letter, 'A');
    EXPECT_LE(d.letter, 'Z');
  }
}

}  // namespace
