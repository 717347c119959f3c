// The real formatter on real images: each kind with its label, progress from
// mkntfs's full format, failures reported as failures.
#include <gtest/gtest.h>

#include "drive/CDriveController.h"
#include "platform/Formatter.h"
#include "tests/fixtures/Fixtures.h"

namespace {

struct Recorded : platform::FormatObserver {
  bool Percent(uint32_t p) override {
    percents.push_back(p);
    return true;
  }
  bool Text(const std::string& line) override {
    output += line + "\n";
    return true;
  }
  void Done(bool ok) override {
    ++doneCalls;
    success = ok;
  }
  std::vector<uint32_t> percents;
  std::string output;
  int doneCalls = 0;
  bool success = false;
};

TEST(MkfsFormatter, MakesEachFileSystemWithItsLabelOnAnImage) {
  struct Case {
    platform::FormatKind kind;
    uint64_t size;
    bool quick;
    const char* label;
    uint8_t type;
    const char* shownLabel;
  };
  using K = platform::FormatKind;
  for (const Case c : {Case{K::kFat12, 1474560, true, "floppy", FS_FAT12, "FLOPPY"},
                       Case{K::kFat16, 6ull << 20, true, "a.b*c", FS_FAT16, "A_B_C"},
                       Case{K::kFat32, 40ull << 20, false, "CLEANED", FS_FAT32, "CLEANED"},
                       Case{K::kNtfs, 4ull << 20, true, "Mixed Case", FS_NTFS, "Mixed Case"},
                       Case{K::kNtfs, 4ull << 20, false, "", FS_NTFS, ""}}) {
    SCOPED_TRACE(c.label);
    fixtures::TempDir dir;
    const std::string image = dir.File("x.img");
    ASSERT_TRUE(fixtures::MakeZeroImage(image, c.size));
    fixtures::DriveMap map({{'X', "fixed", image}});
    platform::FormatRequest request;
    request.devicePath = image;
    request.kind = c.kind;
    request.label = c.label;
    request.quick = c.quick;
    Recorded r;
    platform::CurrentFormatter().Format(request, r);
    EXPECT_TRUE(r.success) << r.output;
    EXPECT_EQ(r.doneCalls, 1);
    EXPECT_FALSE(r.output.empty());

    CDriveController drive;
    ASSERT_TRUE(drive.OpenDrive('x')) << drive.GetLastErrorCode();
    EXPECT_EQ(drive.GetFileSystemType(), c.type);
    char label[64] = {};
    CDriveController::GetVolumeLabel('x', label, sizeof label);
    EXPECT_EQ(std::string(label), c.shownLabel);
    if (c.kind == K::kNtfs && !c.quick) {
      // mkntfs zeroes the volume first and says how far it is.
      ASSERT_FALSE(r.percents.empty());
      EXPECT_EQ(r.percents.back(), 100u);
      EXPECT_TRUE(std::is_sorted(r.percents.begin(), r.percents.end()));
    }
  }
}

TEST(MkfsFormatter, FailuresEndInAFailedDone) {
  fixtures::TempDir dir;
  const std::string tiny = dir.File("tiny.img");
  ASSERT_TRUE(fixtures::MakeZeroImage(tiny, 512 * 1024));  // below NTFS's 1 MiB
  struct Case {
    std::string path;
    platform::FormatKind kind;
  };
  for (const Case& c : {Case{tiny, platform::FormatKind::kNtfs}, Case{dir.File("missing.img"), platform::FormatKind::kFat16},
                        Case{"", platform::FormatKind::kFat12}}) {
    SCOPED_TRACE(c.path);
    platform::FormatRequest request;
    request.devicePath = c.path;
    request.kind = c.kind;
    request.label = "X";
    Recorded r;
    platform::CurrentFormatter().Format(request, r);
    EXPECT_EQ(r.doneCalls, 1);
    EXPECT_FALSE(r.success);
    EXPECT_FALSE(r.output.empty());
  }
}

TEST(MkfsFormatter, LabelsAreMadeToFit) {
  using K = platform::FormatKind;
  struct Case {
    K kind;
    std::string in, out;
  };
  for (const Case& c : {Case{K::kFat16, "cleaned", "CLEANED"}, Case{K::kFat32, "ABCDEFGHIJKLMNOP", "ABCDEFGHIJK"},
                        Case{K::kFat12, "a*b?c.d\"e|f", "A_B_C_D_E_F"}, Case{K::kFat12, "tab\there", "TAB_HERE"},
                        Case{K::kNtfs, "Keep.Case", "Keep.Case"}, Case{K::kNtfs, "caf\xE9", "caf_"},
                        Case{K::kNtfs, "-L", "-L"}, Case{K::kFat32, "", ""}}) {
    EXPECT_EQ(platform::FitLabel(c.kind, c.in), c.out) << c.in;
  }
}

}  // namespace
