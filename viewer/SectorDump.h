#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace viewer {

inline constexpr size_t kDumpSectorBytes = 512;
inline constexpr size_t kDumpRowBytes = 16;
inline constexpr size_t kDumpRows = kDumpSectorBytes / kDumpRowBytes;  // 32

// The sector viewer's text for one 512-byte sector: 32 rows of 16 bytes,
// each "0xOOOO:  " + four groups of two bytes in lower-case hex with a space
// after each group, "- ", the second eight bytes the same way, "| ", then
// the 16 bytes as characters (a byte below 0x20 or above 0x7F as '.'), and
// CR LF after every row but the last. 32 × 71 − 2 characters in all.
std::string FormatSectorDump(const uint8_t (&sector)[kDumpSectorBytes]);
// The same for a buffer the caller vouches holds at least 512 bytes; fewer
// (or none) gives an empty text rather than a read past the end.
std::string FormatSectorDump(const uint8_t* data, size_t size);

}  // namespace viewer
