// The verification's promise on real volumes: a drive overwritten with any
// level's last pattern and then freshly formatted by the platform's
// formatters is 100% clean, full and quick; the same volume holding real
// files is dirty where the files' data lies.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "NtfsMount.h"
#include "VerifyHarness.h"
#include "Volumes.h"
#include "drive/NtfsCluster.h"
#include "platform/linux/LinuxBackend.h"
#include "tests/fixtures/Fixtures.h"

namespace {

using fixtures::FileSystem;
using verifytest::RunOptions;
using verifytest::RunResult;
using verifytest::RunVerify;
using verifytest::Format;
using verifytest::SizeFor;
using verifytest::WriteLastPass;

struct Case {
  FileSystem fs;
  int level;
  uint64_t size = 0;  // 0: the usual size of the file system's test volume
};

std::string CaseText(const Case& c) {
  return std::string(fixtures::Name(c.fs)) + "_level" + std::to_string(c.level) +
         (c.size ? "_" + std::to_string(c.size >> 20) + "MiB" : "");
}
std::string CaseName(const testing::TestParamInfo<Case>& info) { return CaseText(info.param); }
// A failure names the case, not its bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << CaseText(c); }

class WipedAndFormatted : public testing::TestWithParam<Case> {};

TEST_P(WipedAndFormatted, IsCleanFullAndQuick) {
  const Case c = GetParam();
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  ASSERT_TRUE(WriteLastPass(image, c.size ? c.size : SizeFor(c.fs), c.level));
  const auto formatted = Format(image, c.fs);
  ASSERT_TRUE(formatted.ok()) << formatted.output;
  for (bool quick : {false, true}) {
    auto disk = verifytest::LoadImage(image);
    ASSERT_TRUE(disk && disk->SectorCount() > 0);
    RunOptions options;
    options.quick = quick;
    const RunResult r = RunVerify(disk, options);
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.fsType, fixtures::Name(c.fs)) << (quick ? "quick" : "full");
    EXPECT_EQ(r.dirtyCount, 0u) << (quick ? "quick" : "full");
    EXPECT_EQ(r.errorCount, 0u) << (quick ? "quick" : "full");
    EXPECT_GE(r.lastProgress, 100) << (quick ? "quick" : "full");
    EXPECT_FALSE(r.cancelled);
    ASSERT_TRUE(r.dirty);
    if (r.dirty->DirtyCount() != 0) {
      const uint64_t first = r.dirty->FindFirst();
      ADD_FAILURE() << "first dirty unit " << first << (r.dirty->UnitsAreSectors() ? " (sector)" : " (cluster)");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLevel, WipedAndFormatted,
                         testing::Values(Case{FileSystem::FAT12, 1}, Case{FileSystem::FAT12, 3},
                                         Case{FileSystem::FAT12, 7}, Case{FileSystem::FAT12, 12},
                                         Case{FileSystem::FAT16, 1}, Case{FileSystem::FAT16, 3},
                                         Case{FileSystem::FAT16, 12}, Case{FileSystem::FAT32, 1},
                                         Case{FileSystem::FAT32, 3}, Case{FileSystem::FAT32, 12},
                                         // below 32 MiB the sector count sits in the 16-bit field
                                         Case{FileSystem::FAT32, 3, 16ull << 20},
                                         Case{FileSystem::NTFS, 1}, Case{FileSystem::NTFS, 3},
                                         Case{FileSystem::NTFS, 7}, Case{FileSystem::NTFS, 12}),
                         CaseName);

}  // namespace

namespace {

// Where a host file's bytes lie on the image: the sectors of every 512-byte
// block of the file found in the image (fresh volumes do not fragment it).
std::vector<uint64_t> SectorsHolding(const std::string& image, const std::string& content) {
  std::ifstream in(image, std::ios::binary);
  const std::string disk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<uint64_t> sectors;
  for (size_t at = 0; at + 512 <= content.size(); at += 512) {
    const size_t found = disk.find(content.substr(at, 512));
    if (found == std::string::npos || found % 512 != 0) return {};
    sectors.push_back(found / 512);
  }
  return sectors;
}

std::string RandomText(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>('A' + rng() % 26);
  return s;
}

uint32_t SectorsPerClusterOf(const std::string& image) {
  const std::string boot = fixtures::ReadBytes(image, 0, 512);
  return static_cast<uint8_t>(boot[13]);
}

class HoldingFiles : public testing::TestWithParam<FileSystem> {};

TEST_P(HoldingFiles, IsDirtyWhereTheFileLies) {
  const FileSystem fs = GetParam();
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  std::string error;
  ASSERT_TRUE(verifytest::MakeWipedVolume(image, fs, 3, &error)) << error;
  // 700 sectors: more than one quick-mode stride of 640.
  const std::string content = RandomText(700 * 512, 42);
  const std::string host = dir.File("REPORT.TXT");
  ASSERT_TRUE(fixtures::WriteFile(host, content));
  ASSERT_TRUE(fixtures::CopyIn(image, fs, host, "REPORT.TXT", &error)) << error;
  const std::vector<uint64_t> fileSectors = SectorsHolding(image, content);
  ASSERT_EQ(fileSectors.size(), 700u);
  const uint32_t spc = SectorsPerClusterOf(image);

  const RunResult full = RunVerify(verifytest::LoadImage(image));
  EXPECT_GT(full.dirtyCount, 0u);
  EXPECT_EQ(full.errorCount, 0u);
  for (uint64_t s : fileSectors) {
    ASSERT_TRUE(full.SectorDirty(s, spc)) << "file sector " << s << " judged clean";
  }
  RunOptions quick;
  quick.quick = true;
  EXPECT_GT(RunVerify(verifytest::LoadImage(image), quick).dirtyCount, 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryFileSystem, HoldingFiles,
                         testing::Values(FileSystem::FAT12, FileSystem::FAT16, FileSystem::FAT32, FileSystem::NTFS),
                         [](const testing::TestParamInfo<FileSystem>& i) { return fixtures::Name(i.param); });

TEST(DeletedFile, LeavesTheVolumeDirty) {
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  std::string error;
  ASSERT_TRUE(verifytest::MakeWipedVolume(image, FileSystem::FAT12, 1, &error)) << error;
  const std::string content = RandomText(64 * 512, 7);
  const std::string host = dir.File("SECRET.TXT");
  ASSERT_TRUE(fixtures::WriteFile(host, content));
  ASSERT_TRUE(fixtures::CopyIn(image, FileSystem::FAT12, host, "SECRET.TXT", &error)) << error;
  const auto deleted = fixtures::RunTool({"mdel", "-i", image, "::SECRET.TXT"});
  ASSERT_TRUE(deleted.ok()) << deleted.output;
  const std::vector<uint64_t> fileSectors = SectorsHolding(image, content);
  ASSERT_EQ(fileSectors.size(), 64u);

  const RunResult r = RunVerify(verifytest::LoadImage(image));
  // The data sectors and the root folder's sector holding the deleted
  // entry beside the volume label.
  EXPECT_GE(r.dirtyCount, 65u);
  for (uint64_t s : fileSectors) EXPECT_TRUE(r.SectorDirty(s, 1)) << s;
}

}  // namespace

namespace {

// The image file itself as the drive, read-only: the large layouts need not
// be held in memory.
CDriveController::BackendFactory ImageFactory(const std::string& image) {
  return [image](char) {
    platform::LinuxBackendOptions options;
    options.readOnly = true;
    return platform::MakeLinuxBackend(image, options);
  };
}

// Layouts the real formatters make when asked: each fresh volume, on a
// medium a wipe of each level left, is 100% clean, full and quick.
struct LayoutCase {
  const char* name;
  FileSystem fs;
  uint64_t size;
  std::vector<std::string> args;  // the formatter's layout options
  bool everyLevel;                 // false: a sparse zero image only (too large to fill)
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class FreshLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(FreshLayout, IsCleanAtEveryLevelFullAndQuick) {
  const LayoutCase c = GetParam();
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  const std::vector<int> levels = c.everyLevel ? std::vector<int>{1, 3, 12} : std::vector<int>{0};
  for (int level : levels) {
    SCOPED_TRACE("level " + std::to_string(level));
    ASSERT_TRUE(level == 0 ? fixtures::MakeZeroImage(image, c.size) : verifytest::WriteLastPass(image, c.size, level));
    std::vector<std::string> argv;
    if (c.fs == FileSystem::NTFS) {
      argv = {"mkntfs", "-F", "-Q", "-q", "-L", "CLEANED"};
    } else {
      argv = {"mkfs.fat", "-I", "-n", "CLEANED", "-F",
              c.fs == FileSystem::FAT12 ? "12" : c.fs == FileSystem::FAT16 ? "16" : "32"};
    }
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.push_back(image);
    const auto formatted = fixtures::RunTool(argv);
    ASSERT_TRUE(formatted.ok()) << formatted.output;
    for (bool quick : {false, true}) {
      RunOptions options;
      options.quick = quick;
      const RunResult r = RunVerify(ImageFactory(image), options);
      ASSERT_TRUE(r.opened);
      const char* mode = quick ? "quick" : "full";
      EXPECT_EQ(r.fsType, fixtures::Name(c.fs)) << mode;
      EXPECT_EQ(r.dirtyCount, 0u) << mode;
      EXPECT_EQ(r.errorCount, 0u) << mode;
      EXPECT_GE(r.lastProgress, 100) << mode;
      if (r.dirty && r.dirty->DirtyCount() != 0) ADD_FAILURE() << mode << ": first dirty unit " << r.dirty->FindFirst();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealFormatters, FreshLayout,
    testing::Values(LayoutCase{"FAT12_16MiB", FileSystem::FAT12, 16ull << 20, {}, true},
                    LayoutCase{"FAT12_4096ByteSectors", FileSystem::FAT12, 8ull << 20, {"-S", "4096"}, true},
                    LayoutCase{"FAT12_OneFat", FileSystem::FAT12, 4ull << 20, {"-f", "1"}, true},
                    LayoutCase{"FAT16_1024ByteSectors", FileSystem::FAT16, 20ull << 20, {"-S", "1024", "-s", "1"}, true},
                    LayoutCase{"FAT16_2048ByteSectors", FileSystem::FAT16, 20ull << 20, {"-S", "2048", "-s", "1"}, true},
                    LayoutCase{"FAT16_4096ByteSectors", FileSystem::FAT16, 20ull << 20, {"-S", "4096", "-s", "1"}, true},
                    LayoutCase{"FAT16_OneFat", FileSystem::FAT16, 20ull << 20, {"-f", "1", "-s", "1"}, true},
                    LayoutCase{"FAT32_4096ByteSectors", FileSystem::FAT32, 40ull << 20, {"-S", "4096"}, true},
                    LayoutCase{"FAT32_OneFat", FileSystem::FAT32, 40ull << 20, {"-f", "1"}, true},
                    LayoutCase{"NTFS_64KiBClusters", FileSystem::NTFS, 64ull << 20, {"-c", "65536"}, true},
                    LayoutCase{"NTFS_2MiBClusters", FileSystem::NTFS, 1ull << 30, {"-c", "2097152"}, false}),
    [](const testing::TestParamInfo<LayoutCase>& i) { return std::string(i.param.name); });

// What a file leaves behind, made with the real tools; whatever it is, the
// volume is dirty, and every place on it where the file's name or text
// still lies is in a dirty unit.
constexpr const char kSecret[] = "SECRETXY";
// The part of the secret a deleted FAT entry keeps (its first byte becomes
// 0xE5).
constexpr const char kSecretTail[] = "ECRETXY";

// Sectors holding the tail of the secret, as ASCII or as UTF-16LE.
std::vector<uint64_t> SectorsNaming(const std::string& image) {
  const std::string disk = fixtures::ReadFile(image);
  std::string wide;
  for (const char* p = kSecretTail; *p; ++p) wide += std::string{*p, '\0'};
  std::vector<uint64_t> sectors;
  for (const std::string& needle : {std::string(kSecretTail), wide}) {
    for (size_t at = disk.find(needle); at != std::string::npos; at = disk.find(needle, at + 1)) {
      sectors.push_back(at / 512);
      sectors.push_back((at + needle.size() - 1) / 512);
    }
  }
  return sectors;
}

uint32_t UnitSectors(const std::string& image, FileSystem fs) {
  if (fs != FileSystem::NTFS) return 1;
  const std::string boot = fixtures::ReadBytes(image, 0, 512);
  const uint32_t bps = static_cast<uint8_t>(boot[11]) | static_cast<uint8_t>(boot[12]) << 8;
  return bps / 512 * NtfsClusterSectors(static_cast<uint8_t>(boot[13]));
}

bool Mtools(const std::vector<std::string>& argv, std::string& error) {
  const auto r = fixtures::RunTool(argv);
  if (!r.ok()) error += r.output;
  return r.ok();
}

// A FAT file's data put back to what the wipe left (its clusters blank),
// found by its content.
bool BlankData(const std::string& image, const std::string& content, int level, const fixtures::TempDir& dir) {
  const std::string disk = fixtures::ReadFile(image);
  const std::string residue = dir.File("residue.img");
  if (!verifytest::WriteLastPass(residue, disk.size(), level)) return false;
  const size_t at = disk.find(content);
  if (at == std::string::npos) return false;
  const std::string blank = fixtures::ReadBytes(residue, at, content.size());
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(at));
  f.write(blank.data(), static_cast<std::streamsize>(blank.size()));
  return static_cast<bool>(f);
}

// Puts the leftover on the wiped and formatted image; `where` gets sectors
// that hold it which the secret's text does not show (a long name's
// characters are split between the fields of its entries).
using Leave = std::function<bool(const std::string& image, const fixtures::TempDir& dir, std::string& error,
                                 std::vector<uint64_t>& where)>;
struct LeftoverCase {
  const char* name;
  FileSystem fs;
  int level;
  Leave leave;
  // Quick mode samples the data area: false when the secret lies there.
  bool quickSeesAll = true;
};
void PrintTo(const LeftoverCase& c, std::ostream* os) { *os << c.name; }

// The sector of the 32-byte directory entry whose name is `name11` (8 + 3,
// space-padded), or -1.
int64_t EntrySector(const std::string& image, const std::string& name11) {
  const std::string disk = fixtures::ReadFile(image);
  for (size_t at = disk.find(name11); at != std::string::npos; at = disk.find(name11, at + 1)) {
    if (at % 32 == 0) return static_cast<int64_t>(at / 512);
  }
  return -1;
}

// On NTFS through ntfs-3g: `act` works on the mounted folder.
bool OnNtfs(const std::string& image, const fixtures::TempDir& dir, std::string& error,
            const std::function<void(const std::string& root)>& act) {
  const std::string mountPoint = dir.File("mnt");
  std::filesystem::create_directories(mountPoint);
  verifytest::NtfsMount mount(image, mountPoint);
  if (!mount.Mounted()) {
    error = mount.Error();
    return false;
  }
  act(mountPoint);
  if (!mount.Unmount()) {
    error = "ntfs-3g did not end cleanly";
    return false;
  }
  return true;
}

void Write(const std::string& path, const std::string& text) { (void)fixtures::WriteFile(path, text); }

const std::string kHello(2048, 'h');

class Leftover : public testing::TestWithParam<LeftoverCase> {};

TEST_P(Leftover, IsDirtyWhereItLies) {
  const LeftoverCase c = GetParam();
  fixtures::TempDir dir;
  const std::string image = dir.File("disk.img");
  std::string error;
  ASSERT_TRUE(verifytest::MakeWipedVolume(image, c.fs, c.level, &error)) << error;
  std::vector<uint64_t> where;
  ASSERT_TRUE(c.leave(image, dir, error, where)) << error;
  const std::vector<uint64_t> naming = SectorsNaming(image);
  ASSERT_FALSE(naming.empty() && where.empty()) << "no place found that holds the leftover";
  const uint32_t unit = UnitSectors(image, c.fs);
  for (bool quick : {false, true}) {
    RunOptions options;
    options.quick = quick;
    const RunResult r = RunVerify(verifytest::LoadImage(image), options);
    const char* mode = quick ? "quick" : "full";
    EXPECT_GT(r.dirtyCount, 0u) << mode;
    EXPECT_EQ(r.errorCount, 0u) << mode;
    for (uint64_t s : where) EXPECT_TRUE(r.SectorDirty(s, unit)) << mode << ": sector " << s << " holds the leftover";
    if (quick && !c.quickSeesAll) continue;
    for (uint64_t s : naming) EXPECT_TRUE(r.SectorDirty(s, unit)) << mode << ": sector " << s << " names the file";
  }
}

const std::string kSecretName = std::string(kSecret) + ".TXT";

// A file deleted with its clusters put back to what the wipe of `level`
// left: only its entry remains. A long name leaves its long-name entries
// (UTF-16, split over their fields) before the short one, all marked 0xE5.
Leave DeletedEntryBlankClusters(int level, std::string name = kSecretName) {
  return [level, name](const std::string& image, const fixtures::TempDir& dir, std::string& error,
                       std::vector<uint64_t>& where) {
    const std::string host = dir.File("h");
    Write(host, kHello);
    if (!Mtools({"mcopy", "-i", image, host, "::" + name}, error) || !Mtools({"mdel", "-i", image, "::" + name}, error) ||
        !BlankData(image, kHello, level, dir)) {
      return false;
    }
    if (name == kSecretName) return true;
    // The deleted short entry ("\xE5LONGN~1TXT") and the long-name entry
    // just before it.
    const std::string disk = fixtures::ReadFile(image);
    for (size_t at = disk.find("LONGN~1TXT"); at != std::string::npos; at = disk.find("LONGN~1TXT", at + 1)) {
      if (at % 32 == 1 && static_cast<uint8_t>(disk[at - 1]) == 0xE5 && static_cast<uint8_t>(disk[at - 33]) == 0xE5) {
        where.push_back((at - 1) / 512);
        where.push_back((at - 33) / 512);
        return true;
      }
    }
    error = "the deleted long-named entry was not found";
    return false;
  };
}

INSTANTIATE_TEST_SUITE_P(
    RealTools, Leftover,
    testing::Values(
        LeftoverCase{"FAT12_DeletedEntryBlankClusters", FileSystem::FAT12, 1, DeletedEntryBlankClusters(1)},
        LeftoverCase{"FAT32_DeletedEntryBlankClusters", FileSystem::FAT32, 12, DeletedEntryBlankClusters(12)},
        LeftoverCase{"FAT16_DeletedLongNamedFileBlankClusters", FileSystem::FAT16, 3,
                     DeletedEntryBlankClusters(3, "A long name " + std::string(kSecret) + ".txt")},
        LeftoverCase{"FAT16_EmptyFileNamedTheSecret", FileSystem::FAT16, 12,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>&) {
                       const std::string host = dir.File("empty");
                       Write(host, "");
                       return Mtools({"mcopy", "-i", image, host, "::" + kSecretName}, error);
                     }},
        LeftoverCase{"FAT32_LongNameAlone", FileSystem::FAT32, 3,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>& where) {
                       const std::string host = dir.File("empty");
                       Write(host, "");
                       if (!Mtools({"mcopy", "-i", image, host, "::A long name " + std::string(kSecret) + ".txt"},
                                   error)) {
                         return false;
                       }
                       // The short entry goes; the long-name entries before it stay.
                       const int64_t sector = EntrySector(image, "ALONGN~1TXT");
                       if (sector < 0) return false;
                       const std::string disk = fixtures::ReadFile(image);
                       const size_t at = disk.find("ALONGN~1TXT", static_cast<size_t>(sector) * 512);
                       where.push_back(static_cast<uint64_t>(sector));
                       where.push_back((at - 32) / 512);
                       std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
                       f.seekp(static_cast<std::streamoff>(at));
                       f.write(std::string(32, '\0').data(), 32);
                       return static_cast<bool>(f);
                     }},
        // 512-byte clusters: the label and 31 entries fill the root folder's
        // first two clusters, so the secret's entry lies in the third cluster
        // of its chain, in the data area, away from quick mode's samples.
        LeftoverCase{"FAT32_EntryDownTheRootFoldersChain", FileSystem::FAT32, 1,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error,
                        std::vector<uint64_t>& where) {
                       const std::string host = dir.File("empty");
                       Write(host, "");
                       for (int i = 0; i < 31; ++i) {
                         if (!Mtools({"mcopy", "-i", image, host, "::F" + std::to_string(i) + ".TXT"}, error)) return false;
                       }
                       if (!Mtools({"mcopy", "-i", image, host, "::" + kSecretName}, error)) return false;
                       const int64_t sector = EntrySector(image, "SECRETXYTXT");
                       if (sector >= 0) where.push_back(static_cast<uint64_t>(sector));
                       return sector >= 0;
                     }},
        LeftoverCase{"FAT16_DeletedFolder", FileSystem::FAT16, 1,
                     [](const std::string& image, const fixtures::TempDir&, std::string& error, std::vector<uint64_t>&) {
                       return Mtools({"mmd", "-i", image, std::string("::") + kSecret}, error) &&
                              Mtools({"mrd", "-i", image, std::string("::") + kSecret}, error);
                     }},
        // The entry is renamed in place; the file's text still names it.
        LeftoverCase{"FAT12_RenamedFile", FileSystem::FAT12, 12,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error,
                        std::vector<uint64_t>& where) {
                       const std::string host = dir.File("h");
                       Write(host, std::string("the secret is ") + kSecret + std::string(2000, ' '));
                       if (!Mtools({"mcopy", "-i", image, host, "::" + kSecretName}, error) ||
                           !Mtools({"mren", "-i", image, "::" + kSecretName, "::PLAIN.TXT"}, error)) {
                         return false;
                       }
                       const int64_t sector = EntrySector(image, "PLAIN   TXT");
                       if (sector >= 0) where.push_back(static_cast<uint64_t>(sector));
                       return sector >= 0;
                     },
                     false},
        LeftoverCase{"FAT16_FileInSubfolder", FileSystem::FAT16, 3,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>& where) {
                       const std::string host = dir.File("h");
                       Write(host, kHello);
                       return Mtools({"mmd", "-i", image, "::DIR"}, error) &&
                              Mtools({"mmd", "-i", image, std::string("::DIR/") + kSecret}, error) &&
                              Mtools({"mcopy", "-i", image, host, std::string("::DIR/") + kSecret + "/NOTE.TXT"},
                                     error) &&
                              (where.push_back(static_cast<uint64_t>(EntrySector(image, "DIR        "))), true);
                     },
                     false},
        LeftoverCase{"NTFS_SmallResidentFile", FileSystem::NTFS, 1,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>&) {
                       const std::string host = dir.File("note.txt");
                       Write(host, std::string("the secret is ") + kSecret + "\n");
                       return fixtures::CopyIn(image, FileSystem::NTFS, host, "note.txt", &error);
                     }},
        LeftoverCase{"NTFS_FolderWithFile", FileSystem::NTFS, 12,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>&) {
                       return OnNtfs(image, dir, error, [](const std::string& root) {
                         std::filesystem::create_directory(root + "/" + kSecret);
                         Write(root + "/" + kSecret + "/note.txt", "hello\n");
                       });
                     }},
        LeftoverCase{"NTFS_EmptyFileNamedTheSecret", FileSystem::NTFS, 3,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>&) {
                       return OnNtfs(image, dir, error,
                                     [](const std::string& root) { Write(root + "/" + kSecretName, ""); });
                     }},
        LeftoverCase{"NTFS_DeletedSmallFile", FileSystem::NTFS, 1,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>&) {
                       return OnNtfs(image, dir, error,
                                     [](const std::string& root) {
                                       Write(root + "/gone.txt", std::string("the secret is ") + kSecret + "\n");
                                     }) &&
                              OnNtfs(image, dir, error, [](const std::string& root) {
                                std::filesystem::remove(root + "/gone.txt");
                              });
                     }},
        LeftoverCase{"NTFS_FileInSubfolder", FileSystem::NTFS, 12,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>&) {
                       return OnNtfs(image, dir, error, [](const std::string& root) {
                         std::filesystem::create_directories(root + "/a/b");
                         Write(root + "/a/b/" + kSecretName, "hello\n");
                       });
                     }},
        LeftoverCase{"NTFS_LongNameAlone", FileSystem::NTFS, 3,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>&) {
                       return OnNtfs(image, dir, error, [](const std::string& root) {
                         Write(root + "/A rather long file name holding " + kSecret + " and more.txt", "");
                       });
                     }},
        LeftoverCase{"NTFS_DeletedFolder", FileSystem::NTFS, 1,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>&) {
                       return OnNtfs(image, dir, error,
                                     [](const std::string& root) {
                                       std::filesystem::create_directory(root + "/" + kSecret);
                                       Write(root + "/" + kSecret + "/f.txt", "hello\n");
                                     }) &&
                              OnNtfs(image, dir, error, [](const std::string& root) {
                                std::filesystem::remove_all(root + "/" + kSecret);
                              });
                     }},
        LeftoverCase{"NTFS_RenamedFile", FileSystem::NTFS, 12,
                     [](const std::string& image, const fixtures::TempDir& dir, std::string& error, std::vector<uint64_t>&) {
                       return OnNtfs(image, dir, error,
                                     [](const std::string& root) { Write(root + "/" + kSecretName, "hello\n"); }) &&
                              OnNtfs(image, dir, error, [](const std::string& root) {
                                std::filesystem::rename(root + "/" + kSecretName, root + "/plain.txt");
                              });
                     }}),
    [](const testing::TestParamInfo<LeftoverCase>& i) { return std::string(i.param.name); });

}  // namespace
