// The transfer rules of the controller on the fault-injecting in-memory disk:
// bad-sector lists, the marker, the retry and its pause, the position after
// a failure, a medium that is missing or disappears.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "drive/CDriveController.h"
#include "platform/AlignedBuffer.h"
#include "platform/MemoryBackend.h"

namespace {

using platform::MemoryDisk;
using namespace std::chrono_literals;

// A disk whose sector s is filled with the byte s & 0xFF (sector 0 is zeros,
// so no file system is recognised and OpenDrive ends with 1785).
std::shared_ptr<MemoryDisk> PatternDisk(uint64_t sectors) {
  auto disk = std::make_shared<MemoryDisk>(sectors);
  for (uint64_t s = 0; s < sectors; ++s) std::memset(disk->Sector(s), static_cast<int>(s & 0xFF), 512);
  return disk;
}

std::unique_ptr<CDriveController> Open(const std::shared_ptr<MemoryDisk>& disk,
                                       std::chrono::milliseconds pause = 1ms) {
  auto c = std::make_unique<CDriveController>([disk](char) { return platform::MakeMemoryBackend(disk); });
  c->SetRetryPause(pause);
  EXPECT_FALSE(c->OpenDrive('e'));
  EXPECT_EQ(c->GetLastErrorCode(), errc::kUnrecognizedVolume);
  return c;
}

std::vector<int64_t> BadList(const CDriveController& c) {
  std::vector<int64_t> list;
  for (int32_t i = 0; c.GetBadSector(i) != -1; ++i) list.push_back(c.GetBadSector(i));
  EXPECT_EQ(static_cast<int32_t>(list.size()), c.GetBadSectorCount());
  return list;
}

TEST(ReadRules, RunWithUnreadableSectorsListsExactlyThoseInOrderAndDeliversTheRest) {
  auto disk = PatternDisk(200);
  disk->unreadable = {40, 3, 150};
  auto c = Open(disk);
  platform::AlignedBuffer buf(64 * 512);
  uint32_t got = 99;
  ASSERT_FALSE(c->ReadSectors(buf.data(), 64 * 512, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(BadList(*c), (std::vector<int64_t>{3, 40}));
  EXPECT_EQ(c->GetLastErrorCode(), errc::kCrc);
  EXPECT_EQ(c->GetPosition(), 0u) << "a failed read does not move the position";
  EXPECT_EQ(buf.data()[2 * 512], 2);
  EXPECT_EQ(buf.data()[41 * 512 + 511], 41);
  EXPECT_EQ(std::memcmp(buf.data() + 40 * 512, CDriveController::kMarker, 8), 0)
      << "an unreadable sector's part of the buffer keeps the marker";

  // The same run at an absolute sector: the list names drive sectors and the
  // position stays where it was.
  ASSERT_TRUE(c->SeekToSector(7));
  ASSERT_FALSE(c->ReadSectorsAt(buf.data(), 100, 64));
  EXPECT_EQ(BadList(*c), (std::vector<int64_t>{150}));
  EXPECT_EQ(c->GetPosition(), 7u);

  // A good read clears the list and advances.
  ASSERT_TRUE(c->SeekToSector(50));
  ASSERT_TRUE(c->ReadSectors(buf.data(), 8 * 512, got));
  EXPECT_EQ(got, 8u * 512);
  EXPECT_TRUE(BadList(*c).empty());
  EXPECT_EQ(c->GetPosition(), 58u);
  EXPECT_EQ(buf.data()[0], 50);
}

TEST(ReadRules, OneSectorThatFailsTwiceIsListedAfterOneRetryHundredMillisecondsLater) {
  auto disk = PatternDisk(16);
  disk->unreadable = {5};
  auto c = Open(disk, 100ms);
  disk->keepLog = true;
  ASSERT_TRUE(c->SeekToSector(5));
  platform::AlignedBuffer buf(512);
  uint32_t got = 0;
  ASSERT_FALSE(c->ReadSectors(buf.data(), 512, got));
  EXPECT_EQ(BadList(*c), (std::vector<int64_t>{5}));
  std::vector<MemoryDisk::Transfer> reads;
  for (const auto& t : disk->log) {
    if (t.op == MemoryDisk::Op::Read || t.op == MemoryDisk::Op::ReadAt) reads.push_back(t);
  }
  ASSERT_EQ(reads.size(), 2u) << "one try and one retry, no breakdown of a single sector";
  EXPECT_EQ(reads[0].sector, 5u);
  EXPECT_EQ(reads[1].sector, 5u);
  EXPECT_GE(reads[1].when - reads[0].when, 100ms);

  // A failure that clears on the retry is a success.
  disk->unreadable.clear();
  disk->transientReadFailures = 1;
  EXPECT_TRUE(c->ReadSectors(buf.data(), 512, got));
  EXPECT_EQ(buf.data()[0], 5);
}

TEST(ReadRules, ReadThatDeliversNothingIsAFailureWithAnEmptyList) {
  auto disk = PatternDisk(64);
  auto c = Open(disk);
  platform::AlignedBuffer buf(16 * 512);
  uint32_t got = 0;
  disk->allReadsSilent = true;
  EXPECT_FALSE(c->ReadSectors(buf.data(), 16 * 512, got));
  EXPECT_EQ(c->GetBadSectorCount(), 0);
  EXPECT_FALSE(c->ReadSectorsAt(buf.data(), 3, 4));
  EXPECT_EQ(c->GetBadSectorCount(), 0);
  // Only a buffer holding nothing but the marker counts as empty.
  disk->allReadsSilent = false;
  disk->silentSectors = {9};
  EXPECT_FALSE(c->ReadSectorsAt(buf.data(), 9, 1));
  EXPECT_TRUE(c->ReadSectorsAt(buf.data(), 10, 1));
}

TEST(ReadRules, MarkerFillsEveryWholeChunkAndLeavesTheTailAlone) {
  for (uint32_t size : {0u, 7u, 8u, 24u, 1003u, 65536u + 5u}) {
    std::vector<uint8_t> buf(size + 8, 0xAB);
    CDriveController::FillWithMarker(buf.data(), size);
    const uint32_t chunks = size / 8;
    for (uint32_t i = 0; i < chunks; ++i) {
      ASSERT_EQ(std::memcmp(buf.data() + i * 8, CDriveController::kMarker, 8), 0) << size << " chunk " << i;
    }
    for (size_t i = chunks * 8; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xAB) << size << " byte " << i;
    EXPECT_EQ(CDriveController::HoldsOnlyMarker(buf.data(), size), true) << size;
    if (chunks > 0) {
      buf[chunks * 8 - 1] ^= 1;
      EXPECT_FALSE(CDriveController::HoldsOnlyMarker(buf.data(), size)) << size;
    }
  }
}

TEST(ReadRules, BadSectorIndexOutsideTheListIsMinusOne) {
  auto disk = PatternDisk(32);
  disk->unreadable = {1, 2};
  auto c = Open(disk);
  platform::AlignedBuffer buf(8 * 512);
  ASSERT_FALSE(c->ReadSectorsAt(buf.data(), 0, 8));
  ASSERT_EQ(c->GetBadSectorCount(), 2);
  EXPECT_EQ(c->GetBadSector(-1), -1);
  EXPECT_EQ(c->GetBadSector(2), -1);
  EXPECT_EQ(c->GetBadSector(INT32_MIN), -1);
  EXPECT_EQ(c->GetBadSector(1), 2);
}

TEST(ReadRules, MoreUnreadableSectorsThanTheListHoldsKeepsTheFirst700) {
  auto disk = PatternDisk(1000);
  for (uint64_t s = 100; s < 900; ++s) disk->unreadable.insert(s);
  auto c = Open(disk, 0ms);
  platform::AlignedBuffer buf(1000 * 512);
  ASSERT_FALSE(c->ReadSectorsAt(buf.data(), 0, 1000));
  ASSERT_EQ(c->GetBadSectorCount(), CDriveController::kMaxBadSectors);
  EXPECT_EQ(c->GetBadSector(0), 100);
  EXPECT_EQ(c->GetBadSector(699), 799);
  EXPECT_EQ(buf.data()[950 * 512], static_cast<uint8_t>(950 & 0xFF)) << "the run is read to its end";
}

TEST(WriteRules, FailedWriteRetriesTheSameSectorsOnceAndLeavesThePosition) {
  auto disk = PatternDisk(64);
  disk->unwritable = {20};
  auto c = Open(disk, 100ms);
  disk->keepLog = true;
  ASSERT_TRUE(c->SeekToSector(16));
  platform::AlignedBuffer buf(8 * 512);
  buf.fill(0xAA);
  uint32_t written = 77;
  EXPECT_FALSE(c->WriteSectors(buf.data(), 8 * 512, written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(c->GetLastErrorCode(), errc::kWriteFault);
  EXPECT_EQ(c->GetPosition(), 16u);
  EXPECT_EQ(c->GetBadSectorCount(), 0) << "writes record nothing in the bad-sector list";
  ASSERT_EQ(disk->log.size(), 2u);
  EXPECT_EQ(disk->log[0].sector, 16u);
  EXPECT_EQ(disk->log[1].sector, 16u);
  EXPECT_GE(disk->log[1].when - disk->log[0].when, 100ms);

  disk->unwritable.clear();
  disk->transientWriteFailures = 1;
  EXPECT_TRUE(c->WriteSectors(buf.data(), 8 * 512, written));
  EXPECT_EQ(written, 8u * 512);
  EXPECT_EQ(c->GetPosition(), 24u);
  EXPECT_EQ(disk->Sector(23)[511], 0xAA);
  EXPECT_EQ(disk->Sector(24)[0], 24);
}

struct MediumFault {
  const char* name;
  void (*arrange)(MemoryDisk&);
  uint32_t writeError;
  uint32_t readError;
};

TEST(MediumFaults, EachFaultGivesItsOwnCode) {
  const MediumFault cases[] = {
      {"write-protected", [](MemoryDisk& d) { d.writeProtected = true; }, errc::kWriteProtect, 0},
      {"medium removed", [](MemoryDisk& d) { d.noMedium = true; }, errc::kNoMediaInDrive, errc::kNoMediaInDrive},
      {"device gone", [](MemoryDisk& d) { d.vanishAfterTransfers = 0; }, errc::kNotReady, errc::kNotReady},
  };
  for (const auto& fault : cases) {
    SCOPED_TRACE(fault.name);
    auto disk = PatternDisk(64);
    auto c = Open(disk);
    fault.arrange(*disk);
    platform::AlignedBuffer buf(4 * 512);
    uint32_t n = 0;
    EXPECT_FALSE(c->WriteSectors(buf.data(), 4 * 512, n));
    EXPECT_EQ(c->GetLastErrorCode(), fault.writeError);
    EXPECT_EQ(c->ReadSectors(buf.data(), 4 * 512, n), fault.readError == 0);
    if (fault.readError) {
      EXPECT_EQ(c->GetLastErrorCode(), fault.readError);
    }
  }
}

TEST(MediumFaults, NoMediumFailsTheOpenAndAVanishedMediumFailsEverythingAfter) {
  auto empty = PatternDisk(64);
  empty->noMedium = true;
  CDriveController c([empty](char) { return platform::MakeMemoryBackend(empty); });
  EXPECT_FALSE(c.OpenDrive('f'));
  EXPECT_EQ(c.GetLastErrorCode(), errc::kNoMediaInDrive);

  auto disk = PatternDisk(4096);
  auto v = Open(disk, 0ms);
  disk->vanishAfterTransfers = static_cast<int64_t>(disk->transfers) + 3;
  platform::AlignedBuffer buf(64 * 512);
  uint32_t n = 0;
  int ok = 0;
  for (int i = 0; i < 10; ++i) ok += v->ReadSectors(buf.data(), 64 * 512, n);
  EXPECT_EQ(ok, 3);
  EXPECT_EQ(v->GetLastErrorCode(), errc::kNotReady);
  EXPECT_FALSE(v->Flush());
  EXPECT_EQ(v->GetDriveSizeBytes('e'), 0u);
  EXPECT_EQ(v->GetLastSector(), 0u);
}

TEST(MediumFaults, NoDriveForTheLetterFailsTheOpen) {
  CDriveController c([](char) { return std::unique_ptr<platform::SectorBackend>(); });
  EXPECT_FALSE(c.OpenDrive('q'));
  EXPECT_EQ(c.GetLastErrorCode(), errc::kFileNotFound);
  EXPECT_EQ(c.GetDriveLetter(), 'Q');
  platform::AlignedBuffer buf(512);
  uint32_t n = 0;
  EXPECT_FALSE(c.ReadSectors(buf.data(), 512, n));
  EXPECT_FALSE(c.ReadSectorsAt(buf.data(), 0, 1));
  EXPECT_EQ(c.GetLastSector(), 0u);
}

}  // namespace
