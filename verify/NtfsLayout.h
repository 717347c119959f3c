#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "drive/NtfsCluster.h"

// Readers for the NTFS structures the clean scan looks at: the boot sector,
// MFT file records (with their update-sequence fix-ups), the attribute list
// of a record, the first run of a run list and a $FILE_NAME value. All of
// them work on byte spans and stay inside them.

inline constexpr uint32_t kAttrStandardInformation = 0x10;
inline constexpr uint32_t kAttrFileName = 0x30;
inline constexpr uint32_t kAttrData = 0x80;
inline constexpr uint32_t kAttrIndexRoot = 0x90;
inline constexpr uint32_t kAttrIndexAllocation = 0xA0;
inline constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

struct NtfsBoot {
  uint16_t bytesPerSector = 0;
  uint8_t sectorsPerCluster = 0;
  uint64_t totalSectors = 0;  // in bytesPerSector units
  uint64_t mftCluster = 0;
  uint8_t clustersPerMftRecord = 0;  // 0x40: clusters, or (above 0x80) 2^(256 - value) bytes
};

// From the 84-byte boot-sector copy. False when the copy is too short.
[[nodiscard]] bool ReadNtfsBoot(std::span<const uint8_t> boot, NtfsBoot& out);

// The volume in the controller's 512-byte sectors. Valid with a sector size
// of 512 to 4096 bytes in steps of 512 and clusters of one sector up to
// 2 MiB; any other volume is scanned as plain sectors.
inline constexpr uint32_t kMaxNtfsClusterBytes = 2u << 20;
struct NtfsGeometry {
  bool valid = false;
  uint32_t clusterSectors = 0;     // in the boot sector's own sectors
  uint32_t sectorsPerCluster = 0;  // 512-byte sectors
  uint32_t clusterBytes = 0;
  uint64_t clusterCount = 0;       // total sectors / sectors per cluster
  uint64_t firstMftSector = 0;     // 512-byte sector of MFT record 0
  uint32_t mftRecordBytes = 0;     // from the boot sector; 0 when implausible
};
NtfsGeometry NtfsGeometryOf(const NtfsBoot& boot);

struct MftRecordHeader {
  bool signature = false;          // begins with "FILE"
  uint16_t firstAttribute = 0;     // 0: no attributes
  uint16_t flags = 0;
  uint32_t allocatedSize = 0;      // bytes
  bool InUse() const { return (flags & 1) != 0; }
};

// From the record's first sector (no fix-up is needed for these fields).
// False when the span is shorter than the header.
[[nodiscard]] bool ReadMftRecordHeader(std::span<const uint8_t> firstSector, MftRecordHeader& out);

// The longest record the scan reads whole; a record claiming more (or a size
// that is 0 or not a whole number of sectors) is damaged.
inline constexpr uint32_t kMaxMftRecordBytes = 64 * 1024;
bool IsPlausibleRecordSize(uint32_t allocatedSize);

// Checks the update sequence of a whole record read from disk and, only when
// every 512-byte stride ends in the update sequence number, puts the saved
// bytes back. False (the record is left as it was) for a damaged array or a
// torn write: such a record must not be parsed.
[[nodiscard]] bool ApplyUpdateSequence(std::span<uint8_t> record);

// One attribute of a record: its header fields and its bytes, cut at the
// end of the record.
struct AttributeView {
  uint32_t offset = 0;
  uint32_t type = 0;
  uint32_t length = 0;
  bool nonResident = false;
  std::span<const uint8_t> bytes;
};

// Walks a record's attributes. The first one is at the header's offset; each
// next one is at current + length and is accepted only when it starts before
// the end of the record and either its type has the top bit set (the end
// marker) or it ends strictly before the end of the record. The walk stops at
// the end marker (0xFFFFFFFF) or the first attribute not accepted. An
// attribute whose length could not move the walk on (below 16 bytes) stops it
// and makes the record damaged.
class AttributeWalker {
 public:
  AttributeWalker(std::span<const uint8_t> record, uint16_t firstAttribute);
  [[nodiscard]] bool Next(AttributeView& out);
  bool Damaged() const { return damaged_; }

 private:
  std::span<const uint8_t> record_;
  uint64_t next_;
  bool done_;
  bool damaged_ = false;
};

// The sizes of a non-resident attribute. False when they lie outside it.
[[nodiscard]] bool ReadNonResidentSizes(const AttributeView& attr, uint64_t& allocatedSize,
                                        uint64_t& dataSize);

// The first run of a non-resident attribute's run list. Run-length and
// run-offset fields are read as unsigned numbers of up to 8 bytes; a value
// that does not fit 32 bits, or a field or the byte after the run lying
// outside the attribute, makes the run list damaged (false).
struct FirstRun {
  bool present = false;        // false: the run list is empty
  bool sparse = false;         // run-offset width 0: no clusters on disk
  uint32_t length = 0;         // clusters
  uint32_t offset = 0;         // first cluster (absolute)
  bool secondRunFollows = false;
};
[[nodiscard]] bool ReadFirstRun(const AttributeView& attr, FirstRun& out);

// Whether a resident $FILE_NAME attribute names a prefix of `expected` (N
// code units, N the stored length, at most the expected length, equal to
// the first N of it). False, too, when the value lies outside the attribute.
bool FileNameMatches(const AttributeView& attr, std::string_view expected);

// Every run of a non-resident attribute's run list, in order. Each run's
// offset is signed and relative to the previous run's first cluster; a run
// with no offset field is sparse. The list is damaged when a field lies
// outside the attribute, a length is 0, or a cluster number leaves 0..2^63.
struct DataRun {
  uint64_t length = 0;  // clusters
  uint64_t lcn = 0;     // first cluster (absolute); meaningless when sparse
  bool sparse = false;
};
class RunListReader {
 public:
  explicit RunListReader(const AttributeView& attr);
  [[nodiscard]] bool Next(DataRun& out);
  bool Damaged() const { return damaged_; }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
  int64_t lcn_ = 0;
  bool done_ = false;
  bool damaged_ = false;
};

// A $FILE_NAME value (the key of a directory index entry, or the value of a
// resident 0x30 attribute): the parent folder's record number and the name
// in UTF-16 code units.
struct FileNameKey {
  uint64_t parentRecord = 0;  // low 48 bits of the parent reference
  uint8_t nameSpace = 0;
  std::span<const uint8_t> name;  // 2 bytes a code unit
};
// False when the value is too short for its name.
[[nodiscard]] bool ReadFileNameKey(std::span<const uint8_t> value, FileNameKey& out);
// The name equals `ascii` exactly (letter case as written).
bool FileNameIs(const FileNameKey& key, std::string_view ascii);

// The index header of an index root value (at 0x10) or an index block (at
// 0x18): where its entries lie, relative to the header.
struct IndexHeader {
  uint32_t entriesOffset = 0;
  uint32_t bytesInUse = 0;
  uint32_t bytesAllocated = 0;
};
[[nodiscard]] bool ReadIndexHeader(std::span<const uint8_t> node, size_t at, IndexHeader& out);

// One entry of an index node: the file it names and its key.
struct IndexEntryView {
  uint64_t fileRecord = 0;  // low 48 bits of the file reference
  uint16_t length = 0;
  uint16_t flags = 0;       // 2: the last entry of the node (no key)
  std::span<const uint8_t> key;
  bool Last() const { return (flags & 2) != 0; }
};
// Walks the entries of `entries` (the header's in-use part). Stops at the
// last entry; an entry shorter than 16 bytes, not a multiple of 8 or running
// past the span makes the node damaged.
class IndexEntryWalker {
 public:
  explicit IndexEntryWalker(std::span<const uint8_t> entries) : entries_(entries) {}
  [[nodiscard]] bool Next(IndexEntryView& out);
  bool Damaged() const { return damaged_; }

 private:
  std::span<const uint8_t> entries_;
  size_t at_ = 0;
  bool done_ = false;
  bool damaged_ = false;
};
