#include "verify/NtfsLayout.h"

#include "verify/LeBytes.h"

bool ReadNtfsBoot(std::span<const uint8_t> boot, NtfsBoot& out) {
  NtfsBoot b;
  if (!le::U16(boot, 0x0B, b.bytesPerSector) || !le::U8(boot, 0x0D, b.sectorsPerCluster) ||
      !le::U64(boot, 0x28, b.totalSectors) || !le::U64(boot, 0x30, b.mftCluster)) {
    return false;
  }
  out = b;
  return true;
}

NtfsGeometry NtfsGeometryOf(const NtfsBoot& boot) {
  NtfsGeometry g;
  const uint32_t bps = boot.bytesPerSector;
  if (boot.sectorsPerCluster == 0 || boot.sectorsPerCluster >= 128) return g;
  if (bps == 0 || bps % 512 != 0 || bps > 4096) return g;
  const uint32_t factor = bps / 512;
  g.sectorsPerCluster = boot.sectorsPerCluster * factor;
  g.clusterBytes = uint32_t{boot.sectorsPerCluster} * bps;
  g.clusterCount = boot.totalSectors / boot.sectorsPerCluster;
  // A hostile MFT cluster is kept from wrapping; reads there simply fail.
  const uint64_t limit = UINT64_MAX / g.sectorsPerCluster;
  g.firstMftSector = boot.mftCluster > limit ? UINT64_MAX : boot.mftCluster * g.sectorsPerCluster;
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
