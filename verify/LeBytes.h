#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

// Little-endian fields read out of on-disk structures. Every read names the
// span it reads from and fails, leaving `out` untouched, when the field does
// not lie wholly inside it: a damaged or hostile boot sector, MFT record or
// run list can make a scan judge a structure bad, never read past a buffer.
namespace le {

[[nodiscard]] inline bool Fits(std::span<const uint8_t> bytes, size_t offset, size_t width) {
  return offset <= bytes.size() && width <= bytes.size() - offset;
}

// An unsigned field of `width` bytes (0 to 8; a width of 0 reads as 0).
[[nodiscard]] inline bool ReadUnsigned(std::span<const uint8_t> bytes, size_t offset, size_t width,
                                       uint64_t& out) {
  if (width > 8 || !Fits(bytes, offset, width)) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(bytes[offset + i]) << (8 * i);
  out = value;
  return true;
}

[[nodiscard]] inline bool U8(std::span<const uint8_t> bytes, size_t offset, uint8_t& out) {
  if (!Fits(bytes, offset, 1)) return false;
  out = bytes[offset];
  return true;
}

[[nodiscard]] inline bool U16(std::span<const uint8_t> bytes, size_t offset, uint16_t& out) {
  uint64_t v;
  if (!ReadUnsigned(bytes, offset, 2, v)) return false;
  out = static_cast<uint16_t>(v);
  return true;
}

[[nodiscard]] inline bool U32(std::span<const uint8_t> bytes, size_t offset, uint32_t& out) {
  uint64_t v;
  if (!ReadUnsigned(bytes, offset, 4, v)) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

[[nodiscard]] inline bool U64(std::span<const uint8_t> bytes, size_t offset, uint64_t& out) {
  return ReadUnsigned(bytes, offset, 8, out);
}

}  // namespace le
