// The drive-changed notification: a udev change event for a block device,
// nothing for an image file or a path that names nothing.
#include <gtest/gtest.h>

#include "platform/ShellNotify.h"
#include "tests/fixtures/Fixtures.h"

namespace {

TEST(ShellNotify, OnlyBlockDevicesGetAChangeEvent) {
  fixtures::TempDir dir;
  const std::string image = dir.File("n.img");
  ASSERT_TRUE(fixtures::MakeFloppy(image));
  EXPECT_FALSE(platform::NotifyDeviceChanged(image));
  EXPECT_FALSE(platform::NotifyDeviceChanged(dir.File("missing")));
  EXPECT_FALSE(platform::NotifyDeviceChanged(""));
  {
    fixtures::DriveMap map({{'N', "removable", image}});
    EXPECT_FALSE(platform::NotifyDriveChanged('n'));
  }

  auto attach = fixtures::LoopDevice::AttachImage(image, true);
  NFX_REQUIRE_LOOP(attach);
  EXPECT_TRUE(platform::NotifyDeviceChanged(attach.device->node()));
  fixtures::DriveMap map({{'N', "removable", attach.device->node()}});
  EXPECT_TRUE(platform::NotifyDriveChanged('N'));
}

}  // namespace
