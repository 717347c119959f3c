// The demo drive the README's run command makes: once, in the user's data
// folder, mapped as A:, and never over a user's own A: line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "tests/fixtures/Fixtures.h"

namespace {

fixtures::ToolResult MakeDemo(const std::string& config, const std::string& data) {
  const char* src = std::getenv("NFX_SOURCE_DIR");
  return fixtures::RunTool({"env", "XDG_CONFIG_HOME=" + config, "XDG_DATA_HOME=" + data,
                            std::string(src ? src : ".") + "/scripts/make-demo.sh"});
}

int64_t ModifiedNs(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

TEST(Demo, FloppyIsMadeOnceWithRealFilesAndMappedAsA) {
  fixtures::TempDir dir;
  const std::string config = dir.File("config"), data = dir.File("data");
  const auto first = MakeDemo(config, data);
  ASSERT_TRUE(first.ok()) << first.output;
  const std::string image = data + "/Nullifex/demo-floppy.img";
  const std::string map = config + "/Ostrand/drives.conf";
  const auto listing = fixtures::RunTool({"env", "MTOOLS_SKIP_CHECK=1", "mdir", "-b", "-i", image, "::"});
  ASSERT_TRUE(listing.ok()) << listing.output;
  EXPECT_NE(listing.output.find("README.TXT"), std::string::npos) << listing.output;
  EXPECT_NE(listing.output.find("ABOUT.TXT"), std::string::npos) << listing.output;
  EXPECT_TRUE(fixtures::RunTool({"fsck.fat", "-n", image}).ok());
  const std::string mapText = fixtures::ReadBytes(map, 0, 4096);
  EXPECT_NE(mapText.find("A: removable " + image + "\n"), std::string::npos) << mapText;

  const int64_t made = ModifiedNs(image);
  const auto second = MakeDemo(config, data);
  ASSERT_TRUE(second.ok()) << second.output;
  EXPECT_EQ(ModifiedNs(image), made) << "the image is made once";
  EXPECT_EQ(fixtures::ReadBytes(map, 0, 4096), mapText) << "the map is not touched again";
}

TEST(Demo, UsersOwnALineIsKept) {
  fixtures::TempDir dir;
  const std::string config = dir.File("config"), data = dir.File("data");
  ASSERT_EQ(::mkdir(config.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((config + "/Ostrand").c_str(), 0755), 0);
  const std::string own = "E: fixed /srv/disk.img\na: fixed /srv/mine.img";  // no final newline
  ASSERT_TRUE(fixtures::WriteFile(config + "/Ostrand/drives.conf", own));
  const auto r = MakeDemo(config, data);
  ASSERT_TRUE(r.ok()) << r.output;
  EXPECT_EQ(fixtures::ReadBytes(config + "/Ostrand/drives.conf", 0, 4096), own);
  EXPECT_NE(r.output.find("A: is already mapped"), std::string::npos) << r.output;
}

TEST(Demo, MapWithoutALetterAGainsALineOfItsOwn) {
  fixtures::TempDir dir;
  const std::string config = dir.File("config"), data = dir.File("data");
  ASSERT_EQ(::mkdir(config.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((config + "/Ostrand").c_str(), 0755), 0);
  ASSERT_TRUE(fixtures::WriteFile(config + "/Ostrand/drives.conf", "E: fixed /srv/disk.img"));
  ASSERT_TRUE(MakeDemo(config, data).ok());
  EXPECT_EQ(fixtures::ReadBytes(config + "/Ostrand/drives.conf", 0, 4096),
            "E: fixed /srv/disk.img\nA: removable " + data + "/Nullifex/demo-floppy.img\n");
}

}  // namespace
