#include "verify/NtfsLayout.h"

#include <algorithm>

#include "verify/LeBytes.h"

bool ReadNtfsBoot(std::span<const uint8_t> boot, NtfsBoot& out) {
  NtfsBoot b;
  if (!le::U16(boot, 0x0B, b.bytesPerSector) || !le::U8(boot, 0x0D, b.sectorsPerCluster) ||
      !le::U64(boot, 0x28, b.totalSectors) || !le::U64(boot, 0x30, b.mftCluster) ||
      !le::U8(boot, 0x40, b.clustersPerMftRecord)) {
    return false;
  }
  out = b;
  return true;
}

NtfsGeometry NtfsGeometryOf(const NtfsBoot& boot) {
  NtfsGeometry g;
  const uint32_t bps = boot.bytesPerSector;
  if (bps == 0 || bps % 512 != 0 || bps > 4096) return g;
  const uint32_t clusterSectors = NtfsClusterSectors(boot.sectorsPerCluster);
  if (clusterSectors == 0 || uint64_t{clusterSectors} * bps > kMaxNtfsClusterBytes) return g;
  const uint32_t factor = bps / 512;
  g.clusterSectors = clusterSectors;
  g.sectorsPerCluster = clusterSectors * factor;
  g.clusterBytes = clusterSectors * bps;
  g.clusterCount = boot.totalSectors / clusterSectors;
  // A hostile MFT cluster is kept from wrapping; reads there simply fail.
  const uint64_t limit = UINT64_MAX / g.sectorsPerCluster;
  g.firstMftSector = boot.mftCluster > limit ? UINT64_MAX : boot.mftCluster * g.sectorsPerCluster;
  // Records of one cluster or more are counted in clusters, smaller ones as
  // a power of two of bytes.
  const uint8_t raw = boot.clustersPerMftRecord;
  const uint64_t recordBytes = raw == 0 ? 0 : raw < 0x80 ? uint64_t{raw} * g.clusterBytes
                                        : (256u - raw) < 32 ? uint64_t{1} << (256u - raw) : 0;
  g.mftRecordBytes = IsPlausibleRecordSize(static_cast<uint32_t>(std::min<uint64_t>(recordBytes, UINT32_MAX)))
                         ? static_cast<uint32_t>(recordBytes)
                         : 0;
  g.valid = true;
  return g;
}

bool ReadMftRecordHeader(std::span<const uint8_t> firstSector, MftRecordHeader& out) {
  MftRecordHeader h;
  if (!le::U16(firstSector, 0x14, h.firstAttribute) || !le::U16(firstSector, 0x16, h.flags) ||
      !le::U32(firstSector, 0x1C, h.allocatedSize)) {
    return false;
  }
  h.signature = firstSector[0] == 'F' && firstSector[1] == 'I' && firstSector[2] == 'L' &&
                firstSector[3] == 'E';
  out = h;
  return true;
}

bool IsPlausibleRecordSize(uint32_t allocatedSize) {
  return allocatedSize != 0 && allocatedSize % 512 == 0 && allocatedSize <= kMaxMftRecordBytes;
}

bool ApplyUpdateSequence(std::span<uint8_t> record) {
  // The update sequence array (offset at 0x04, count at 0x06) holds the
  // sequence number and then the saved last two bytes of every 512-byte
  // stride; the array itself must sit in the first stride, before its end.
  uint16_t usaOffset, usaCount;
  if (!le::U16(record, 0x04, usaOffset) || !le::U16(record, 0x06, usaCount)) return false;
  if (record.size() == 0 || record.size() % 512 != 0) return false;
  const size_t strides = record.size() / 512;
  if (usaCount != strides + 1) return false;
  if (size_t{usaOffset} + size_t{usaCount} * 2 > 510) return false;
  uint16_t usn;
  if (!le::U16(record, usaOffset, usn)) return false;
  // Every stride is checked before any is changed.
  for (size_t i = 0; i < strides; ++i) {
    uint16_t tail;
    if (!le::U16(record, i * 512 + 510, tail) || tail != usn) return false;
  }
  for (size_t i = 0; i < strides; ++i) {
    record[i * 512 + 510] = record[usaOffset + 2 + 2 * i];
    record[i * 512 + 511] = record[usaOffset + 3 + 2 * i];
  }
  return true;
}

AttributeWalker::AttributeWalker(std::span<const uint8_t> record, uint16_t firstAttribute)
    : record_(record), next_(firstAttribute), done_(firstAttribute == 0) {}

bool AttributeWalker::Next(AttributeView& out) {
  if (done_) return false;
  done_ = true;  // until this attribute is accepted
  const uint64_t end = record_.size();
  uint32_t type;
  if (next_ >= end || !le::U32(record_, static_cast<size_t>(next_), type)) return false;
  if (type == kAttrEnd) return false;
  uint32_t length;
  if (!le::U32(record_, static_cast<size_t>(next_) + 4, length)) return false;
  const bool endMarker = (type & 0x80000000u) != 0;
  if (!endMarker && next_ + length >= end) return false;
  if (length < 16) {
    damaged_ = true;
    return false;
  }
  AttributeView a;
  a.offset = static_cast<uint32_t>(next_);
  a.type = type;
  a.length = length;
  const uint64_t stop = next_ + length < end ? next_ + length : end;
  a.bytes = record_.subspan(static_cast<size_t>(next_), static_cast<size_t>(stop - next_));
  uint8_t nonResident = 0;
  if (!le::U8(a.bytes, 0x08, nonResident)) {
    damaged_ = true;
    return false;
  }
  a.nonResident = nonResident != 0;
  out = a;
  next_ += length;
  done_ = false;
  return true;
}

bool ReadNonResidentSizes(const AttributeView& attr, uint64_t& allocatedSize, uint64_t& dataSize) {
  uint64_t a, d;
  if (!le::U64(attr.bytes, 0x28, a) || !le::U64(attr.bytes, 0x30, d)) return false;
  allocatedSize = a;
  dataSize = d;
  return true;
}

bool ReadFirstRun(const AttributeView& attr, FirstRun& out) {
  uint16_t runOffset;
  uint8_t header;
  if (!le::U16(attr.bytes, 0x20, runOffset) || !le::U8(attr.bytes, runOffset, header)) return false;
  FirstRun run;
  if (header == 0) {
    out = run;
    return true;
  }
  const size_t lengthWidth = header & 0x0F;
  const size_t offsetWidth = header >> 4;
  uint64_t length, offset;
  const size_t at = size_t{runOffset} + 1;
  if (!le::ReadUnsigned(attr.bytes, at, lengthWidth, length) ||
      !le::ReadUnsigned(attr.bytes, at + lengthWidth, offsetWidth, offset)) {
    return false;
  }
  if (length > UINT32_MAX || offset > UINT32_MAX) return false;
  uint8_t following;
  if (!le::U8(attr.bytes, at + lengthWidth + offsetWidth, following)) return false;
  run.present = true;
  run.sparse = offsetWidth == 0;
  run.length = static_cast<uint32_t>(length);
  run.offset = static_cast<uint32_t>(offset);
  run.secondRunFollows = following != 0;
  out = run;
  return true;
}

bool FileNameMatches(const AttributeView& attr, std::string_view expected) {
  uint16_t valueOffset;
  uint8_t length;
  if (attr.nonResident || !le::U16(attr.bytes, 0x14, valueOffset) ||
      !le::U8(attr.bytes, size_t{valueOffset} + 0x40, length)) {
    return false;
  }
  if (length > expected.size()) return false;
  const size_t name = size_t{valueOffset} + 0x42;
  if (!le::Fits(attr.bytes, name, size_t{length} * 2)) return false;
  for (size_t i = 0; i < length; ++i) {
    uint16_t unit;
    if (!le::U16(attr.bytes, name + 2 * i, unit)) return false;
    if (unit != static_cast<unsigned char>(expected[i])) return false;
  }
  return true;
}

RunListReader::RunListReader(const AttributeView& attr) {
  uint16_t runOffset;
  if (!le::U16(attr.bytes, 0x20, runOffset) || runOffset > attr.bytes.size()) {
    damaged_ = done_ = true;
    return;
  }
  bytes_ = attr.bytes;
  at_ = runOffset;
}

bool RunListReader::Next(DataRun& out) {
  if (done_) return false;
  done_ = true;  // until this run is accepted
  uint8_t header;
  if (!le::U8(bytes_, at_, header)) {
    damaged_ = true;
    return false;
  }
  if (header == 0) return false;
  const size_t lengthWidth = header & 0x0F;
  const size_t offsetWidth = header >> 4;
  uint64_t length, offset;
  if (!le::ReadUnsigned(bytes_, at_ + 1, lengthWidth, length) ||
      !le::ReadUnsigned(bytes_, at_ + 1 + lengthWidth, offsetWidth, offset) || length == 0 ||
      length > (uint64_t{1} << 62)) {
    damaged_ = true;
    return false;
  }
  DataRun run;
  run.length = length;
  run.sparse = offsetWidth == 0;
  if (!run.sparse) {
    // The offset is a signed number of offsetWidth bytes.
    int64_t delta;
    if (offsetWidth < 8 && (offset >> (8 * offsetWidth - 1)) != 0) {
      delta = static_cast<int64_t>(offset | (~uint64_t{0} << (8 * offsetWidth)));
    } else {
      delta = static_cast<int64_t>(offset);
    }
    if ((delta > 0 && lcn_ > INT64_MAX - delta) || lcn_ + delta < 0) {
      damaged_ = true;
      return false;
    }
    lcn_ += delta;
    run.lcn = static_cast<uint64_t>(lcn_);
  }
  at_ += 1 + lengthWidth + offsetWidth;
  out = run;
  done_ = false;
  return true;
}

bool ReadFileNameKey(std::span<const uint8_t> value, FileNameKey& out) {
  uint64_t parent;
  uint8_t length, nameSpace;
  if (!le::U64(value, 0x00, parent) || !le::U8(value, 0x40, length) || !le::U8(value, 0x41, nameSpace) ||
      !le::Fits(value, 0x42, size_t{length} * 2)) {
    return false;
  }
  out.parentRecord = parent & 0xFFFFFFFFFFFFull;
  out.nameSpace = nameSpace;
  out.name = value.subspan(0x42, size_t{length} * 2);
  return true;
}

bool FileNameIs(const FileNameKey& key, std::string_view ascii) {
  if (key.name.size() != ascii.size() * 2) return false;
  for (size_t i = 0; i < ascii.size(); ++i) {
    if (key.name[2 * i] != static_cast<uint8_t>(ascii[i]) || key.name[2 * i + 1] != 0) return false;
  }
  return true;
}

bool ReadIndexHeader(std::span<const uint8_t> node, size_t at, IndexHeader& out) {
  IndexHeader h;
  if (!le::U32(node, at, h.entriesOffset) || !le::U32(node, at + 4, h.bytesInUse) ||
      !le::U32(node, at + 8, h.bytesAllocated)) {
    return false;
  }
  out = h;
  return true;
}

bool IndexEntryWalker::Next(IndexEntryView& out) {
  if (done_) return false;
  done_ = true;  // until this entry is accepted
  uint64_t reference;
  uint16_t length, keyLength, flags;
  if (!le::U64(entries_, at_, reference) || !le::U16(entries_, at_ + 8, length) ||
      !le::U16(entries_, at_ + 10, keyLength) || !le::U16(entries_, at_ + 12, flags) || length < 16 ||
      length % 8 != 0 || !le::Fits(entries_, at_, length) || size_t{keyLength} + 16 > length) {
    damaged_ = true;
    return false;
  }
  IndexEntryView e;
  e.fileRecord = reference & 0xFFFFFFFFFFFFull;
  e.length = length;
  e.flags = flags;
  if (!e.Last()) e.key = entries_.subspan(at_ + 16, keyLength);
  at_ += length;
  out = e;
  done_ = e.Last();
  return true;
}
