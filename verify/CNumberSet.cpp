#include "verify/CNumberSet.h"

#include <algorithm>
#include <new>

#include "platform/ErrorCodes.h"

CNumberSet::CNumberSet(uint32_t initialCapacity, int32_t growBy) : growBy_(growBy) {
  if (initialCapacity > 0 && initialCapacity <= kCapacityLimit) {
    items_.reset(new (std::nothrow) int32_t[initialCapacity]);
    if (items_) capacity_ = initialCapacity;
  }
}

uint32_t CNumberSet::Add(int32_t value, bool keepSorted) {
  if (count_ >= capacity_) {
    // Computed in 64 bits so a negative or huge growth cannot wrap into a
    // small capacity that would then be overrun.
    const int64_t wanted = static_cast<int64_t>(capacity_) + growBy_;
    if (wanted <= static_cast<int64_t>(count_) || wanted > kCapacityLimit) return errc::kNotEnoughMemory;
    std::unique_ptr<int32_t[]> grown(new (std::nothrow) int32_t[static_cast<size_t>(wanted)]);
    if (!grown) return errc::kNotEnoughMemory;
    std::copy(items_.get(), items_.get() + count_, grown.get());
    items_ = std::move(grown);
    capacity_ = static_cast<uint32_t>(wanted);
  }
  uint32_t index = count_;
  if (keepSorted) {
    while (index > 0 && value < items_[index - 1]) --index;
    std::move_backward(items_.get() + index, items_.get() + count_, items_.get() + count_ + 1);
  }
  items_[index] = value;
  ++count_;
  return 0;
}

bool CNumberSet::GetAt(uint32_t index, int32_t& value) const {
  if (index >= count_) return false;
  value = items_[index];
  return true;
}
