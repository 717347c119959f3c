#include "verify/CBitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

bool CBitmap::Allocate(uint64_t bitCount) {
  bitCount_ = bitCount;
  const uint64_t bytes = bitCount / 8 + 1;
  if (bytes > kMaxStorageBytes) return false;
  storage_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
  if (!storage_) return false;
  storageBytes_ = bytes;
  return true;
}

CBitmap::CBitmap(uint64_t bitCount, uint8_t fillByte) {
  if (Allocate(bitCount)) std::memset(storage_.get(), fillByte, static_cast<size_t>(storageBytes_));
}

CBitmap::CBitmap(std::span<const uint8_t> bytes, uint64_t bitCount) {
  if (!Allocate(bitCount)) return;
  const uint64_t wanted = (bitCount + 7) / 8;
  const size_t copied = static_cast<size_t>(std::min<uint64_t>(wanted, bytes.size()));
  if (copied > 0) std::memcpy(storage_.get(), bytes.data(), copied);
  std::memset(storage_.get() + copied, 0, static_cast<size_t>(storageBytes_ - copied));
}

CBitmap::CBitmap(const CBitmap& other) {
  if (!other.storage_) {
    bitCount_ = other.bitCount_;
    return;
  }
  if (Allocate(other.bitCount_)) {
    std::memcpy(storage_.get(), other.storage_.get(), static_cast<size_t>(storageBytes_));
  }
}

void CBitmap::SetBit(uint64_t position, bool value) {
  if (position > bitCount_ || !storage_) return;
  const uint8_t mask = static_cast<uint8_t>(1u << (position & 7));
  if (value) {
    storage_[position >> 3] |= mask;
  } else {
    storage_[position >> 3] &= static_cast<uint8_t>(~mask);
  }
}

uint64_t CBitmap::FindSetUpward(uint64_t from, uint64_t limit) const {
  if (!storage_) return limit;
  limit = std::min(limit, bitCount_ + 1);
  uint64_t pos = from;
  // Bit by bit up to a byte boundary, then whole 8-byte words: a set of tens
  // of millions of sectors is browsed without a per-bit walk.
  while (pos < limit && (pos & 63) != 0) {
    if (GetBit(pos)) return pos;
    ++pos;
  }
  while (pos + 64 <= limit) {
    uint64_t word;
    std::memcpy(&word, storage_.get() + (pos >> 3), sizeof word);
    if (word != 0) {
      // Storage is little-endian bit order within bytes; on a little-endian
      // host the word's lowest set bit is the lowest position.
      if constexpr (std::endian::native == std::endian::little) {
        return pos + static_cast<uint64_t>(std::countr_zero(word));
      } else {
        break;
      }
    }
    pos += 64;
  }
  while (pos < limit) {
    if (GetBit(pos)) return pos;
    ++pos;
  }
  return limit;
}

CDirtyBitmap::CDirtyBitmap(uint64_t unitCount, bool unitsAreSectors)
    : CBitmap(unitCount, 0), unitsAreSectors_(unitsAreSectors) {}

CDirtyBitmap::CDirtyBitmap(const CDirtyBitmap& other)
    : CBitmap(other), unitsAreSectors_(other.unitsAreSectors_), dirtyCount_(other.dirtyCount_) {}

void CDirtyBitmap::MarkDirty(uint64_t position) {
  SetBit(position, true);
  ++dirtyCount_;
}

uint64_t CDirtyBitmap::FindFirst() {
  cursor_ = FindSetUpward(0, BitCount());
  return cursor_;
}

uint64_t CDirtyBitmap::FindNext() {
  const uint64_t n = BitCount();
  cursor_ = cursor_ >= n ? n : FindSetUpward(cursor_ + 1, n);
  return cursor_;
}

uint64_t CDirtyBitmap::FindPrevious() {
  const uint64_t from = std::min(cursor_, BitCount());
  if (from == 0) {
    cursor_ = 0;
    return 0;
  }
  cursor_ = from - 1;
  while (cursor_ > 0) {
    // Whole clear bytes are passed over at once.
    if ((cursor_ & 7) == 7 && ByteAt(cursor_ >> 3) == 0) {
      cursor_ -= 7;
      if (cursor_ > 0) --cursor_;
      continue;
    }
    if (GetBit(cursor_)) return cursor_;
    --cursor_;
  }
  return 0;
}
