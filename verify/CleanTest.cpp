#include "verify/CleanTest.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

ReferencePattern ReferencePatternOf(uint8_t b0, uint8_t b1) {
  ReferencePattern p;
  p.pairMode = (b0 ^ b1) == 0xFF;
  p.referenceByte = b0;
  return p;
}

bool CCleanSample::LoadFromFile(const std::string& path) {
  present_ = false;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes_.fill(0);
  const size_t got = std::fread(bytes_.data(), 1, kBytes, f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  present_ = !failed && got > 0;
  return present_;
}

void CCleanSample::Set(std::span<const uint8_t> bytes) {
  bytes_.fill(0);
  const size_t n = std::min(bytes.size(), kBytes);
  if (n > 0) std::memcpy(bytes_.data(), bytes.data(), n);
  present_ = true;
}

bool CCleanSample::Matches(std::span<const uint8_t> block) const {
  if (!present_ || block.empty() || block.size() > kBytes) return false;
  for (size_t at = 0; at < kBytes; at += block.size()) {
    const size_t n = std::min(block.size(), kBytes - at);
    if (std::memcmp(block.data(), bytes_.data() + at, n) == 0) return true;
  }
  return false;
}

namespace {
constexpr uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
constexpr bool kLittleEndian = std::endian::native == std::endian::little;
}  // namespace

size_t FirstNonComplementaryPair(std::span<const uint8_t> block, size_t start) {
  const size_t n = block.size();
  size_t i = start;
  if constexpr (kLittleEndian) {
    // Four pairs per 8-byte load: byte 2k XOR byte 2k+1 lands in the low
    // byte of each 16-bit lane.
    while (i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, block.data() + i, sizeof w);
      if (((w ^ (w >> 8)) & kLowBytes) != kLowBytes) break;
      i += 8;
    }
  }
  for (; i + 1 < n; i += 2) {
    if ((block[i] ^ block[i + 1]) != 0xFF) return i;
  }
  return i < n ? i : n;
}

size_t FirstByteNotEqual(std::span<const uint8_t> block, uint8_t value, size_t start) {
  const size_t n = block.size();
  size_t i = start;
  const uint64_t pattern = 0x0101010101010101ull * value;
  while (i + 8 <= n) {
    uint64_t w;
    std::memcpy(&w, block.data() + i, sizeof w);
    if (w != pattern) break;
    i += 8;
  }
  for (; i < n; ++i) {
    if (block[i] != value) return i;
  }
  return n;
}

namespace {
// Sixteen bytes at a time in the compiler's portable vector type: two
// lanes of 64 bits, OR-ed into an accumulator with no branch inside 4 KiB.
typedef uint64_t Lanes __attribute__((vector_size(16)));

Lanes LoadLanes(const uint8_t* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool Zero(Lanes v) { return (v[0] | v[1]) == 0; }
}  // namespace

bool AllBytesEqual(std::span<const uint8_t> bytes, uint8_t value) {
  const uint64_t p64 = 0x0101010101010101ull * value;
  const Lanes pattern = {p64, p64};
  size_t i = 0;
  while (i + 4096 <= bytes.size()) {
    Lanes a = {0, 0}, b = {0, 0};
    for (size_t j = 0; j < 4096; j += 32) {
      a |= LoadLanes(bytes.data() + i + j) ^ pattern;
      b |= LoadLanes(bytes.data() + i + j + 16) ^ pattern;
    }
    if (!Zero(a | b)) return false;
    i += 4096;
  }
  return FirstByteNotEqual(bytes, value, i) >= bytes.size();
}

bool AllComplementaryPairs(std::span<const uint8_t> bytes) {
  size_t i = 0;
  if constexpr (kLittleEndian) {
    const Lanes low = {kLowBytes, kLowBytes};
    while (i + 4096 <= bytes.size()) {
      Lanes a = {0, 0}, b = {0, 0};
      for (size_t j = 0; j < 4096; j += 32) {
        const Lanes v = LoadLanes(bytes.data() + i + j);
        const Lanes w = LoadLanes(bytes.data() + i + j + 16);
        a |= ((v ^ (v >> 8)) & low) ^ low;
        b |= ((w ^ (w >> 8)) & low) ^ low;
      }
      if (!Zero(a | b)) return false;
      i += 4096;
    }
  }
  return FirstNonComplementaryPair(bytes, i) >= bytes.size();
}

bool IsCleanBlock(std::span<const uint8_t> block, bool pairMode, uint8_t referenceByte,
                  const CCleanSample* sample) {
  // Wipe residue throughout: clean whatever the rules below would say, and
  // found in one pass without an early exit (the common case of a scan).
  if (pairMode ? AllComplementaryPairs(block) : AllBytesEqual(block, referenceByte)) return true;
  size_t i = 0;
  if (block.size() >= 2 && block[0] == 0 && block[1] == 0) i = FirstByteNotEqual(block, 0);
  const size_t bad = pairMode ? FirstNonComplementaryPair(block, i) : FirstByteNotEqual(block, referenceByte, i);
  if (bad >= block.size()) return true;
  return sample != nullptr && sample->Matches(block);
}

bool IsVolumeLabelEntry(std::span<const uint8_t> entry) {
  if (entry.size() < 32) return false;
  if ((entry[11] & 0x08) == 0) return false;
  // A long-name slot carries the label bit too (attributes 0x0F), and a
  // deleted or never-used slot is no label: each of them is a leftover.
  if ((entry[11] & 0x3F) == 0x0F || entry[0] == 0xE5 || entry[0] == 0x00) return false;
  for (size_t i = 26; i < 32; ++i) {
    if (entry[i] != 0) return false;
  }
  return true;
}
