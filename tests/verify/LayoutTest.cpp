#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "NtfsRecordBuilder.h"
#include "verify/CleanTest.h"
#include "verify/FatLayout.h"
#include "verify/NtfsLayout.h"

namespace {

using verifytest::RecordBuilder;

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> FatBoot(uint8_t spc, uint16_t reserved, uint16_t rootEntries, uint16_t total16,
                             uint16_t fatSize, uint32_t total32) {
  std::vector<uint8_t> b(62, 0);
  Put16(b, 0x0B, 512);
  b[0x0D] = spc;
  Put16(b, 0x0E, reserved);
  b[0x10] = 2;
  Put16(b, 0x11, rootEntries);
  Put16(b, 0x13, total16);
  Put16(b, 0x16, fatSize);
  Put32(b, 0x20, total32);
  return b;
}

TEST(FatRegions, FloppyRegions) {
  const auto boot = FatBoot(1, 1, 224, 2880, 9, 0);
  FatRegions r;
  ASSERT_TRUE(ReadFatRegions(12, boot, std::vector<uint8_t>(90), r));
  EXPECT_EQ(r.firstFat, 1u);
  EXPECT_EQ(r.secondFat, 10u);
  EXPECT_EQ(r.checkStart, 33u);
  EXPECT_EQ(r.lastSector, 2879);
  EXPECT_EQ(r.reservedEntryBytes, 3u);
  EXPECT_EQ(r.clusterBytes, 512u);
}

TEST(FatRegions, SixteenBitTotalWinsAndThirtyTwoBitTotalStandsIn) {
  FatRegions r;
  ASSERT_TRUE(ReadFatRegions(16, FatBoot(4, 4, 512, 40000, 40, 99999), std::vector<uint8_t>(90), r));
  EXPECT_EQ(r.lastSector, 39999);
  EXPECT_EQ(r.checkStart, 4u + 80 + 32);
  EXPECT_EQ(r.reservedEntryBytes, 4u);
  ASSERT_TRUE(ReadFatRegions(16, FatBoot(4, 4, 512, 0, 40, 99999), std::vector<uint8_t>(90), r));
  EXPECT_EQ(r.lastSector, 99998);
  // No sectors at all: nothing lies before the last sector.
  ASSERT_TRUE(ReadFatRegions(16, FatBoot(4, 4, 512, 0, 40, 0), std::vector<uint8_t>(90), r));
  EXPECT_EQ(r.lastSector, -1);
}

TEST(FatRegions, Fat32CheckStartIsAfterTheRootCluster) {
  std::vector<uint8_t> b(90, 0);
  Put16(b, 0x0B, 512);
  b[0x0D] = 8;
  Put16(b, 0x0E, 32);
  b[0x10] = 2;
  Put32(b, 0x20, 2097152);
  Put32(b, 0x24, 2041);
  Put32(b, 0x2C, 2);
  FatRegions r;
  ASSERT_TRUE(ReadFatRegions(32, std::vector<uint8_t>(62), b, r));
  EXPECT_EQ(r.firstFat, 32u);
  EXPECT_EQ(r.secondFat, 32u + 2041);
  EXPECT_EQ(r.checkStart, 32u + 2 * 2041 + 8);
  EXPECT_EQ(r.lastSector, 2097151);
  EXPECT_EQ(r.clusterBytes, 4096u);
  EXPECT_EQ(r.reservedEntryBytes, 12u);
  // A small FAT32 volume keeps its count in the 16-bit field, as mkfs.fat
  // writes it below 32 MiB.
  Put32(b, 0x20, 0);
  Put16(b, 0x13, 32768);
  ASSERT_TRUE(ReadFatRegions(32, std::vector<uint8_t>(62), b, r));
  EXPECT_EQ(r.lastSector, 32767);
  // A root cluster that cannot be (0) does not pull the region before the
  // data area.
  Put32(b, 0x2C, 0);
  ASSERT_TRUE(ReadFatRegions(32, std::vector<uint8_t>(62), b, r));
  EXPECT_EQ(r.checkStart, 32u + 2 * 2041 + 8);
}

TEST(FatRegions, RefusesUnknownKindsAndShortCopies) {
  FatRegions r;
  EXPECT_FALSE(ReadFatRegions(0, FatBoot(1, 1, 224, 2880, 9, 0), std::vector<uint8_t>(90), r));
  EXPECT_FALSE(ReadFatRegions(12, std::vector<uint8_t>(20), std::vector<uint8_t>(90), r));
  EXPECT_FALSE(ReadFatRegions(32, std::vector<uint8_t>(62), std::vector<uint8_t>(40), r));
}

TEST(NtfsGeometry, ClusterSizesUpToTwoMebibytesAreNtfs) {
  struct Case {
    uint16_t bps;
    uint8_t spc;
    uint32_t clusterBytes;  // 0: not NTFS
  };
  // Above 0x80 the byte is a power of two, 2^(256 - value) sectors.
  for (const Case c : {Case{512, 0, 0}, Case{512, 1, 512}, Case{512, 127, 65024}, Case{512, 128, 65536},
                       Case{512, 0xFF, 1024}, Case{512, 0xF4, 2u << 20}, Case{512, 0xF3, 0},
                       Case{4096, 0xF7, 2u << 20}, Case{4096, 0xF6, 0}, Case{1000, 8, 0}, Case{4096, 1, 4096}}) {
    NtfsBoot boot;
    boot.bytesPerSector = c.bps;
    boot.sectorsPerCluster = c.spc;
    boot.totalSectors = 2097151;
    boot.mftCluster = 4;
    const NtfsGeometry g = NtfsGeometryOf(boot);
    EXPECT_EQ(g.valid, c.clusterBytes != 0) << c.bps << " " << int(c.spc);
    if (g.valid) EXPECT_EQ(g.clusterBytes, c.clusterBytes) << c.bps << " " << int(c.spc);
  }
  NtfsBoot boot{512, 8, 2097151, 4};
  const NtfsGeometry g = NtfsGeometryOf(boot);
  EXPECT_EQ(g.clusterCount, 262143u);
  EXPECT_EQ(g.firstMftSector, 32u);
  EXPECT_EQ(g.clusterBytes, 4096u);
  // 4096-byte NTFS sectors in the controller's 512-byte ones.
  const NtfsGeometry big = NtfsGeometryOf(NtfsBoot{4096, 1, 1000, 4});
  EXPECT_EQ(big.sectorsPerCluster, 8u);
  EXPECT_EQ(big.firstMftSector, 32u);
}

TEST(UpdateSequence, RestoresTheSavedBytesOfEveryStride) {
  RecordBuilder b(1024);
  b.Raw()[510] = 0xAB;
  b.Raw()[1022] = 0xCD;
  std::vector<uint8_t> rec = b.Finish(0x0707);
  ASSERT_EQ(rec[510], 0x07);
  ASSERT_TRUE(ApplyUpdateSequence(rec));
  EXPECT_EQ(rec[510], 0xAB);
  EXPECT_EQ(rec[1022], 0xCD);
}

TEST(UpdateSequence, DamagedRecordsAreRefusedUntouched) {
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
  };
  for (const Case c : {Case{"torn second stride", 1022, 0x99}, Case{"torn first stride", 510, 0x08},
                       Case{"wrong array count", 0x06, 9}, Case{"array past the first stride", 0x05, 0x02}}) {
    std::vector<uint8_t> rec = RecordBuilder(1024).Finish(0x0707);
    rec[c.at] = c.value;
    const std::vector<uint8_t> before = rec;
    EXPECT_FALSE(ApplyUpdateSequence(rec)) << c.what;
    EXPECT_EQ(rec, before) << c.what;
  }
  std::vector<uint8_t> odd(700, 0);
  EXPECT_FALSE(ApplyUpdateSequence(odd));
}

std::vector<uint32_t> Types(std::span<const uint8_t> rec, uint16_t first, bool* damaged = nullptr) {
  AttributeWalker walker(rec, first);
  AttributeView a;
  std::vector<uint32_t> types;
  while (walker.Next(a)) types.push_back(a.type);
  if (damaged) *damaged = walker.Damaged();
  return types;
}

TEST(AttributeWalk, ListsAttributesUpToTheEndMarker) {
  RecordBuilder b(1024);
  b.Resident(0x10, std::vector<uint8_t>(0x48)).FileName("$MFT").NonResident(0x80, {0x11, 0x10, 0x04, 0x00}, 65536, 65536);
  std::vector<uint8_t> rec = b.Finish();
  ASSERT_TRUE(ApplyUpdateSequence(rec));
  bool damaged = true;
  EXPECT_EQ(Types(rec, 0x38, &damaged), (std::vector<uint32_t>{0x10, 0x30, 0x80}));
  EXPECT_FALSE(damaged);
  EXPECT_TRUE(Types(rec, 0).empty());       // no attributes
  EXPECT_TRUE(Types(rec, 0x5000).empty());  // offset outside the record
}

TEST(AttributeWalk, AnAttributeEndingAtTheRecordEndIsCutOff) {
  RecordBuilder b(1024);
  b.Resident(0x10, std::vector<uint8_t>(0x48));
  const uint32_t second = b.End();
  b.Put32(second, 0x30);
  b.Put32(second + 4, 1024 - second);  // ends exactly at the end of the record
  EXPECT_EQ(Types(b.Raw(), 0x38), (std::vector<uint32_t>{0x10}));
  b.Put32(second + 4, 1024 - second - 8);  // ends strictly before it
  EXPECT_EQ(Types(b.Raw(), 0x38), (std::vector<uint32_t>{0x10, 0x30}));
}

TEST(AttributeWalk, ALengthThatCannotMoveOnStopsTheWalkAsDamaged) {
  for (uint32_t length : {0u, 4u, 15u}) {
    RecordBuilder b(1024);
    b.Resident(0x10, std::vector<uint8_t>(0x48));
    b.Put32(b.End(), 0x30);
    b.Put32(b.End() + 4, length);
    bool damaged = false;
    EXPECT_EQ(Types(b.Raw(), 0x38, &damaged), (std::vector<uint32_t>{0x10})) << length;
    EXPECT_TRUE(damaged) << length;
  }
}

AttributeView NonResidentView(std::vector<uint8_t>& storage, const std::vector<uint8_t>& runList) {
  RecordBuilder b(1024);
  b.NonResident(0x80, runList, 4096, 4096);
  storage = b.Raw();
  AttributeWalker walker(storage, 0x38);
  AttributeView a;
  EXPECT_TRUE(walker.Next(a));
  return a;
}

TEST(RunList, FirstRunForms) {
  struct Case {
    const char* what;
    std::vector<uint8_t> runs;
    bool ok;
    bool present;
    bool sparse;
    uint32_t length;
    uint32_t offset;
    bool second;
  };
  const Case cases[] = {
      {"one run", {0x21, 0x08, 0x00, 0x01, 0x00}, true, true, false, 8, 0x100, false},
      {"sparse first run", {0x01, 0x40, 0x00}, true, true, true, 0x40, 0, false},
      {"second run follows", {0x11, 0x02, 0x30, 0x11, 0x01, 0x05, 0x00}, true, true, false, 2, 0x30, true},
      {"empty list", {0x00}, true, false, false, 0, 0, false},
      {"eight-byte fields that fit 32 bits", {0x88, 1, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0}, true, true, false, 1, 7, false},
      {"offset beyond 32 bits", {0x51, 0x01, 0, 0, 0, 0, 0x01, 0x00}, false, false, false, 0, 0, false},
      {"field wider than 8 bytes", {0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}, false, false, false, 0, 0, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> storage;
    AttributeView a = NonResidentView(storage, c.runs);
    FirstRun run;
    ASSERT_EQ(ReadFirstRun(a, run), c.ok) << c.what;
    if (!c.ok) continue;
    EXPECT_EQ(run.present, c.present) << c.what;
    EXPECT_EQ(run.sparse, c.sparse) << c.what;
    EXPECT_EQ(run.length, c.length) << c.what;
    EXPECT_EQ(run.offset, c.offset) << c.what;
    EXPECT_EQ(run.secondRunFollows, c.second) << c.what;
  }
}

TEST(RunList, RunsOutsideTheAttributeAreDamaged) {
  std::vector<uint8_t> storage;
  AttributeView a = NonResidentView(storage, {0x44, 1, 0, 0, 0, 2, 0, 0, 0, 0});
  a.bytes = a.bytes.first(0x40 + 6);  // cut inside the offset field
  FirstRun run;
  EXPECT_FALSE(ReadFirstRun(a, run));
  a.bytes = a.bytes.first(0x30);  // the run-list offset itself is outside
  EXPECT_FALSE(ReadFirstRun(a, run));
}

TEST(FileName, AStoredNameMatchesWhenItIsAPrefixOfTheExpectedOne) {
  struct Case {
    const char* stored;
    bool matches;
  };
  for (const Case c : {Case{"$MFT", true}, Case{"$MF", true}, Case{"", true}, Case{"$MFTX", false},
                       Case{"$MFU", false}, Case{"mft", false}}) {
    RecordBuilder b(1024);
    b.FileName(c.stored);
    AttributeWalker walker(b.Raw(), 0x38);
    AttributeView a;
    ASSERT_TRUE(walker.Next(a));
    EXPECT_EQ(FileNameMatches(a, "$MFT"), c.matches) << c.stored;
  }
}

TEST(FileName, ANameLengthRunningPastTheAttributeDoesNotMatch) {
  RecordBuilder b(1024);
  b.FileName("$MFT");
  b.Raw()[0x38 + 0x18 + 0x40] = 200;  // 200 code units in a 0x60-byte attribute
  AttributeWalker walker(b.Raw(), 0x38);
  AttributeView a;
  ASSERT_TRUE(walker.Next(a));
  EXPECT_FALSE(FileNameMatches(a, std::string(250, 'x')));
}

}  // namespace
