#include <gtest/gtest.h>

#include <cstring>

#include "viewer/SectorDump.h"

namespace {

std::vector<std::string> Rows(const std::string& text) {
  std::vector<std::string> rows;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find("\r\n", start);
    rows.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return rows;
}

TEST(SectorDump, NtfsBootRowReadsAsTheViewerShowsIt) {
  uint8_t sector[512] = {0xEB, 0x52, 0x90, 0x4E, 0x54, 0x46, 0x53, 0x20,
                         0x20, 0x20, 0x20, 0x00, 0x02, 0x08, 0x00, 0x00};
  const std::string text = viewer::FormatSectorDump(sector);
  const auto rows = Rows(text);
  ASSERT_EQ(rows.size(), 32u);
  // Bytes 8-15 are 20 20 20 00 02 08 00 00: the hex follows the bytes in
  // order, two to a group.
  EXPECT_EQ(rows[0], "0x0000:  eb52 904e 5446 5320 - 2020 2000 0208 0000 | .R.NTFS    .....");
  EXPECT_EQ(rows[0].size(), 69u);
  EXPECT_EQ(text.size(), 32u * 71 - 2) << "CR LF after every row but the last";
  EXPECT_NE(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(rows[31].substr(0, 9), "0x01F0:  ");
  EXPECT_EQ(rows[1], "0x0010:  0000 0000 0000 0000 - 0000 0000 0000 0000 | ................");
}

TEST(SectorDump, TextColumnShowsPrintableBytesAnd7FButNotControlsOrHighBytes) {
  uint8_t sector[512] = {};
  const uint8_t row[16] = {0x7F, 0x80, 0x0A, 0x1F, 0x20, 'A', 'z', '~', 0xFF, '|', '.', 0x00, 0x81, '0', '9', 0x7E};
  std::memcpy(sector + 16 * 5, row, 16);
  const auto rows = Rows(viewer::FormatSectorDump(sector));
  EXPECT_EQ(rows[5], "0x0050:  7f80 0a1f 2041 7a7e - ff7c 2e00 8130 397e | \x7f... Az~.|...09~");
}

TEST(SectorDump, TooShortBufferGivesNoText) {
  uint8_t small[100] = {};
  EXPECT_EQ(viewer::FormatSectorDump(small, sizeof small), "");
  EXPECT_EQ(viewer::FormatSectorDump(nullptr, 512), "");
}

}  // namespace
