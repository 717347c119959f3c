#pragma once
#include <cstdint>
#include <memory>

// A growable list of signed 32-bit numbers, optionally kept in ascending
// order. The NTFS scan keeps the first and last cluster of every system-file
// extent in one, as consecutive pairs.
class CNumberSet {
 public:
  static constexpr uint32_t kCapacityLimit = 99'999'999;

  CNumberSet(uint32_t initialCapacity, int32_t growBy);
  CNumberSet(const CNumberSet&) = delete;
  CNumberSet& operator=(const CNumberSet&) = delete;

  // 0 when stored; 8 when no room could be made (the set is then unchanged).
  // With keepSorted the value goes after any equal ones already stored.
  [[nodiscard]] uint32_t Add(int32_t value, bool keepSorted);
  // False when index >= Count(); `value` is then left untouched.
  [[nodiscard]] bool GetAt(uint32_t index, int32_t& value) const;
  uint32_t Count() const { return count_; }
  uint32_t Capacity() const { return capacity_; }

 private:
  std::unique_ptr<int32_t[]> items_;
  uint32_t capacity_ = 0;
  int32_t growBy_ = 0;
  uint32_t count_ = 0;
};
