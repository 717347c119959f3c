// Recognition of real file systems made by the real formatters, the size
// search, and the boot-sector rules on hand-made sectors a formatter would
// not write.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "drive/CDriveController.h"
#include "platform/AlignedBuffer.h"
#include "platform/MemoryBackend.h"
#include "platform/OsVersion.h"
#include "platform/linux/LinuxBackend.h"
#include "tests/fixtures/Fixtures.h"

namespace {

using fixtures::FileSystem;

CDriveController::BackendFactory ImageFactory(const std::string& path) {
  return [path](char) { return platform::MakeLinuxBackend(path); };
}

// Where fsck.fat says the data area starts: an oracle of its own.
int64_t FsckDataSector(const std::string& image) {
  const auto r = fixtures::RunTool({"fsck.fat", "-v", "-n", image});
  std::smatch m;
  static const std::regex re("Data area starts at byte [0-9]+ \\(sector ([0-9]+)\\)");
  if (!std::regex_search(r.output, m, re)) return -1;
  return std::stoll(m[1]);
}

struct RealImage {
  const char* name;
  FileSystem fs;
  uint64_t size;
  uint32_t sectorsPerCluster;
  uint8_t type;
};

TEST(BootSector, RealImagesAreRecognisedWithTheirGeometry) {
  const RealImage cases[] = {
      {"floppy", FileSystem::FAT12, 1474560, 0, FS_FAT12},
      {"fat16", FileSystem::FAT16, 16 << 20, 4, FS_FAT16},
      {"fat32", FileSystem::FAT32, 40 << 20, 1, FS_FAT32},
      {"ntfs", FileSystem::NTFS, 16 << 20, 8, FS_NTFS},
  };
  fixtures::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = dir.File(std::string(c.name) + ".img");
    fixtures::ImageOptions options;
    options.label = "NFXTEST";
    options.sectorsPerCluster = c.sectorsPerCluster;
    std::string error;
    ASSERT_TRUE(fixtures::MakeImage(image, c.size, c.fs, options, &error)) << error;

    CDriveController drive(ImageFactory(image));
    ASSERT_TRUE(drive.OpenDrive('e')) << drive.GetLastErrorCode();
    EXPECT_EQ(drive.GetFileSystemType(), c.type);
    EXPECT_EQ(drive.GetBytesPerSector(), 512);
    const uint32_t spc = c.sectorsPerCluster ? c.sectorsPerCluster : 1;  // the floppy's is 1
    EXPECT_EQ(drive.GetSectorsPerCluster(), spc);
    EXPECT_EQ(drive.GetClusterSize(), spc * 512);
    if (c.fs == FileSystem::NTFS) {
      EXPECT_EQ(drive.GetFirstDataSector(), 0u);
    } else {
      EXPECT_EQ(static_cast<int64_t>(drive.GetFirstDataSector()), FsckDataSector(image));
      EXPECT_EQ(drive.GetRootEntryCount(), c.fs == FileSystem::FAT32 ? 0 : c.fs == FileSystem::FAT12 ? 224 : 512);
    }
    EXPECT_EQ(drive.GetLastSector(), c.size / 512 - 1);
    EXPECT_EQ(drive.GetTotalSectors(), c.size / 512 - 1);
    uint64_t bytes = 0;
    EXPECT_TRUE(drive.GetVolumeSizeBytes(bytes));
    EXPECT_EQ(bytes, c.size);
  }
}

TEST(BootSector, FloppyGivesLastSector2879And1474560Bytes) {
  fixtures::TempDir dir;
  const std::string image = dir.File("floppy.img");
  std::string error;
  ASSERT_TRUE(fixtures::MakeFloppy(image, "FLOPPY", &error)) << error;
  CDriveController drive(ImageFactory(image));
  ASSERT_TRUE(drive.OpenDrive('a'));
  EXPECT_EQ(drive.GetFirstDataSector(), 33u);  // 1 reserved + 2 × 9 FAT + 14 root directory
  EXPECT_EQ(drive.GetLastSector(), 2879u);
  uint64_t bytes = 0;
  ASSERT_TRUE(drive.GetVolumeSizeBytes(bytes));
  EXPECT_EQ(bytes, 1474560u);
  uint8_t fat[62];
  drive.CopyFatBootSector(fat);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fat) + 54), "FAT12") << "type text cut to five";
}

TEST(BootSector, AllZeroImageFailsWith1785ButTransfersStillWork) {
  fixtures::TempDir dir;
  const std::string image = dir.File("zero.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(image, 1 << 20));
  CDriveController drive(ImageFactory(image));
  EXPECT_FALSE(drive.OpenDrive('e'));
  EXPECT_EQ(drive.GetLastErrorCode(), errc::kUnrecognizedVolume);
  EXPECT_EQ(drive.GetFileSystemType(), FS_UNKNOWN);
  EXPECT_EQ(drive.GetBytesPerSector(), 512);
  EXPECT_EQ(drive.GetSectorsPerCluster(), 1);
  EXPECT_EQ(drive.GetClusterSize(), 512u);

  platform::AlignedBuffer out(4 * 512), in(4 * 512);
  out.fill(0x5A);
  uint32_t n = 0;
  ASSERT_TRUE(drive.SeekToSector(100));
  ASSERT_TRUE(drive.WriteSectors(out.data(), 4 * 512, n));
  ASSERT_TRUE(drive.Flush());
  ASSERT_TRUE(drive.SeekToSector(100));
  ASSERT_TRUE(drive.ReadSectors(in.data(), 4 * 512, n));
  EXPECT_EQ(std::memcmp(in.data(), out.data(), 4 * 512), 0);
  EXPECT_EQ(fixtures::FirstByteNotEqual(image, 100 * 512, 4 * 512, 0x5A), -1);
  EXPECT_EQ(fixtures::FirstByteNotEqual(image, 104 * 512, 512, 0), -1);
}

TEST(BootSector, SearchFindsTheEndOfADriveBeyond2TiB) {
  fixtures::TempDir dir;
  const std::string image = dir.File("huge.img");
  const uint64_t size = 3ull << 40;  // 3 TiB, sparse
  ASSERT_TRUE(fixtures::MakeZeroImage(image, size));
  CDriveController drive(ImageFactory(image));
  (void)drive.OpenDrive('e');
  EXPECT_EQ(drive.GetDriveSizeBytes('e'), size);
  EXPECT_EQ(drive.GetLastSector(), size / 512 - 1);
  uint64_t bytes = 0;
  ASSERT_TRUE(drive.GetVolumeSizeBytes(bytes));
  EXPECT_EQ(bytes, size);
  // Transfers reach sectors above 2^32 too.
  platform::AlignedBuffer buf(512);
  buf.fill(0xC3);
  uint32_t n = 0;
  const uint64_t high = (1ull << 32) + 12345;
  ASSERT_TRUE(drive.SeekToSector(high));
  ASSERT_TRUE(drive.WriteSectors(buf.data(), 512, n));
  EXPECT_EQ(fixtures::FirstByteNotEqual(image, high * 512, 512, 0xC3), -1);
}

TEST(BootSector, DamagedSectorDoesNotEndTheSizeSearch) {
  auto disk = std::make_shared<platform::MemoryDisk>(5000);
  disk->reportedDeviceSize = 6000 * 512;  // geometry may say more than is there
  // The first probes of the search land here; taking them for the end
  // would hide the rest of the drive from a wipe.
  disk->unreadable = {6000, 4500, 3000, 4999};
  CDriveController drive([disk](char) { return platform::MakeMemoryBackend(disk); });
  drive.SetRetryPause(std::chrono::milliseconds(0));
  (void)drive.OpenDrive('e');
  EXPECT_EQ(drive.GetLastSector(), 4999u);
}

// A boot sector as a FAT formatter lays it out, for the cases no formatter
// produces.
std::shared_ptr<platform::MemoryDisk> HandMadeFat(uint16_t bps, uint8_t spc, uint8_t fats, uint16_t total16,
                                                  const char* fatText, const char* fat32Text,
                                                  const char* reportedName) {
  auto disk = std::make_shared<platform::MemoryDisk>(64);
  uint8_t* s = disk->Sector(0);
  s[11] = bps & 0xFF;
  s[12] = bps >> 8;
  s[13] = spc;
  s[14] = 4;  // reserved
  s[16] = fats;
  s[17] = 0x00;
  s[18] = 0x02;  // 512 root entries
  s[19] = total16 & 0xFF;
  s[20] = total16 >> 8;
  s[22] = 20;  // sectors per FAT (16-bit)
  s[36] = 0x10;
  s[37] = 0x27;  // sectors per FAT (32-bit) 10000
  std::memcpy(s + 54, fatText, std::strlen(fatText));
  std::memcpy(s + 82, fat32Text, std::strlen(fat32Text));
  disk->volume = platform::VolumeInformation{"HAND", reportedName};
  return disk;
}

struct HandCase {
  const char* name;
  std::shared_ptr<platform::MemoryDisk> disk;
  bool opens;
  uint8_t type;
  uint64_t firstDataSector;
};

TEST(BootSector, FatRulesOnHandMadeSectors) {
  const HandCase cases[] = {
      {"FAT16 text", HandMadeFat(512, 4, 2, 0, "FAT16   ", "", "FAT"), true, FS_FAT16, 512 * 32 / 512 + 40 + 4},
      // The count of data clusters decides, whatever the type text says.
      {"other text, FAT12 shape", HandMadeFat(512, 1, 2, 2880, "MYFS    ", "", "FAT"), true, FS_FAT12, 32 + 40 + 4},
      {"other text, one FAT", HandMadeFat(512, 1, 1, 2880, "MYFS    ", "", "FAT"), true, FS_FAT12, 32 + 20 + 4},
      {"other text, 1024 bytes/sector", HandMadeFat(1024, 1, 2, 2880, "MYFS    ", "", "FAT"), true, FS_FAT12,
       16 + 40 + 4},
      // 32680 - 76 sectors of one-sector clusters: FAT16.
      {"other text, total 32680", HandMadeFat(512, 1, 2, 32680, "MYFS    ", "", "FAT"), true, FS_FAT16, 32 + 40 + 4},
      {"FAT16 text, 4084 clusters", HandMadeFat(512, 1, 2, 4084 + 76, "FAT16   ", "", "FAT"), true, FS_FAT12,
       32 + 40 + 4},
      {"FAT12 text, 4085 clusters", HandMadeFat(512, 1, 2, 4085 + 76, "FAT12   ", "", "FAT"), true, FS_FAT16,
       32 + 40 + 4},
      // No data area to count: the type text decides, as before.
      {"other text, total 0", HandMadeFat(512, 1, 2, 0, "MYFS    ", "", "FAT"), false, FS_UNKNOWN, 0},
      {"FAT32 text", HandMadeFat(512, 8, 2, 0, "", "fat32   ", "FAT32"), true, FS_FAT32, 2 * 10000 + 4},
      {"reported FAT32, copy says FAT16", HandMadeFat(512, 8, 2, 0, "FAT16   ", "NOTFAT  ", "FAT32"), true,
       FS_FAT16, 32 + 40 + 4},
      {"sectors per cluster 0", HandMadeFat(512, 0, 2, 2880, "FAT16   ", "", "FAT"), false, FS_UNKNOWN, 0},
      {"sectors per cluster 129", HandMadeFat(512, 129, 2, 2880, "FAT16   ", "", "FAT"), false, FS_UNKNOWN, 0},
      // Zero bytes per sector is a multiple of 512, but the first data sector
      // divides by it.
      {"bytes per sector 0", HandMadeFat(0, 4, 2, 0, "FAT16   ", "", "FAT16"), false, FS_UNKNOWN, 0},
      {"name from the system not FAT", HandMadeFat(512, 4, 2, 0, "FAT16   ", "", "ext4"), false, FS_UNKNOWN, 0},
      {"NTFS name, FAT sector", HandMadeFat(512, 4, 2, 0, "FAT16   ", "", "ntfs"), true, FS_NTFS, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CDriveController drive([disk = c.disk](char) { return platform::MakeMemoryBackend(disk); });
    EXPECT_EQ(drive.OpenDrive('e'), c.opens);
    if (!c.opens) {
      EXPECT_EQ(drive.GetLastErrorCode(), errc::kUnrecognizedVolume);
    }
    EXPECT_EQ(drive.GetFileSystemType(), c.type);
    EXPECT_EQ(drive.GetFirstDataSector(), c.firstDataSector);
  }
}

TEST(BootSector, ReopeningAnUnrecognisedDriveForgetsTheOldFileSystem) {
  fixtures::TempDir dir;
  const std::string floppy = dir.File("floppy.img"), zero = dir.File("zero.img");
  ASSERT_TRUE(fixtures::MakeFloppy(floppy));
  ASSERT_TRUE(fixtures::MakeZeroImage(zero, 2 << 20));
  CDriveController drive([&](char letter) { return platform::MakeLinuxBackend(letter == 'A' ? floppy : zero); });
  ASSERT_TRUE(drive.OpenDrive('a'));
  EXPECT_EQ(drive.GetTotalSectors(), 2879u);
  EXPECT_FALSE(drive.OpenDrive('e'));
  EXPECT_EQ(drive.GetFileSystemType(), FS_UNKNOWN);
  EXPECT_EQ(drive.GetFirstDataSector(), 0u);
  EXPECT_EQ(drive.GetTotalSectors(), 4095u) << "the cached size was the floppy's";
}

TEST(OsFamily, BuildNumbersPickTheProtocol) {
  struct Case {
    uint32_t platformId, build;
    OsFamily family;
  } cases[] = {
      {platform::kPlatformWindows, 1000, OS_WIN95}, {platform::kPlatformWindows, 1001, OS_WIN98},
      {platform::kPlatformWindows, 2999, OS_WIN98}, {platform::kPlatformWindows, 3000, OS_WINME},
      {platform::kPlatformWindows, 0x04103000, OS_WINME},  // high bits hold the version
      {platform::kPlatformNT, 10, OS_NT},           {platform::kPlatformWin32s, 5000, OS_WIN95},
  };
  for (const auto& c : cases) {
    platform::OsVersionInfo v;
    v.platformId = c.platformId;
    v.buildNumber = c.build;
    platform::InjectVersionInfo(v);
    EXPECT_EQ(DetectOsFamily(), c.family) << c.platformId << "/" << c.build;
  }
  platform::InjectVersionInfo(std::nullopt);
  EXPECT_EQ(DetectOsFamily(), OS_NT);
}

TEST(OsFamily, FailedBootReadOn98DropsToTheOldCallsForGood) {
  fixtures::TempDir dir;
  const std::string image = dir.File("floppy.img");
  ASSERT_TRUE(fixtures::MakeFloppy(image));
  auto disk = platform::MemoryDisk::FromImage(image);
  ASSERT_EQ(disk->SectorCount(), 2880u);
  platform::OsVersionInfo v;
  v.platformId = platform::kPlatformWindows;
  v.buildNumber = 2222;
  platform::InjectVersionInfo(v);
  CDriveController drive([disk](char) { return platform::MakeMemoryBackend(disk); });
  drive.SetRetryPause(std::chrono::milliseconds(0));
  EXPECT_EQ(drive.GetOsFamily(), OS_WIN98);
  disk->transientReadFailures = 2;  // both tries of the first read
  EXPECT_TRUE(drive.OpenDrive('a'));
  EXPECT_EQ(drive.GetOsFamily(), OS_WIN95);
  EXPECT_EQ(drive.GetFileSystemType(), FS_FAT12) << "the memory disk probes like the system";
  platform::InjectVersionInfo(std::nullopt);
}

}  // namespace
