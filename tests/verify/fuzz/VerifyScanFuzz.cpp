// libFuzzer target: hostile boot sectors, MFT records and run lists on an
// in-memory disk, through the layout readers and the scans. The first input
// byte chooses what the input is; the rest is the data.
//   mode % 4 == 0: an MFT record for the record readers (fix-ups, attribute
//                  walk, run lists, file names, an index root's entries),
//                  or with bit 2 set an index block (fix-ups, index header,
//                  entries and their file-name keys)
//   otherwise:     a disk image (from sector 0) scanned as FAT12/16, FAT32,
//                  NTFS or unknown, full or quick, with a bad sector or not.
// Run build/fuzz/tests/verify/fuzz_verify_scan -max_total_time=60.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "drive/CDriveController.h"
#include "platform/MemoryBackend.h"
#include "verify/CCleanScan.h"
#include "verify/LeBytes.h"
#include "verify/NtfsLayout.h"

namespace {

// Every entry of an index node and its key, as the root-folder check reads
// them.
void FuzzIndexNode(std::span<const uint8_t> node) {
  IndexHeader header;
  if (!ReadIndexHeader(node, 0, header) || header.entriesOffset > header.bytesInUse ||
      header.bytesInUse > node.size()) {
    return;
  }
  IndexEntryWalker entries(node.subspan(header.entriesOffset, header.bytesInUse - header.entriesOffset));
  IndexEntryView entry;
  int guard = 0;
  while (entries.Next(entry) && ++guard < 100000) {
    FileNameKey key;
    if (ReadFileNameKey(entry.key, key)) (void)FileNameIs(key, "$MFT");
  }
}

void FuzzIndexBlock(const uint8_t* data, size_t size) {
  std::vector<uint8_t> block(data, data + size);
  block.resize((block.size() + 511) / 512 * 512, 0);
  (void)ApplyUpdateSequence(block);
  if (block.size() > 0x18) FuzzIndexNode(std::span<const uint8_t>(block).subspan(0x18));
}

void FuzzRecord(const uint8_t* data, size_t size) {
  std::vector<uint8_t> record(data, data + size);
  MftRecordHeader header;
  if (!ReadMftRecordHeader(record, header)) return;
  // Sizes that are not whole sectors get a whole-sector record of their own.
  record.resize((record.size() + 511) / 512 * 512, 0);
  (void)ApplyUpdateSequence(record);
  AttributeWalker walker(record, header.firstAttribute);
  AttributeView attr;
  int guard = 0;
  while (walker.Next(attr) && ++guard < 100000) {
    FirstRun run;
    uint64_t allocated, dataSize;
    (void)ReadFirstRun(attr, run);
    (void)ReadNonResidentSizes(attr, allocated, dataSize);
    (void)FileNameMatches(attr, "$MFTMirr");
    if (attr.nonResident) {
      RunListReader runs(attr);
      DataRun r;
      int runGuard = 0;
      while (runs.Next(r) && ++runGuard < 100000) {
      }
    }
    uint16_t valueOffset;
    if (!attr.nonResident && attr.bytes.size() >= 0x16 && le::U16(attr.bytes, 0x14, valueOffset) &&
        valueOffset < attr.bytes.size()) {
      const std::span<const uint8_t> value = attr.bytes.subspan(valueOffset);
      FileNameKey key;
      if (attr.type == kAttrFileName) (void)ReadFileNameKey(value, key);
      if (attr.type == kAttrIndexRoot && value.size() > 0x10) FuzzIndexNode(value.subspan(0x10));
    }
  }
}

void FuzzScan(uint8_t mode, const uint8_t* data, size_t size) {
  constexpr uint64_t kSectors = 512;  // 256 KiB
  auto disk = std::make_shared<platform::MemoryDisk>(kSectors);
  std::memcpy(disk->bytes.data(), data, std::min<size_t>(size, disk->bytes.size()));
  const int kind = (mode >> 2) & 3;
  platform::VolumeInformation volume;
  volume.label = "FUZZ";
  volume.fileSystem = kind == 0 ? "FAT" : kind == 1 ? "FAT32" : kind == 2 ? "NTFS" : "";
  if (kind == 3) {
    disk->volumeUnavailable = true;
  } else {
    disk->volume = volume;
  }
  if (mode & 0x10) disk->unreadable.insert(size > 1 ? data[1] : 1);
  const bool quick = (mode & 0x20) != 0;

  CDriveController drive([disk](char) { return platform::MakeMemoryBackend(disk); });
  drive.SetRetryPause(std::chrono::milliseconds(0));
  if (!drive.OpenDrive('E') && drive.GetLastErrorCode() != errc::kUnrecognizedVolume) return;
  CCleanScan scan(drive, nullptr, {}, quick);
  const uint8_t type = drive.GetFileSystemType();
  // The same choices as the verify thread.
  if (type == FS_NTFS) {
    uint8_t boot[84];
    drive.CopyNtfsBootSector(boot);
    NtfsBoot ntfs;
    const NtfsGeometry geometry = ReadNtfsBoot(boot, ntfs) ? NtfsGeometryOf(ntfs) : NtfsGeometry{};
    if (geometry.valid) {
      const uint64_t medium = (drive.GetLastSector() + 1) * 512 / ntfs.bytesPerSector;
      if (scan.CreateDirtySet(std::min(ntfs.totalSectors, medium) / geometry.clusterSectors, false)) {
        scan.ScanNtfs(ntfs);
      }
      return;
    }
    if (scan.CreateDirtySet(drive.GetLastSector(), true)) scan.ScanRaw();
  } else if (type == FS_FAT12 || type == FS_FAT16 || type == FS_FAT32) {
    if (scan.CreateDirtySet(drive.GetTotalSectors(), true)) scan.ScanFat(type);
  } else {
    if (scan.CreateDirtySet(drive.GetLastSector(), true)) scan.ScanRaw();
  }
  // Whatever was found, the set browses to its end.
  if (CDirtyBitmap* set = scan.DirtySet()) {
    for (uint64_t p = set->FindFirst(); p < set->BitCount(); p = set->FindNext()) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  if (mode % 4 == 0 && (mode & 4) != 0) {
    FuzzIndexBlock(data + 1, size - 1);
  } else if (mode % 4 == 0) {
    FuzzRecord(data + 1, size - 1);
  } else {
    FuzzScan(mode, data + 1, size - 1);
  }
  return 0;
}
