// The scans on in-memory disks: faults a real medium shows (bad sectors, a
// medium that cannot be read at all), the message protocol, the log record,
// and the NTFS rules on records edited by hand.
#include <gtest/gtest.h>

#include <fstream>

#include "NtfsRecordBuilder.h"
#include "VerifyHarness.h"
#include "Volumes.h"
#include "platform/AskUser.h"
#include "settings/CLogger.h"
#include "settings/CSettings.h"
#include "verify/LeBytes.h"

namespace {

using fixtures::FileSystem;
using platform::MemoryDisk;
using verifytest::RunOptions;
using verifytest::RunResult;
using verifytest::RunVerify;

std::shared_ptr<MemoryDisk> WipedVolume(const fixtures::TempDir& dir, FileSystem fs, int level,
                                        const std::vector<std::string>& extraNtfsArgs = {}) {
  const std::string image = dir.File("disk.img");
  if (!verifytest::WriteLastPass(image, verifytest::SizeFor(fs), level)) return nullptr;
  fixtures::ToolResult r;
  if (fs == FileSystem::NTFS) {
    std::vector<std::string> args{"mkntfs", "-F", "-Q"};
    args.insert(args.end(), extraNtfsArgs.begin(), extraNtfsArgs.end());
    args.push_back(image);
    r = fixtures::RunTool(args);
  } else {
    r = verifytest::Format(image, fs);
  }
  if (!r.ok()) {
    ADD_FAILURE() << r.output;
    return nullptr;
  }
  return verifytest::LoadImage(image);
}

// The NTFS layout of a disk, read with the verifier's own readers.
struct NtfsFacts {
  NtfsGeometry geometry;
  std::unique_ptr<CBitmap> bitmap;  // copy of the volume bitmap
  uint64_t FreeClusterNear(uint64_t from) const {
    for (uint64_t k = from; k < geometry.clusterCount; ++k) {
      if (!bitmap->GetBit(k)) return k;
    }
    return 0;
  }
};

NtfsFacts ReadNtfs(std::shared_ptr<MemoryDisk> disk) {
  NtfsFacts f;
  CDriveController drive(verifytest::MemoryFactory(disk));
  EXPECT_TRUE(drive.OpenDrive('E'));
  uint8_t boot[84];
  drive.CopyNtfsBootSector(boot);
  NtfsBoot b;
  EXPECT_TRUE(ReadNtfsBoot(boot, b));
  f.geometry = NtfsGeometryOf(b);
  CCleanScan scan(drive, nullptr, {}, false);
  EXPECT_TRUE(scan.CreateDirtySet(f.geometry.clusterCount, false));
  scan.ScanNtfs(b);
  EXPECT_EQ(scan.DirtyCount(), 0u) << "the volume should start clean";
  if (scan.VolumeBitmap()) f.bitmap = std::make_unique<CBitmap>(*scan.VolumeBitmap());
  return f;
}

size_t IndexOf(const RunResult& r, uintptr_t code) {
  for (size_t i = 0; i < r.messages.size(); ++i) {
    if (r.messages[i].code == code) return i;
  }
  return r.messages.size();
}

TEST(BadSectors, CountOncePerErrorAndMarkTheirSectorOnFat) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::FAT12, 1);
  ASSERT_TRUE(disk);
  disk->unreadable = {100, 101, 2000};
  const RunResult r = RunVerify(disk);
  EXPECT_EQ(r.errorCount, 3u);
  EXPECT_EQ(r.dirtyCount, 3u);
  ASSERT_TRUE(r.dirty);
  EXPECT_TRUE(r.dirty->IsDirty(100) && r.dirty->IsDirty(101) && r.dirty->IsDirty(2000));
  EXPECT_TRUE(r.Saw(VN_ERROR_COUNT, 3));
  // The sectors around the bad ones were still read and judged clean.
  EXPECT_FALSE(r.dirty->IsDirty(99) || r.dirty->IsDirty(102));
}

TEST(BadSectors, TwoInOneClusterAreTwoErrorsButOneDirtyCluster) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::NTFS, 1, {"-c", "4096"});
  ASSERT_TRUE(disk);
  const NtfsFacts ntfs = ReadNtfs(disk);
  ASSERT_TRUE(ntfs.bitmap);
  ASSERT_EQ(ntfs.geometry.sectorsPerCluster, 8u);
  const uint64_t k = ntfs.FreeClusterNear(ntfs.geometry.clusterCount / 3);
  ASSERT_NE(k, 0u);
  disk->unreadable = {k * 8 + 1, k * 8 + 5};
  const RunResult r = RunVerify(disk);
  EXPECT_EQ(r.errorCount, 2u);
  EXPECT_EQ(r.dirtyCount, 1u);
  ASSERT_TRUE(r.dirty);
  EXPECT_TRUE(r.dirty->IsDirty(k));
  EXPECT_EQ(r.dirtySectors, 8u);
}

// Logging on into a fresh folder for one test; off again afterwards. The
// settings themselves live in a private configuration folder.
class LogFolder {
 public:
  explicit LogFolder(const std::string& folder) {
    CSettings s;
    s.SetLogLocation(folder);
    s.SetLogEnabled(true);
    TheLogger().Close();
  }
  ~LogFolder() {
    TheLogger().Close();
    CSettings().SetLogEnabled(false);
  }

 private:
  fixtures::DriveMap privateConfig_{{}};
};

TEST(NtfsReport, DirtySectorsCountSectorsWhileTheLogCountsClusters) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::NTFS, 12, {"-c", "4096"});
  ASSERT_TRUE(disk);
  const NtfsFacts ntfs = ReadNtfs(disk);
  ASSERT_TRUE(ntfs.bitmap);
  uint64_t k = ntfs.geometry.clusterCount / 4;
  for (int i = 0; i < 3; ++i) {
    k = ntfs.FreeClusterNear(k + 1);
    ASSERT_NE(k, 0u);
    std::memset(disk->Sector(k * 8), 'x', 8 * 512);
  }
  fixtures::TempDir logs;
  RunResult r;
  {
    LogFolder logging(logs.path());
    r = RunVerify(disk);
  }
  EXPECT_EQ(r.dirtyCount, 3u);
  EXPECT_EQ(r.dirtySectors, 24u);
  const std::string log = fixtures::ReadFile(logs.File("Log.txt"));
  EXPECT_NE(log.find("Operation: Verify that drive E: is clean (all sectors examined).\r\n\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\nOperation result: FAILURE\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\nTotal disk sector read/write errors: 0\r\nTotal uncleaned disk sectors/clusters: 3"
                     "\r\n\r\nFile data was encountered on logical drive E:\r\n\r\n" +
                     std::string(66, '-') + "\r\n\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("WARNING"), std::string::npos);
}

TEST(Report, ACleanRunLogsSuccessAndAReadErrorLogsTheWarning) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::FAT12, 7);
  ASSERT_TRUE(disk);
  fixtures::TempDir logs;
  {
    LogFolder logging(logs.path());
    const RunResult clean = RunVerify(disk);
    EXPECT_EQ(clean.dirtyCount, 0u);
    disk->unreadable = {500};
    const RunResult bad = RunVerify(disk);
    EXPECT_EQ(bad.errorCount, 1u);
  }
  const std::string log = fixtures::ReadFile(logs.File("Log.txt"));
  const size_t second = log.find("Operation: Verify", log.find("Operation: Verify") + 1);
  ASSERT_NE(second, std::string::npos);
  const std::string first = log.substr(0, second);
  EXPECT_NE(first.find("Operation began: "), std::string::npos);
  EXPECT_NE(first.find("Operation finished: "), std::string::npos);
  EXPECT_NE(first.find("Total elapsed time (HH:MM:SS): 00:00:"), std::string::npos);
  EXPECT_NE(first.find("\r\n\r\nOperation result: SUCCESS\r\n\r\nTotal disk sector read/write errors: 0\r\n"
                       "Total uncleaned disk sectors/clusters: 0\r\n\r\n" +
                       std::string(66, '-')),
            std::string::npos)
      << first;
  const std::string next = log.substr(second);
  EXPECT_NE(next.find("WARNING: Logical drive E: has been found to contain errors.\r\nNullifex was unable to write to "
                      "all disk sectors, meaning this disk\r\nmay still contain file data.\r\n\r\nFile data was "
                      "encountered on logical drive E:"),
            std::string::npos)
      << next;
}

TEST(Report, NothingIsLoggedWithLoggingOff) {
  fixtures::DriveMap privateConfig({});
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::FAT12, 1);
  ASSERT_TRUE(disk);
  fixtures::TempDir logs;
  CSettings().SetLogLocation(logs.path());
  CSettings().SetLogEnabled(false);
  TheLogger().Close();
  const RunResult r = RunVerify(disk);
  EXPECT_EQ(r.dirtyCount, 0u);
  EXPECT_FALSE(std::ifstream(logs.File("Log.txt")).good());
}

TEST(Report, ALogThatCannotBeWrittenAndAnsweredNoStopsTheRun) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::FAT12, 1);
  ASSERT_TRUE(disk);
  int asked = 0;
  platform::SetAskUser([&](const std::string&, const std::string& title, int, int) {
    ++asked;
    EXPECT_EQ(title, "Log File Error");
    return static_cast<int>(ResultNo);
  });
  RunResult r;
  {
    LogFolder logging(dir.File("no/such/folder"));
    r = RunVerify(disk);
  }
  platform::SetAskUser(nullptr);
  EXPECT_GE(asked, 1);
  EXPECT_TRUE(r.Saw(VN_UNREADABLE, 0));
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(r.Codes().back(), VN_FINISHED);
}

TEST(Messages, ACancelledRunEndsCancelledDirtySectorsFinished) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::FAT12, 1);
  ASSERT_TRUE(disk);
  RunOptions options;
  options.terminateBeforeStart = true;
  const RunResult r = RunVerify(disk, options);
  EXPECT_TRUE(r.cancelled);
  const auto codes = r.Codes();
  ASSERT_GE(codes.size(), 3u);
  EXPECT_EQ(std::vector<uintptr_t>(codes.end() - 3, codes.end()),
            (std::vector<uintptr_t>{VN_CANCELLED, VN_DIRTY_SECTORS, VN_FINISHED}));
  EXPECT_LT(r.lastProgress, 100);
  EXPECT_TRUE(r.dirty);  // handed over even when cancelled
}

TEST(Messages, AFullRunReportsTypeLabelSizeAndClusterSizeFirst) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::FAT12, 1);
  ASSERT_TRUE(disk);
  const RunResult r = RunVerify(disk);
  ASSERT_GE(r.messages.size(), 4u);
  EXPECT_EQ(r.messages[0].code, VN_FS_TYPE);
  EXPECT_EQ(r.messages[0].text, "FAT12");
  EXPECT_EQ(r.messages[1].code, VN_VOLUME_LABEL);
  EXPECT_TRUE(r.Saw(VN_TOTAL_SECTORS, 2879));
  EXPECT_TRUE(r.Saw(VN_CLUSTER_SIZE, 512));
  EXPECT_LT(IndexOf(r, VN_CLUSTER_SIZE), IndexOf(r, VN_PROGRESS));
  EXPECT_EQ(r.Codes().back(), VN_FINISHED);
  EXPECT_EQ(r.messages[r.messages.size() - 2].code, VN_DIRTY_SECTORS);
}

TEST(Messages, ProgressIsPostedOnlyWhenItChanges) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::NTFS, 1);  // 3,000 clusters of 4 KiB
  ASSERT_TRUE(disk);
  const RunResult r = RunVerify(disk);
  EXPECT_EQ(r.lastProgress, 100);
  EXPECT_LE(r.progressMessages, 101);
  int64_t previous = -1;
  for (const auto& m : r.messages) {
    if (m.code != VN_PROGRESS) continue;
    EXPECT_GT(m.value, previous);
    previous = m.value;
  }
}

TEST(RawScan, AnUnrecognisedVolumeIsVerifiedAsPlainSectors) {
  auto zeros = std::make_shared<MemoryDisk>(4096);
  RunResult r = RunVerify(zeros);
  ASSERT_TRUE(r.opened);
  EXPECT_EQ(r.fsType, "Unknown");
  EXPECT_EQ(r.dirtyCount, 0u);
  EXPECT_TRUE(r.Saw(VN_TOTAL_SECTORS, 4095));
  EXPECT_EQ(IndexOf(r, VN_CLUSTER_SIZE), r.messages.size());  // never for raw scans

  // One reference byte everywhere: a zero sector is dirty when that byte is
  // 0xFF (no leading-zero allowance on a raw volume).
  auto ones = std::make_shared<MemoryDisk>(4096);
  std::fill(ones->bytes.begin(), ones->bytes.end(), 0xFF);
  std::memset(ones->Sector(3000), 0, 512);
  r = RunVerify(ones);
  EXPECT_EQ(r.dirtyCount, 1u);
  ASSERT_TRUE(r.dirty);
  EXPECT_TRUE(r.dirty->IsDirty(3000));
}

TEST(RawScan, ASmallVolumeEndsAtExactlyOneHundredPercent) {
  // The last read runs past the end of a 700-sector volume; reported as it
  // is that would be 292 %, whose low byte a window shows as 36 %.
  for (bool quick : {false, true}) {
    RunOptions options;
    options.quick = quick;
    const RunResult r = RunVerify(std::make_shared<MemoryDisk>(700), options);
    EXPECT_EQ(r.lastProgress, 100) << quick;
    for (const auto& m : r.messages) {
      if (m.code == VN_PROGRESS) {
        EXPECT_LE(m.value, 100) << quick;
      }
    }
  }
}

TEST(RawScan, PairModeJudgesEverySectorOfAChunkByItself) {
  auto disk = std::make_shared<MemoryDisk>(4096);
  for (size_t i = 0; i < disk->bytes.size(); i += 2) {
    disk->bytes[i] = 0x55;
    disk->bytes[i + 1] = 0xAA;
  }
  // Flipped pairs still pass; a broken pair marks its own sector only.
  for (size_t i = 0; i < 512; i += 2) {
    disk->Sector(70)[i] = 0xAA;
    disk->Sector(70)[i + 1] = 0x55;
  }
  disk->Sector(130)[100] = 0x00;
  disk->Sector(131)[511] = 0x00;
  const RunResult r = RunVerify(disk);
  EXPECT_EQ(r.dirtyCount, 2u);
  ASSERT_TRUE(r.dirty);
  EXPECT_TRUE(r.dirty->IsDirty(130));
  EXPECT_TRUE(r.dirty->IsDirty(131));
  EXPECT_FALSE(r.dirty->IsDirty(70));
}

TEST(FatScan, NoReadableReferenceGivesUp) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::FAT12, 1);
  ASSERT_TRUE(disk);
  for (uint64_t s = 33; s < 2880; ++s) disk->unreadable.insert(s);  // the whole data area
  const RunResult r = RunVerify(disk);
  ASSERT_TRUE(r.opened);
  EXPECT_TRUE(r.Saw(VN_UNREADABLE, -1));
  EXPECT_EQ(r.errorCount, 2880u - 33);  // every attempt counted
  EXPECT_EQ(r.Codes().back(), VN_FINISHED);
  EXPECT_LT(r.lastProgress, 100);
}

TEST(FatScan, APairModeVolumeIsDirtyOnlyWhereADataSectorBreaksThePattern) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::FAT12, 3);
  ASSERT_TRUE(disk);
  disk->Sector(1000)[17] ^= 0x01;
  disk->Sector(1001)[0] ^= 0x10;
  disk->Sector(12)[40] = 0x01;  // a stray byte in the first FAT
  const RunResult r = RunVerify(disk);
  EXPECT_EQ(r.dirtyCount, 3u);
  ASSERT_TRUE(r.dirty);
  EXPECT_TRUE(r.dirty->IsDirty(1000) && r.dirty->IsDirty(1001) && r.dirty->IsDirty(12));
}

// MFT record `n` of a fresh mkntfs volume (1 KiB records, $MFT in one piece).
uint8_t* MftRecord(MemoryDisk& disk, const NtfsGeometry& g, uint32_t n) {
  return disk.Sector(g.firstMftSector + uint64_t{n} * 2);
}

// The first run of record `n`'s non-resident $DATA, read with the
// verifier's readers.
bool FirstDataRun(MemoryDisk& disk, const NtfsGeometry& g, uint32_t n, FirstRun& run) {
  uint8_t* rec = MftRecord(disk, g, n);
  std::vector<uint8_t> copy(rec, rec + 1024);
  uint16_t first = 0;
  if (!ApplyUpdateSequence(copy) || !le::U16(copy, 0x14, first)) return false;
  AttributeWalker walker(copy, first);
  AttributeView a;
  bool found = false;
  while (walker.Next(a)) {
    if (a.type == kAttrData && a.nonResident) found = ReadFirstRun(a, run);
  }
  return found;
}

TEST(SystemRecords, UnusedRecordsMayHoldOnlyABareStandardInformation) {
  using verifytest::RecordBuilder;
  struct Case {
    const char* what;
    std::vector<uint8_t> record;
    bool dirty;
  };
  std::vector<uint8_t> torn = RecordBuilder(1024, false).Resident(0x10, std::vector<uint8_t>(0x48)).Finish();
  torn[1022] ^= 0xFF;
  const Case cases[] = {
      {"bare standard information, unused", RecordBuilder(1024, false).Resident(0x10, std::vector<uint8_t>(0x48)).Finish(), false},
      {"a file name as well", RecordBuilder(1024, false).Resident(0x10, std::vector<uint8_t>(0x48)).FileName("$ObjId").Finish(), true},
      {"file data", RecordBuilder(1024, false).Resident(0x10, std::vector<uint8_t>(0x48)).Resident(0x80, std::vector<uint8_t>(64, 'd')).Finish(), true},
      {"in use", RecordBuilder(1024, true).Resident(0x10, std::vector<uint8_t>(0x48)).Finish(), true},
      {"torn update sequence", torn, true},
  };
  fixtures::TempDir dir;
  auto pristine = WipedVolume(dir, FileSystem::NTFS, 1);
  ASSERT_TRUE(pristine);
  const NtfsFacts ntfs = ReadNtfs(pristine);
  for (const Case& c : cases) {
    auto disk = std::make_shared<MemoryDisk>();
    disk->bytes = pristine->bytes;
    std::memcpy(MftRecord(*disk, ntfs.geometry, 17), c.record.data(), c.record.size());
    const RunResult r = RunVerify(disk);
    EXPECT_EQ(r.dirtyCount, c.dirty ? 1u : 0u) << c.what;
    if (c.dirty && r.dirty) {
      EXPECT_TRUE(r.dirty->IsDirty((ntfs.geometry.firstMftSector + 34) / ntfs.geometry.sectorsPerCluster)) << c.what;
    }
  }
}

TEST(SystemRecords, AFragmentedSystemFileMarksItsRecord) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::NTFS, 1);
  ASSERT_TRUE(disk);
  const NtfsFacts ntfs = ReadNtfs(disk);
  // $LogFile (record 2): put a second run after the first of its $DATA.
  uint8_t* rec = MftRecord(*disk, ntfs.geometry, 2);
  std::vector<uint8_t> copy(rec, rec + 1024);
  ASSERT_TRUE(ApplyUpdateSequence(copy));
  uint16_t first = 0;
  ASSERT_TRUE(le::U16(copy, 0x14, first));
  AttributeWalker walker(copy, first);
  AttributeView a;
  size_t terminator = 0;
  while (walker.Next(a)) {
    if (a.type != kAttrData || !a.nonResident) continue;
    uint16_t runs = 0;
    ASSERT_TRUE(le::U16(a.bytes, 0x20, runs));
    const uint8_t header = a.bytes[runs];
    terminator = a.offset + runs + 1 + (header & 0x0F) + (header >> 4);
  }
  ASSERT_NE(terminator, 0u);
  ASSERT_EQ(rec[terminator], 0);
  ASSERT_NE(terminator % 512, 510u);
  ASSERT_NE(terminator % 512, 511u);
  rec[terminator] = 0x11;
  const RunResult r = RunVerify(disk);
  EXPECT_EQ(r.dirtyCount, 1u);
  ASSERT_TRUE(r.dirty);
  EXPECT_TRUE(r.dirty->IsDirty((ntfs.geometry.firstMftSector + 4) / ntfs.geometry.sectorsPerCluster));
}

TEST(NtfsClusters, AFreeClusterInsideASystemFileIsDirty) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::NTFS, 1);
  ASSERT_TRUE(disk);
  const NtfsFacts ntfs = ReadNtfs(disk);
  // Find $Bitmap's own bytes on the disk by content and clear the bit of the
  // first cluster of the MFT (allocated, inside $MFT's extent).
  const uint64_t mftCluster = ntfs.geometry.firstMftSector / ntfs.geometry.sectorsPerCluster;
  ASSERT_TRUE(ntfs.bitmap->GetBit(mftCluster));
  FirstRun run;
  ASSERT_TRUE(FirstDataRun(*disk, ntfs.geometry, 6, run));
  uint8_t* bitmap = disk->Sector(uint64_t{run.offset} * ntfs.geometry.sectorsPerCluster);
  bitmap[(mftCluster + 1) / 8] &= static_cast<uint8_t>(~(1u << ((mftCluster + 1) % 8)));
  const RunResult r = RunVerify(disk);
  EXPECT_EQ(r.dirtyCount, 1u);
  ASSERT_TRUE(r.dirty);
  EXPECT_TRUE(r.dirty->IsDirty(mftCluster + 1));
}

// A volume whose $MFT has grown past the system records (ntfscp copies a
// small file on): every record from 32 on is judged, as a fresh format
// leaves unused records or as a file left them.
TEST(FileRecords, EveryRecordPastTheSystemOnesIsJudged) {
  using verifytest::RecordBuilder;
  fixtures::TempDir dir;
  auto pristine = WipedVolume(dir, FileSystem::NTFS, 1);
  ASSERT_TRUE(pristine);
  const NtfsFacts ntfs = ReadNtfs(pristine);
  const std::string host = dir.File("note.txt");
  ASSERT_TRUE(fixtures::WriteFile(host, "a few words\n"));
  std::string error;
  ASSERT_TRUE(fixtures::CopyIn(dir.File("disk.img"), FileSystem::NTFS, host, "note.txt", &error)) << error;
  auto grown = verifytest::LoadImage(dir.File("disk.img"));
  const uint64_t record40 = ntfs.geometry.firstMftSector + 40 * 2;
  const uint64_t cluster40 = record40 / ntfs.geometry.sectorsPerCluster;
  ASSERT_NE(cluster40, (ntfs.geometry.firstMftSector + 64 * 2) / ntfs.geometry.sectorsPerCluster);

  const std::vector<uint8_t> si(0x48);
  std::vector<uint8_t> stale = RecordBuilder(1024, false).Resident(0x10, si).Finish();
  stale[700] = 'x';  // a byte left past the record's end
  std::vector<uint8_t> garbage(1024, 'g');
  struct Case {
    const char* what;
    std::vector<uint8_t> record;
    bool dirty;
  };
  const Case cases[] = {
      {"unused, no attribute", RecordBuilder(1024, false).Finish(), false},
      {"unused, bare standard information", RecordBuilder(1024, false).Resident(0x10, si).Finish(), false},
      {"never made (zeros)", std::vector<uint8_t>(1024, 0), false},
      {"unused, a deleted file's name", RecordBuilder(1024, false).Resident(0x10, si).FileName("secret").Finish(), true},
      {"unused, a deleted file's data", RecordBuilder(1024, false).Resident(0x80, std::vector<uint8_t>(40, 'd')).Finish(),
       true},
      {"unused, a deleted folder's index", RecordBuilder(1024, false).Resident(0x90, std::vector<uint8_t>(48)).Finish(),
       true},
      {"unused, bytes past its end", stale, true},
      {"in use", RecordBuilder(1024, true).Resident(0x10, si).Finish(), true},
      {"no signature, not blank", garbage, true},
  };
  for (const Case& c : cases) {
    auto disk = std::make_shared<MemoryDisk>();
    disk->bytes = grown->bytes;
    std::memcpy(disk->Sector(record40), c.record.data(), c.record.size());
    const RunResult r = RunVerify(disk);
    ASSERT_TRUE(r.dirty) << c.what;
    EXPECT_EQ(r.dirty->IsDirty(cluster40), c.dirty) << c.what;
    EXPECT_EQ(r.errorCount, 0u) << c.what;
  }
  // A record that cannot be read is a read error, whether a system record
  // or one past them; neither lets the volume pass.
  for (const uint64_t sector : {ntfs.geometry.firstMftSector + 20 * 2, record40}) {
    auto disk = std::make_shared<MemoryDisk>();
    disk->bytes = pristine->bytes;
    if (sector == record40) disk->bytes = grown->bytes;
    disk->unreadable = {sector};
    const RunResult r = RunVerify(disk);
    // Counted by the record walk and again by the cluster walk's read.
    EXPECT_EQ(r.errorCount, 2u) << sector;
    ASSERT_TRUE(r.dirty);
    EXPECT_TRUE(r.dirty->IsDirty(sector / ntfs.geometry.sectorsPerCluster)) << sector;
  }
}

// A fresh volume's root folder index names only the system files; a name
// written into the slack past its last entry is a leftover.
TEST(RootIndex, ANameInTheSlackOfTheRootIndexIsDirty) {
  fixtures::TempDir dir;
  auto disk = WipedVolume(dir, FileSystem::NTFS, 1);
  ASSERT_TRUE(disk);
  const NtfsFacts ntfs = ReadNtfs(disk);
  // The root's index block: the INDX block on the volume.
  const std::string bytes(disk->bytes.begin(), disk->bytes.end());
  const size_t block = bytes.find("INDX");
  ASSERT_NE(block, std::string::npos);
  ASSERT_EQ(block % 512, 0u);
  uint32_t inUse = 0;
  ASSERT_TRUE(le::U32(std::span<const uint8_t>(disk->bytes).subspan(block), 0x18 + 4, inUse));
  // A $FILE_NAME key of "gone.txt" in the root (parent record 5), 8-byte
  // aligned after the entries in use, clear of the update sequence's places.
  const size_t key = block + 0x18 + (inUse + 7) / 8 * 8 + 16;
  ASSERT_LT(key % 512, 400u);
  uint8_t* k = disk->bytes.data() + key;
  k[0] = 5;
  const std::string name = "gone.txt";
  k[0x40] = static_cast<uint8_t>(name.size());
  k[0x41] = 1;
  for (size_t i = 0; i < name.size(); ++i) k[0x42 + 2 * i] = static_cast<uint8_t>(name[i]);
  const RunResult r = RunVerify(disk);
  EXPECT_EQ(r.dirtyCount, 1u);
  ASSERT_TRUE(r.dirty);
  EXPECT_TRUE(r.dirty->IsDirty(key / 512 / ntfs.geometry.sectorsPerCluster));
}

// Without $MFT's first record or the volume bitmap no file record or cluster
// can be judged: such a volume is never called clean, and the sector that
// could not be read is an error.
TEST(NtfsUnreadable, AVolumeWhoseMftOrBitmapCannotBeReadIsNotClean) {
  fixtures::TempDir dir;
  auto pristine = WipedVolume(dir, FileSystem::NTFS, 1);
  ASSERT_TRUE(pristine);
  const NtfsFacts ntfs = ReadNtfs(pristine);
  FirstRun bitmapRun;
  ASSERT_TRUE(FirstDataRun(*pristine, ntfs.geometry, 6, bitmapRun));
  const uint64_t spc = ntfs.geometry.sectorsPerCluster;
  struct Case {
    const char* what;
    uint64_t sector;
  };
  const Case cases[] = {
      {"$MFT's own record", ntfs.geometry.firstMftSector},
      {"$Bitmap's data", uint64_t{bitmapRun.offset} * spc},
  };
  for (const Case& c : cases) {
    auto disk = std::make_shared<MemoryDisk>();
    disk->bytes = pristine->bytes;
    disk->unreadable = {c.sector};
    const RunResult r = RunVerify(disk);
    EXPECT_GT(r.dirtyCount, 0u) << c.what;
    EXPECT_GE(r.errorCount, 1u) << c.what;
    ASSERT_TRUE(r.dirty) << c.what;
    EXPECT_TRUE(r.dirty->IsDirty(c.sector / spc)) << c.what;
  }
}

}  // namespace
