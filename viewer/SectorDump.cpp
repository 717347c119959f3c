#include "viewer/SectorDump.h"

namespace viewer {
namespace {
constexpr char kHex[] = "0123456789abcdef";
constexpr char kHexUpper[] = "0123456789ABCDEF";
constexpr size_t kRowChars = 71;  // 69 of text and CR LF

void AppendHalfRow(std::string& out, const uint8_t* bytes) {
  for (int i = 0; i < 8; ++i) {
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 0xF]);
    if (i % 2 == 1) out.push_back(' ');
  }
}
}  // namespace

std::string FormatSectorDump(const uint8_t* data, size_t size) {
  if (!data || size < kDumpSectorBytes) return {};
  std::string out;
  out.reserve(kDumpRows * kRowChars);
  for (size_t r = 0; r < kDumpRows; ++r) {
    const uint8_t* row = data + r * kDumpRowBytes;
    const unsigned offset = static_cast<unsigned>(r * kDumpRowBytes);
    out += "0x";
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHexUpper[(offset >> shift) & 0xF]);
    out += ":  ";
    AppendHalfRow(out, row);
    out += "- ";
    AppendHalfRow(out, row + 8);
    out += "| ";
    for (size_t i = 0; i < kDumpRowBytes; ++i) {
      // 0x7F is shown as itself, as the viewer always has.
      out.push_back(row[i] < 0x20 || row[i] > 0x7F ? '.' : static_cast<char>(row[i]));
    }
    if (r + 1 < kDumpRows) out += "\r\n";
  }
  return out;
}

std::string FormatSectorDump(const uint8_t (&sector)[kDumpSectorBytes]) {
  return FormatSectorDump(sector, kDumpSectorBytes);
}

}  // namespace viewer
