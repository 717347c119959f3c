#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

// Little-endian fields of the blocks the Windows disk services exchange
// (register blocks, disk I/O packets, geometry and device parameters). A
// read outside the block gives 0 and a write outside it is dropped, so a
// short or hostile block can make a call fail, never reach past a buffer.
namespace platform::win32api::lefield {

inline uint64_t Get(std::span<const uint8_t> bytes, size_t offset, size_t width) {
  if (offset > bytes.size() || width > bytes.size() - offset) return 0;
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(bytes[offset + i]) << (8 * i);
  return value;
}
inline uint16_t Get16(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint16_t>(Get(bytes, offset, 2));
}
inline uint32_t Get32(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint32_t>(Get(bytes, offset, 4));
}
inline uint64_t Get64(std::span<const uint8_t> bytes, size_t offset) { return Get(bytes, offset, 8); }

inline void Put(std::span<uint8_t> bytes, size_t offset, size_t width, uint64_t value) {
  if (offset > bytes.size() || width > bytes.size() - offset) return;
  for (size_t i = 0; i < width; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace platform::win32api::lefield
