#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// What a wipe's last pass leaves, learnt from one reference sector or
// cluster: one byte value everywhere, or (three-pass wipe) random bytes each
// followed by its complement.
struct ReferencePattern {
  bool pairMode = false;
  uint8_t referenceByte = 0;
};
ReferencePattern ReferencePatternOf(uint8_t b0, uint8_t b1);

// Known-clean blocks supplied beside the program in "CleanData.dat": up to
// 2560 bytes, compared in slices as long as the block judged. A file shorter
// than 2560 bytes leaves the rest of the sample zero.
class CCleanSample {
 public:
  static constexpr size_t kBytes = 2560;
  static constexpr const char* kFileName = "CleanData.dat";

  // Reads up to kBytes from an existing file; false (no sample) when it
  // cannot be opened or read.
  bool LoadFromFile(const std::string& path);
  void Set(std::span<const uint8_t> bytes);
  void Clear() { present_ = false; }
  bool Present() const { return present_; }

  // The block equals a slice of the sample: slices of block.size() bytes at
  // 0, size, 2 x size ... below 2560; a last, shorter slice is compared
  // with the start of the block only. False without a sample or for a block
  // longer than the sample.
  bool Matches(std::span<const uint8_t> block) const;

 private:
  std::array<uint8_t, kBytes> bytes_{};
  bool present_ = false;
};

// Index of the first pair (start + 2k, start + 2k + 1) that is not a byte and
// its complement, or block.size() when all are. A last byte with no partner
// inside the block is not a pair and fails (it is returned).
size_t FirstNonComplementaryPair(std::span<const uint8_t> block, size_t start = 0);
// Index of the first byte from `start` that differs from `value`, or size.
size_t FirstByteNotEqual(std::span<const uint8_t> block, uint8_t value, size_t start = 0);

// Whole-run checks for the scans' fast path: every byte is `value`; every
// pair from offset 0 is a byte and its complement. Written without an early
// exit inside each 4 KiB so the compiler can vectorise them.
bool AllBytesEqual(std::span<const uint8_t> bytes, uint8_t value);
bool AllComplementaryPairs(std::span<const uint8_t> bytes);

// The clean test of FAT and NTFS blocks: a block starting with two zero
// bytes has its leading zeros skipped (an all-zero block is clean in either
// mode); what remains must be complementary pairs (pair mode) or all the
// reference byte, or else the whole block must match the clean sample.
bool IsCleanBlock(std::span<const uint8_t> block, bool pairMode, uint8_t referenceByte,
                  const CCleanSample* sample);

// A FAT directory entry that is a volume label: attribute bit 0x08 set, not
// a long-name slot (0x0F), not deleted (0xE5) or unused (0x00), and first
// cluster and size (bytes 26-31) zero. False for fewer than 32 bytes.
bool IsVolumeLabelEntry(std::span<const uint8_t> entry);
