#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "verify/CleanTest.h"

namespace {

std::vector<uint8_t> Pairs(size_t n, uint8_t seed) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i + 1 < n; i += 2) {
    b[i] = static_cast<uint8_t>(seed + i * 37);
    b[i + 1] = static_cast<uint8_t>(b[i] ^ 0xFF);
  }
  return b;
}

TEST(ReferencePattern, ComplementaryFirstBytesMeanPairMode) {
  EXPECT_TRUE(ReferencePatternOf(0x55, 0xAA).pairMode);
  EXPECT_TRUE(ReferencePatternOf(0x00, 0xFF).pairMode);
  const ReferencePattern ones = ReferencePatternOf(0xFF, 0xFF);
  EXPECT_FALSE(ones.pairMode);
  EXPECT_EQ(ones.referenceByte, 0xFF);
  const ReferencePattern odd = ReferencePatternOf(0x12, 0x34);
  EXPECT_FALSE(odd.pairMode);
  EXPECT_EQ(odd.referenceByte, 0x12);
}

TEST(IsCleanBlock, Cases) {
  std::vector<uint8_t> zeros(512, 0), ones(512, 0xFF), pairs = Pairs(512, 3);
  std::vector<uint8_t> flipped(512);  // 0xAA 0x55 ... passes a 0x55 0xAA reference
  for (size_t i = 0; i < 512; i += 2) {
    flipped[i] = 0xAA;
    flipped[i + 1] = 0x55;
  }
  std::vector<uint8_t> zerosThenOnes(512, 0xFF);
  std::fill(zerosThenOnes.begin(), zerosThenOnes.begin() + 100, 0);
  std::vector<uint8_t> oneDirtyByte = ones;
  oneDirtyByte[300] = 0x41;
  std::vector<uint8_t> brokenPair = pairs;
  brokenPair[301] ^= 0x01;
  // After an odd number of leading zeros the last byte has no partner.
  std::vector<uint8_t> oddTail(512, 0);
  for (size_t i = 3; i + 1 < 512; i += 2) {
    oddTail[i] = 0x0F;
    oddTail[i + 1] = 0xF0;
  }
  oddTail[511] = 0x0F;
  std::vector<uint8_t> oneLeadingZero = ones;  // 00 FF ...: no zero skip
  oneLeadingZero[0] = 0;

  struct Case {
    const char* what;
    const std::vector<uint8_t>& block;
    bool pair;
    uint8_t ref;
    bool clean;
  };
  const Case cases[] = {
      {"zeros, single mode with 0xFF", zeros, false, 0xFF, true},
      {"zeros, pair mode", zeros, true, 0, true},
      {"ones, reference 0xFF", ones, false, 0xFF, true},
      {"ones, reference 0x00", ones, false, 0x00, false},
      {"pairs in pair mode", pairs, true, 0, true},
      {"flipped pairs in pair mode", flipped, true, 0, true},
      {"pairs in single mode", pairs, false, pairs[0], false},
      {"leading zeros then the reference", zerosThenOnes, false, 0xFF, true},
      {"one dirty byte", oneDirtyByte, false, 0xFF, false},
      {"a broken pair", brokenPair, true, 0, false},
      {"an unpaired last byte", oddTail, true, 0, false},
      {"one leading zero is not skipped", oneLeadingZero, false, 0xFF, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsCleanBlock(c.block, c.pair, c.ref, nullptr), c.clean) << c.what;
  }
}

TEST(CleanSample, MatchesSlicesTheLengthOfTheBlock) {
  std::vector<uint8_t> sample(2560);
  std::iota(sample.begin(), sample.end(), 0);  // bytes 0..255 repeating
  for (size_t i = 0; i < sample.size(); ++i) sample[i] = static_cast<uint8_t>(i * 7 + i / 256);
  CCleanSample clean;
  clean.Set(sample);

  auto slice = [&](size_t from, size_t n) { return std::vector<uint8_t>(sample.begin() + from, sample.begin() + from + n); };
  EXPECT_TRUE(clean.Matches(slice(0, 1024)));
  EXPECT_TRUE(clean.Matches(slice(1024, 1024)));
  // The last slice is 512 bytes: only the block's first 512 are compared.
  std::vector<uint8_t> tail = slice(2048, 512);
  tail.resize(1024, 0xEE);
  EXPECT_TRUE(clean.Matches(tail));
  EXPECT_FALSE(clean.Matches(slice(512, 1024)));  // not at a slice boundary
  for (size_t at = 0; at < 2560; at += 512) EXPECT_TRUE(clean.Matches(slice(at, 512))) << at;
  EXPECT_FALSE(clean.Matches(std::vector<uint8_t>(4096, 0)));  // longer than the sample

  // A dirty block equal to a sample slice is clean through the sample.
  std::vector<uint8_t> block = slice(512, 512);
  EXPECT_FALSE(IsCleanBlock(block, false, 0xFF, nullptr));
  EXPECT_TRUE(IsCleanBlock(block, false, 0xFF, &clean));

  CCleanSample none;
  EXPECT_FALSE(none.Matches(slice(0, 512)));
}

TEST(CleanSample, AShortFileLeavesTheRestZero) {
  CCleanSample clean;
  const std::vector<uint8_t> shortFile(100, 0x5A);
  clean.Set(shortFile);
  std::vector<uint8_t> block(512, 0);
  std::fill(block.begin(), block.begin() + 100, 0x5A);
  EXPECT_TRUE(clean.Matches(block));
  std::fill(block.begin() + 100, block.end(), 0x5A);  // not what follows in the buffer
  EXPECT_FALSE(clean.Matches(block));
}

TEST(VolumeLabelEntry, NeedsTheLabelBitNoClusterOrSizeAndALiveShortEntry) {
  std::vector<uint8_t> e(32, 0);
  std::copy_n("CLEANED    ", 11, e.begin());
  e[11] = 0x08;
  e[22] = 0x12;  // a time stamp does not matter
  EXPECT_TRUE(IsVolumeLabelEntry(e));
  e[11] = 0x20;
  EXPECT_FALSE(IsVolumeLabelEntry(e));
  e[11] = 0x28;
  EXPECT_TRUE(IsVolumeLabelEntry(e));
  e[26] = 3;  // a first cluster: a file, not a label
  EXPECT_FALSE(IsVolumeLabelEntry(e));
  EXPECT_FALSE(IsVolumeLabelEntry(std::span<const uint8_t>(e).first(31)));
  e[26] = 0;
  // Long-name slots carry the label bit; deleted and unused slots are no
  // label either, whatever their attributes say.
  e[11] = 0x0F;
  EXPECT_FALSE(IsVolumeLabelEntry(e));
  e[11] = 0x08;
  e[0] = 0xE5;
  EXPECT_FALSE(IsVolumeLabelEntry(e));
  e[0] = 0x00;
  EXPECT_FALSE(IsVolumeLabelEntry(e));
}

}  // namespace

namespace {

// The whole-run checks go 4 KiB at a time and then byte by byte: a single
// bad byte anywhere, in either part, must be seen.
TEST(WholeRunChecks, SeeOneBadByteAnywhere) {
  const size_t n = 8192 + 100;
  for (size_t at : {size_t{0}, size_t{7}, size_t{4095}, size_t{4096}, size_t{8191}, size_t{8192}, n - 1}) {
    std::vector<uint8_t> ones(n, 0xFF);
    EXPECT_TRUE(AllBytesEqual(ones, 0xFF));
    ones[at] = 0xFE;
    EXPECT_FALSE(AllBytesEqual(ones, 0xFF)) << at;
    EXPECT_FALSE(IsCleanBlock(ones, false, 0xFF, nullptr)) << at;

    std::vector<uint8_t> pairs = Pairs(n, 11);
    EXPECT_TRUE(AllComplementaryPairs(pairs));
    EXPECT_TRUE(IsCleanBlock(pairs, true, 0, nullptr));
    pairs[at] ^= 0x40;
    EXPECT_FALSE(AllComplementaryPairs(pairs)) << at;
    EXPECT_FALSE(IsCleanBlock(pairs, true, 0, nullptr)) << at;
  }
  std::vector<uint8_t> odd = Pairs(4097, 5);  // a last byte with no partner
  EXPECT_FALSE(AllComplementaryPairs(odd));
}

}  // namespace
