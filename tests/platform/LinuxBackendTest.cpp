// The image-file and block-device backend: the error table, transfers with
// and without aligned buffers, the end of the medium, write protection
// (read-only open and a read-only loop device), volume information, and
// the unmount before a wipe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "drive/CDriveController.h"
#include "platform/AlignedBuffer.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/Errno.h"
#include "platform/linux/LinuxBackend.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/VolumeProbe.h"
#include "tests/fixtures/Fixtures.h"

namespace {

using platform::IoOp;

TEST(ErrnoTable, MapsToTheCodesTheProgramKeysOn) {
  const struct {
    int error;
    IoOp op;
    uint32_t code;
  } cases[] = {
      {EROFS, IoOp::Write, errc::kWriteProtect},     {EROFS, IoOp::Open, errc::kWriteProtect},
      {EACCES, IoOp::Write, errc::kWriteProtect},    {EPERM, IoOp::Write, errc::kWriteProtect},
      {EACCES, IoOp::Open, errc::kAccessDenied},     {ENOMEDIUM, IoOp::Read, errc::kNoMediaInDrive},
      {ENOMEDIUM, IoOp::Open, errc::kNoMediaInDrive}, {ENXIO, IoOp::Read, errc::kNotReady},
      {ENODEV, IoOp::Write, errc::kNotReady},        {ENOENT, IoOp::Open, errc::kNotReady},
      {EIO, IoOp::Write, errc::kWriteFault},         {EIO, IoOp::Flush, errc::kWriteFault},
      {EIO, IoOp::Read, errc::kCrc},                 {ENOSPC, IoOp::Write, errc::kSectorNotFound},
      {EINVAL, IoOp::Read, errc::kInvalidParameter},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ErrnoToCode(c.error, c.op), c.code) << std::strerror(c.error);
  }
  // Nothing unknown leaks through as a raw errno value.
  for (int e = 1; e < 134; ++e) EXPECT_NE(platform::ErrnoToCode(e, IoOp::Read), 0u);
  EXPECT_EQ(platform::ErrnoToCode(EHWPOISON + 1000, IoOp::Read), errc::kGenFailure);
}

class ImageBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    image = dir.File("disk.img");
    ASSERT_TRUE(fixtures::MakeZeroImage(image, 1 << 20));
    ASSERT_TRUE(fixtures::FillRandom(image, 0, 1 << 20, 7));
    backend = platform::MakeLinuxBackend(image);
    ASSERT_EQ(backend->Open(), 0u);
  }
  fixtures::TempDir dir;
  std::string image;
  std::unique_ptr<platform::SectorBackend> backend;
};

TEST_F(ImageBackend, UnalignedBuffersGoThroughAndThePositionFollowsTransfers) {
  // A buffer one byte off alignment takes the bounce path.
  std::vector<uint8_t> raw(8 * 512 + 1);
  uint8_t* buf = raw.data() + 1;
  for (size_t i = 0; i < 8 * 512; ++i) buf[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(backend->SetPosition(2), 0u);
  uint32_t done = 0;
  ASSERT_EQ(backend->Write(buf, 8 * 512, done), 0u);
  EXPECT_EQ(done, 8u * 512);
  EXPECT_EQ(backend->Position(), 10u);
  ASSERT_EQ(backend->Flush(), 0u);
  EXPECT_EQ(fixtures::ReadBytes(image, 2 * 512, 8 * 512), std::string(reinterpret_cast<char*>(buf), 8 * 512));

  std::vector<uint8_t> back(8 * 512 + 3);
  ASSERT_EQ(backend->SetPosition(2), 0u);
  ASSERT_EQ(backend->Read(back.data() + 3, 8 * 512, done), 0u);
  EXPECT_EQ(std::memcmp(back.data() + 3, buf, 8 * 512), 0);
  // Reads at a sector neither use nor move the position, open or closed.
  ASSERT_EQ(backend->Skip(5), 0u);
  EXPECT_EQ(backend->Position(), 15u);
  platform::AlignedBuffer one(512);
  ASSERT_EQ(backend->ReadAt(3, one.data(), 1), 0u);
  EXPECT_EQ(std::memcmp(one.data(), buf + 512, 512), 0);
  EXPECT_EQ(backend->Position(), 15u);
  backend->Close();
  ASSERT_EQ(backend->ReadAt(3, one.data(), 1), 0u);
  EXPECT_EQ(std::memcmp(one.data(), buf + 512, 512), 0);
  EXPECT_EQ(backend->Read(one.data(), 512, done), errc::kInvalidHandle);
}

TEST_F(ImageBackend, NothingPassesTheEndAndAFailureLeavesThePosition) {
  platform::AlignedBuffer buf(8 * 512);
  uint32_t done = 1;
  ASSERT_EQ(backend->SetPosition(2044), 0u);  // 4 sectors before the end
  EXPECT_EQ(backend->Write(buf.data(), 8 * 512, done), errc::kSectorNotFound);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(backend->Position(), 2044u);
  EXPECT_EQ(backend->Read(buf.data(), 8 * 512, done), errc::kSectorNotFound);
  EXPECT_EQ(backend->Position(), 2044u);
  struct stat st {};
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 1 << 20) << "a write past the end must not grow the image";
  EXPECT_EQ(backend->Read(buf.data(), 4 * 512, done), 0u);
  EXPECT_EQ(backend->Position(), 2048u);
  EXPECT_EQ(backend->ReadAt(2048, buf.data(), 1), errc::kSectorNotFound);
  EXPECT_EQ(backend->ReadAt(UINT64_MAX / 2, buf.data(), 1), errc::kSectorNotFound);
  EXPECT_EQ(backend->Read(buf.data(), 100, done), errc::kInvalidParameter);
  EXPECT_EQ(backend->DeviceSize(), 1u << 20);
}

TEST(OddSizeImage, AWriteToTheLastSectorAlsoCoversTheBytesPastIt) {
  // An image of 6 sectors and 300 bytes: no sector holds those bytes, yet
  // they are the image's content and a pass must overwrite them.
  fixtures::TempDir dir;
  const std::string image = dir.File("odd.img");
  constexpr uint64_t kSize = 6 * 512 + 300;
  ASSERT_TRUE(fixtures::MakeZeroImage(image, kSize));
  ASSERT_TRUE(fixtures::FillRandom(image, 0, kSize, 3));
  auto backend = platform::MakeLinuxBackend(image);
  ASSERT_EQ(backend->Open(), 0u);
  EXPECT_EQ(backend->DeviceSize(), kSize);
  platform::AlignedBuffer buf(2 * 512);
  for (size_t i = 0; i < buf.size(); i += 2) {
    buf.data()[i] = 0x5A;
    buf.data()[i + 1] = 0xA5;
  }
  uint32_t done = 0;
  // A write short of the end leaves the tail alone.
  const std::string original = fixtures::ReadBytes(image, 6 * 512, 300);
  ASSERT_EQ(backend->SetPosition(0), 0u);
  ASSERT_EQ(backend->Write(buf.data(), 2 * 512, done), 0u);
  ASSERT_EQ(backend->Flush(), 0u);
  EXPECT_EQ(fixtures::ReadBytes(image, 6 * 512, 300), original);
  ASSERT_EQ(backend->SetPosition(4), 0u);
  ASSERT_EQ(backend->Write(buf.data(), 2 * 512, done), 0u);
  EXPECT_EQ(done, 2u * 512);
  EXPECT_EQ(backend->Position(), 6u);
  ASSERT_EQ(backend->Flush(), 0u);
  const std::string tail = fixtures::ReadBytes(image, 6 * 512, 300);
  EXPECT_EQ(tail, std::string(reinterpret_cast<const char*>(buf.data()) + 512, 300));
  struct stat st {};
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), kSize) << "the image keeps its size";
}

TEST_F(ImageBackend, ReadOnlyOpenRefusesWritesWith19AndStillReads) {
  auto ro = platform::MakeLinuxBackend(image, {.readOnly = true});
  ASSERT_EQ(ro->Open(), 0u);
  platform::AlignedBuffer buf(512);
  uint32_t done = 0;
  EXPECT_EQ(ro->Write(buf.data(), 512, done), errc::kWriteProtect);
  EXPECT_EQ(ro->Position(), 0u);
  EXPECT_EQ(ro->Read(buf.data(), 512, done), 0u);
}

TEST_F(ImageBackend, ImageThatShrinksUnderneathGivesErrorsNotAHang) {
  ASSERT_EQ(::truncate(image.c_str(), 0), 0);
  platform::AlignedBuffer buf(64 * 512);
  uint32_t done = 0;
  EXPECT_NE(backend->Read(buf.data(), 64 * 512, done), 0u);
  EXPECT_EQ(backend->DeviceSize(), 0u);
  EXPECT_NE(backend->ReadAt(0, buf.data(), 1), 0u);
}

TEST(LinuxBackend, SequentialRunsOfEverySizeReadWhatIsOnTheMedium) {
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  // Not a whole number of read-ahead windows, so the last window is short.
  const uint64_t size = (5u << 20) + 3 * 4096;
  ASSERT_TRUE(fixtures::MakeZeroImage(image, size));
  ASSERT_TRUE(fixtures::FillRandom(image, 0, size, 11));
  const std::string expected = fixtures::ReadBytes(image, 0, size);
  auto backend = platform::MakeLinuxBackend(image);
  ASSERT_EQ(backend->Open(), 0u);
  for (uint32_t run : {4096u, 192u * 1024, 256u * 1024, 1u << 20, 3u << 20}) {
    SCOPED_TRACE(run);
    platform::AlignedBuffer buf(run);
    ASSERT_EQ(backend->SetPosition(0), 0u);
    uint64_t offset = 0;
    while (offset < size) {
      const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(run, size - offset));
      uint32_t done = 0;
      ASSERT_EQ(backend->Read(buf.data(), want, done), 0u) << offset;
      ASSERT_EQ(std::memcmp(buf.data(), expected.data() + offset, want), 0) << "at byte " << offset;
      offset += want;
      // A read at a sector in between changes nothing for the run.
      if (offset == 2u << 20) {
        platform::AlignedBuffer one(512);
        ASSERT_EQ(backend->ReadAt(7, one.data(), 1), 0u);
      }
    }
    uint32_t done = 0;
    EXPECT_EQ(backend->Read(buf.data(), 4096, done), errc::kSectorNotFound);
  }
  // What the backend writes is what it reads next, with no stale look-ahead.
  platform::AlignedBuffer buf(64 * 1024);
  uint32_t done = 0;
  ASSERT_EQ(backend->SetPosition(0), 0u);
  ASSERT_EQ(backend->Read(buf.data(), buf.size(), done), 0u);
  ASSERT_EQ(backend->Read(buf.data(), buf.size(), done), 0u);
  buf.fill(0xE7);
  ASSERT_EQ(backend->Write(buf.data(), buf.size(), done), 0u);  // bytes 128K..192K
  ASSERT_EQ(backend->SetPosition(256), 0u);
  ASSERT_EQ(backend->Read(buf.data(), buf.size(), done), 0u);
  EXPECT_EQ(buf.data()[0], 0xE7);
  EXPECT_EQ(fixtures::FirstByteNotEqual(image, 128 * 1024, 64 * 1024, 0xE7), -1);
}

TEST(LinuxBackend, ReadAheadThatFailsLeavesEachRunToSucceedOrFailOnItsOwn) {
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(image, 4 << 20));
  ASSERT_TRUE(fixtures::FillRandom(image, 0, 4 << 20, 5));
  const std::string expected = fixtures::ReadBytes(image, 0, 1 << 20);
  auto backend = platform::MakeLinuxBackend(image);
  ASSERT_EQ(backend->Open(), 0u);
  platform::AlignedBuffer buf(256 * 1024);
  uint32_t done = 0;
  ASSERT_EQ(backend->Read(buf.data(), buf.size(), done), 0u);
  // The medium now ends inside the second run's read-ahead window and
  // inside the third run.
  ASSERT_EQ(::truncate(image.c_str(), 640 * 1024), 0);
  ASSERT_EQ(backend->Read(buf.data(), buf.size(), done), 0u);
  EXPECT_EQ(std::memcmp(buf.data(), expected.data() + 256 * 1024, buf.size()), 0);
  EXPECT_EQ(backend->Read(buf.data(), buf.size(), done), errc::kSectorNotFound);
  EXPECT_EQ(backend->Position(), 1024u);
}

TEST(LinuxBackend, MissingDeviceAndNonDeviceFailTheOpenWithACode) {
  fixtures::TempDir dir;
  EXPECT_EQ(platform::MakeLinuxBackend(dir.File("absent.img"))->Open(), errc::kNotReady);
  EXPECT_NE(platform::MakeLinuxBackend(dir.path())->Open(), 0u);
  EXPECT_EQ(platform::MakeLinuxBackend("/dev/null")->Open(), errc::kInvalidFunction);
  uint64_t free = 1;
  EXPECT_EQ(platform::MakeLinuxBackend(dir.File("absent.img"))->DeviceSize(), 0u);
  EXPECT_NE(platform::MakeLinuxBackend(dir.File("absent.img"))->FreeSpace(free), 0u);
}

TEST(VolumeInformation, RealFileSystemsGiveTheSystemsNamesAndLabels) {
  const struct {
    fixtures::FileSystem fs;
    uint64_t size;
    const char* name;
  } cases[] = {
      {fixtures::FileSystem::FAT12, 1474560, "FAT"},
      {fixtures::FileSystem::FAT16, 16 << 20, "FAT"},
      {fixtures::FileSystem::FAT32, 40 << 20, "FAT32"},
      {fixtures::FileSystem::NTFS, 8 << 20, "NTFS"},
  };
  fixtures::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(fixtures::Name(c.fs));
    const std::string image = dir.File(std::string(fixtures::Name(c.fs)) + ".img");
    std::string error;
    fixtures::ImageOptions options;
    options.label = "LBL 1";
    ASSERT_TRUE(fixtures::MakeImage(image, c.size, c.fs, options, &error)) << error;
    platform::VolumeInformation info;
    ASSERT_TRUE(platform::MakeLinuxBackend(image)->GetVolumeInformation(info));
    EXPECT_EQ(info.fileSystem, c.name);
    EXPECT_EQ(info.label, "LBL 1");
    uint64_t free = 0;
    EXPECT_EQ(platform::MakeLinuxBackend(image)->FreeSpace(free), errc::kUnrecognizedVolume)
        << "an image that is not mounted has no file system to ask";
  }
  const std::string zero = dir.File("zero.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(zero, 1 << 20));
  platform::VolumeInformation info;
  EXPECT_FALSE(platform::MakeLinuxBackend(zero)->GetVolumeInformation(info));
}

TEST(Mounts, MountInfoFieldsAreParsedAndUnescaped) {
  fixtures::TempDir dir;
  const std::string file = dir.File("mountinfo");
  ASSERT_TRUE(fixtures::WriteFile(
      file,
      "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
      "36 28 8:17 / /media/me/MY\\040STICK rw,nosuid shared:5 master:1 - vfat /dev/sdb1 rw\n"
      "garbage line\n"
      "37 28 8:18 / /mnt/a\\134b rw - ntfs3 /dev/sdb2 rw\n"
      "28 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"));
  const auto mounts = platform::ReadMountInfo(file);
  ASSERT_EQ(mounts.size(), 4u);
  EXPECT_EQ(platform::MountPointOfDevice(makedev(8, 17), mounts), "/media/me/MY STICK");
  EXPECT_EQ(mounts[1].fsType, "vfat");
  EXPECT_EQ(mounts[1].source, "/dev/sdb1");
  EXPECT_EQ(platform::MountPointOfDevice(makedev(8, 18), mounts), "/mnt/a\\b");
  EXPECT_EQ(platform::MountPointOfDevice(makedev(8, 19), mounts), "");
  EXPECT_EQ(platform::RootDevice(mounts), makedev(254, 0));
}

TEST(Mounts, RootWithAnAnonymousDeviceNumberIsFoundByItsSource) {
  // Btrfs shows 0:N for "/"; the node it was mounted from is the system
  // disk. An overlay has no node, and so no device.
  fixtures::TempDir dir;
  const std::string file = dir.File("mountinfo");
  ASSERT_TRUE(fixtures::WriteFile(file, "28 1 0:31 /@ / rw,relatime shared:1 - btrfs /dev/null rw\n"));
  // /dev/null is a character device, not a disk: no root device.
  EXPECT_EQ(platform::RootDevice(platform::ReadMountInfo(file)), 0u);
  ASSERT_TRUE(fixtures::WriteFile(file, "28 1 0:31 / / rw - overlay overlay rw,lowerdir=/a\n"));
  EXPECT_EQ(platform::RootDevice(platform::ReadMountInfo(file)), 0u);
}

TEST(LoopDevice, BtrfsRootIsTheDeviceItWasMountedFrom) {
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(image, 8 << 20));
  auto attach = fixtures::LoopDevice::AttachImage(image, false);
  NFX_REQUIRE_LOOP(attach);
  const std::string node = attach.device->node();
  struct stat st {};
  ASSERT_EQ(::stat(node.c_str(), &st), 0);
  // A btrfs root on our own loop device: its device is the loop device.
  const std::string file = dir.File("mountinfo");
  ASSERT_TRUE(fixtures::WriteFile(file, "28 1 0:31 /@ / rw - btrfs " + node + " rw\n"));
  EXPECT_EQ(platform::RootDevice(platform::ReadMountInfo(file)), st.st_rdev);
  EXPECT_TRUE(platform::DevicesBeneath(st.st_rdev).empty());
}

TEST(LoopDevice, DeviceMapperVolumeListsTheDeviceItIsBuiltOn) {
  // As LVM or dm-crypt build one under a root file system.
  if (!fixtures::ToolAvailable("dmsetup")) GTEST_SKIP() << "dmsetup is not installed";
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(image, 8 << 20));
  auto attach = fixtures::LoopDevice::AttachImage(image, false);
  NFX_REQUIRE_LOOP(attach);
  const std::string node = attach.device->node();
  struct stat st {};
  ASSERT_EQ(::stat(node.c_str(), &st), 0);
  const std::string name = "nfx-test-" + std::to_string(::getpid());
  const auto created =
      fixtures::RunTool({"dmsetup", "create", name, "--table", "0 16384 linear " + node + " 0"});
  if (!created.ok()) GTEST_SKIP() << "no device mapper here: " << created.output;
  struct stat mapped {};
  const bool found = ::stat(("/dev/mapper/" + name).c_str(), &mapped) == 0;
  const std::vector<dev_t> beneath = found ? platform::DevicesBeneath(mapped.st_rdev) : std::vector<dev_t>{};
  EXPECT_TRUE(fixtures::RunTool({"dmsetup", "remove", name}).ok());
  ASSERT_TRUE(found);
  EXPECT_EQ(beneath, std::vector<dev_t>{st.st_rdev});
}

TEST(LoopDevice, ReadOnlyLoopDeviceRefusesWritesWith19) {
  fixtures::TempDir dir;
  const std::string image = dir.File("floppy.img");
  ASSERT_TRUE(fixtures::MakeFloppy(image, "LOOPED"));
  auto attach = fixtures::LoopDevice::AttachImage(image, true);
  NFX_REQUIRE_LOOP(attach);
  const std::string node = attach.device->node();

  CDriveController drive([node](char) { return platform::MakeLinuxBackend(node); });
  ASSERT_TRUE(drive.OpenDrive('a')) << drive.GetLastErrorCode();
  EXPECT_EQ(drive.GetFileSystemType(), FS_FAT12);
  EXPECT_EQ(drive.GetDriveSizeBytes('a'), 1474560u);
  EXPECT_EQ(drive.GetLastSector(), 2879u);
  platform::AlignedBuffer buf(4 * 512);
  uint32_t n = 0;
  ASSERT_TRUE(drive.ReadSectors(buf.data(), 4 * 512, n));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data()), 512), fixtures::ReadBytes(image, 0, 512));
  drive.SetRetryPause(std::chrono::milliseconds(0));
  EXPECT_FALSE(drive.WriteSectors(buf.data(), 4 * 512, n));
  EXPECT_EQ(drive.GetLastErrorCode(), errc::kWriteProtect);
  EXPECT_EQ(drive.GetPosition(), 4u);
  ASSERT_EQ(platform::MountPointOf(image), "") << "attached, not mounted";
  platform::VolumeInformation info;
  ASSERT_TRUE(platform::MakeLinuxBackend(node)->GetVolumeInformation(info));
  EXPECT_EQ(info.label, "LOOPED");
}

TEST(LoopDevice, DeviceThatLosesItsMediumGivesAnErrorNotAHang) {
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(image, 4 << 20));
  auto attach = fixtures::LoopDevice::AttachImage(image, false);
  NFX_REQUIRE_LOOP(attach);
  const std::string node = attach.device->node();
  auto backend = platform::MakeLinuxBackend(node);
  ASSERT_EQ(backend->Open(), 0u);
  platform::AlignedBuffer buf(64 * 512);
  uint32_t done = 0;
  ASSERT_EQ(backend->Read(buf.data(), 64 * 512, done), 0u);
  // The backing file shrinks to nothing and the loop device is told so:
  // the medium under the open handle is gone.
  ASSERT_EQ(::truncate(image.c_str(), 0), 0);
  ASSERT_TRUE(fixtures::RunTool({"losetup", "-c", node}).ok());
  EXPECT_NE(backend->Read(buf.data(), 64 * 512, done), 0u);
  EXPECT_NE(backend->Write(buf.data(), 64 * 512, done), 0u);
  EXPECT_EQ(backend->DeviceSize(), 0u);
  EXPECT_NE(backend->ReadAt(100, buf.data(), 1), 0u);
}

TEST(LoopDevice, MountedVolumeReportsItsFreeSpaceFromItsMountPoint) {
  if (!fixtures::ToolAvailable("mkfs.ext4")) GTEST_SKIP() << "mkfs.ext4 is not installed";
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(image, 16 << 20));
  ASSERT_TRUE(fixtures::RunTool({"mkfs.ext4", "-q", "-F", image}).ok());
  auto attach = fixtures::LoopDevice::AttachImage(image, false);
  NFX_REQUIRE_LOOP(attach);
  const std::string node = attach.device->node();
  const std::string mountPoint = dir.File("mnt");
  ASSERT_EQ(::mkdir(mountPoint.c_str(), 0755), 0);
  const auto mounted = fixtures::RunTool({"mount", node, mountPoint});
  if (!mounted.ok()) GTEST_SKIP() << "cannot mount here: " << mounted.output;
  struct Unmount {
    std::string at;
    ~Unmount() { (void)fixtures::RunTool({"umount", at}); }
  } unmount{mountPoint};

  struct statvfs vfs {};
  ASSERT_EQ(::statvfs(mountPoint.c_str(), &vfs), 0);
  const uint64_t expected = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  EXPECT_EQ(platform::MountPointOf(node), mountPoint);
  EXPECT_EQ(platform::MountPointOf(image), mountPoint) << "an image is found through its loop device";
  for (const std::string& path : {node, image}) {
    uint64_t free = 0;
    EXPECT_EQ(platform::MakeLinuxBackend(path)->FreeSpace(free), 0u) << path;
    EXPECT_EQ(free, expected) << path;
  }
}

// Root's way to a mounted stick: the wipe's unmount takes the file system
// away and then holds the device exclusively, so nothing mounts it again
// while the passes run; a volume in use stops it with 20003, still mounted.
TEST(LoopDevice, UnmountTakesTheFileSystemAwayAndHoldsTheDeviceUntilClosed) {
  fixtures::TempDir dir;
  const std::string image = dir.File("stick.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(image, 8 << 20));
  ASSERT_TRUE(fixtures::RunTool({"mkfs.ext2", "-q", "-F", image}).ok());
  auto attach = fixtures::LoopDevice::AttachImage(image, false);
  NFX_REQUIRE_LOOP(attach);
  const std::string node = attach.device->node();
  const std::string mountPoint = dir.File("media");
  ASSERT_EQ(::mkdir(mountPoint.c_str(), 0755), 0);
  const auto mounted = fixtures::RunTool({"mount", node, mountPoint});
  ASSERT_TRUE(mounted.ok()) << mounted.output;
  struct Unmount {
    std::string at;
    ~Unmount() { (void)::umount2(at.c_str(), MNT_DETACH); }
  } unmount{mountPoint};

  auto backend = platform::MakeLinuxBackend(node);
  ASSERT_EQ(backend->Open(), 0u);
  {
    const int held = ::open((mountPoint + "/lost+found").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);  // anything open on the volume keeps it busy
    EXPECT_EQ(backend->Unmount(), WIPE_ERR_FORMAT_FAILED);
    ::close(held);
  }
  EXPECT_EQ(platform::MountPointOf(node), mountPoint);

  ASSERT_EQ(backend->Unmount(), 0u);
  EXPECT_EQ(platform::MountPointOf(node), "");
  const int claim = ::open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  EXPECT_EQ(claim, -1);
  EXPECT_EQ(errno, EBUSY);
  if (claim >= 0) ::close(claim);
  EXPECT_FALSE(fixtures::RunTool({"mount", node, mountPoint}).ok()) << "mounted again under the wipe";
  EXPECT_EQ(platform::MountPointOf(node), "");
  // The held descriptor is the one the transfers use.
  platform::AlignedBuffer buf(8 * 512);
  std::memset(buf.data(), 0x5a, 8 * 512);
  uint32_t done = 0;
  ASSERT_EQ(backend->Write(buf.data(), 8 * 512, done), 0u);
  ASSERT_EQ(backend->Flush(), 0u);
  EXPECT_EQ(fixtures::FirstByteNotEqual(image, 0, 8 * 512, 0x5a), -1);

  backend->Close();
  const int after = ::open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  EXPECT_GE(after, 0) << "still held after Close: " << std::strerror(errno);
  if (after >= 0) ::close(after);
}

}  // namespace
