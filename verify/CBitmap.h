#pragma once
#include <cstdint>
#include <memory>
#include <span>

// A bit array. Bit i lives in byte i / 8 under the mask 1 << (i % 8), the
// order of the NTFS $Bitmap on disk, so a bitmap made from $Bitmap bytes
// answers "is cluster i allocated" directly.
//
// Positions 0 through BitCount() inclusive are addressable: the sector sets
// are created with the index of the last sector as their bit count and then
// mark that last sector too. Storage is BitCount() / 8 + 1 bytes.
class CBitmap {
 public:
  // More than this much storage is refused (the bitmap is then empty).
  static constexpr uint64_t kMaxStorageBytes = uint64_t{4} << 30;

  CBitmap(uint64_t bitCount, uint8_t fillByte);
  // Copies (bitCount + 7) / 8 bytes, or fewer when `bytes` is shorter; the
  // rest of the storage is 0.
  CBitmap(std::span<const uint8_t> bytes, uint64_t bitCount);
  CBitmap(const CBitmap& other);
  CBitmap& operator=(const CBitmap&) = delete;
  virtual ~CBitmap() = default;

  // False when the storage could not be allocated; every bit then reads 0
  // and SetBit does nothing.
  bool IsAllocated() const { return storage_ != nullptr; }
  uint64_t BitCount() const { return bitCount_; }
  uint64_t StorageBytes() const { return storageBytes_; }

  void SetBit(uint64_t position, bool value);
  bool GetBit(uint64_t position) const {
    if (position > bitCount_ || !storage_) return false;
    return (storage_[position >> 3] >> (position & 7)) & 1;
  }

 protected:
  // First set bit at or above `from` and below `limit`; `limit` when none.
  uint64_t FindSetUpward(uint64_t from, uint64_t limit) const;
  // The storage byte holding bits 8 * index ... 8 * index + 7; 0 past the end.
  uint8_t ByteAt(uint64_t index) const {
    return storage_ && index < storageBytes_ ? storage_[index] : 0;
  }

 private:
  bool Allocate(uint64_t bitCount);

  std::unique_ptr<uint8_t[]> storage_;
  uint64_t storageBytes_ = 0;
  uint64_t bitCount_ = 0;
};

// The units (sectors, or clusters on NTFS) a verification found dirty, with
// the number of marks made and a cursor for browsing them.
class CDirtyBitmap : public CBitmap {
 public:
  CDirtyBitmap(uint64_t unitCount, bool unitsAreSectors);
  // Copies the bits, the bit count, the unit kind and the dirty count; the
  // copy's cursor starts at 0.
  CDirtyBitmap(const CDirtyBitmap& other);

  bool UnitsAreSectors() const { return unitsAreSectors_; }
  uint64_t DirtyCount() const { return dirtyCount_; }
  uint64_t Cursor() const { return cursor_; }

  // Sets the bit and counts the call, whether or not the bit was set before
  // (callers that count units look first).
  void MarkDirty(uint64_t position);
  bool IsDirty(uint64_t position) const { return GetBit(position); }

  // The cursor moves to the value returned. FindFirst and FindNext return
  // BitCount() when there is no (further) dirty unit below it; FindPrevious
  // stops at 0 without testing bit 0, so 0 means "bit 0 or none".
  uint64_t FindFirst();
  uint64_t FindNext();
  uint64_t FindPrevious();

 private:
  bool unitsAreSectors_;
  uint64_t cursor_ = 0;
  uint64_t dirtyCount_ = 0;
};
