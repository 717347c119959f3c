// What a letter stands for: the line the wipe confirmation and the CLI show
// before anything is erased.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/DriveIdentity.h"
#include "tests/fixtures/Fixtures.h"

namespace {

namespace fs = std::filesystem;
using platform::DescribeDrive;
using platform::DriveIdentity;

// A device tree laid out as the kernel's: /class/block/<name> links into
// /devices, a partition is a folder inside its disk's folder.
class FakeSysfs {
 public:
  void AddDisk(const std::string& name, uint64_t sectors, const std::string& vendor, const std::string& model) {
    const fs::path disk = Devices() / name;
    fs::create_directories(disk / "device");
    fixtures::WriteFile((disk / "size").string(), std::to_string(sectors) + "\n");
    if (!vendor.empty()) fixtures::WriteFile((disk / "device" / "vendor").string(), vendor + "\n");
    if (!model.empty()) fixtures::WriteFile((disk / "device" / "model").string(), model + "\n");
    Link(name, disk);
  }
  void AddPartition(const std::string& disk, const std::string& name, uint64_t sectors) {
    const fs::path part = Devices() / disk / name;
    fs::create_directories(part);
    fixtures::WriteFile((part / "size").string(), std::to_string(sectors) + "\n");
    fixtures::WriteFile((part / "partition").string(), "1\n");
    Link(name, part);
  }
  std::string root() const { return dir_.path(); }

 private:
  fs::path Devices() const { return fs::path(dir_.path()) / "devices" / "pci0000:00" / "block"; }
  void Link(const std::string& name, const fs::path& target) {
    fs::create_directories(fs::path(dir_.path()) / "class" / "block");
    fs::create_symlink(fs::relative(target, fs::path(dir_.path()) / "class" / "block"),
                       fs::path(dir_.path()) / "class" / "block" / name);
  }
  fixtures::TempDir dir_;
};

TEST(DriveIdentity, DevicesFromTheKernelTree) {
  FakeSysfs sys;
  // USB sticks pad vendor and model with blanks.
  sys.AddDisk("sdb", 31116288, "SanDisk ", "Cruzer Blade    ");
  sys.AddPartition("sdb", "sdb1", 31116288 - 2048);
  sys.AddDisk("nvme0n1", 1000215216, "", "Samsung SSD 970 EVO 500GB");
  sys.AddDisk("loop7", 0, "", "");

  struct Case {
    std::string name;
    std::string line;
  } cases[] = {
      {"sdb1", "/dev/sdb1 \xC2\xB7 15,930,490,880 bytes (15.9 GB) \xC2\xB7 SanDisk Cruzer Blade"},
      {"sdb", "/dev/sdb \xC2\xB7 15,931,539,456 bytes (15.9 GB) \xC2\xB7 SanDisk Cruzer Blade"},
      {"nvme0n1", "/dev/nvme0n1 \xC2\xB7 512,110,190,592 bytes (512.1 GB) \xC2\xB7 Samsung SSD 970 EVO 500GB"},
      {"loop7", "/dev/loop7 \xC2\xB7 0 bytes (0.0 kB)"},
      // A device the tree does not know: the size is not guessed.
      {"sdz", "/dev/sdz \xC2\xB7 size unknown"},
  };
  for (const Case& c : cases) {
    DriveIdentity id;
    id.path = "/dev/" + c.name;
    id.device = true;
    platform::ReadBlockDeviceIdentity(c.name, sys.root(), id);
    EXPECT_EQ(DescribeDrive(id), c.line) << c.name;
  }
}

TEST(DriveIdentity, ImagesAndMissingFiles) {
  fixtures::TempDir dir;
  const std::string floppy = dir.File("floppy.img");
  ASSERT_TRUE(fixtures::MakeFloppy(floppy));
  platform::DriveEntry entry;
  entry.letter = 'A';
  entry.path = floppy;
  DriveIdentity id = platform::IdentifyDrive(entry);
  EXPECT_FALSE(id.device);
  EXPECT_EQ(DescribeDrive(id), floppy + " \xC2\xB7 1,474,560 bytes (1.5 MB)");

  entry.path = dir.File("gone.img");
  EXPECT_EQ(DescribeDrive(platform::IdentifyDrive(entry)), entry.path + " \xC2\xB7 size unknown");

  // The letter's line comes from the user's drive map.
  fixtures::DriveMap map({{'E', "removable", floppy}});
  EXPECT_EQ(platform::DescribeDriveLetter('e'), floppy + " \xC2\xB7 1,474,560 bytes (1.5 MB)");
  EXPECT_EQ(platform::DescribeDriveLetter('Q'), "");
}

TEST(DriveIdentity, LoopDeviceOnTheRealKernelTree) {
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(fixtures::MakeFloppy(image));
  auto attach = fixtures::LoopDevice::AttachImage(image);
  NFX_REQUIRE_LOOP(attach);
  platform::DriveEntry entry;
  entry.path = attach.device->node();
  const DriveIdentity id = platform::IdentifyDrive(entry);
  EXPECT_TRUE(id.device);
  ASSERT_TRUE(id.sizeBytes);
  EXPECT_EQ(*id.sizeBytes, 1474560u);
  EXPECT_EQ(DescribeDrive(id).rfind(entry.path + " \xC2\xB7 1,474,560 bytes (1.5 MB)", 0), 0u);
}

TEST(DriveIdentity, ThousandsGrouping) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {18446744073709551615ull, "18,446,744,073,709,551,615"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(platform::GroupThousands(value), text);
}

}  // namespace
