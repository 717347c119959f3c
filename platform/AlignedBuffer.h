#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#ifdef _WIN32
#include <malloc.h>
#endif

namespace platform {

// A heap buffer aligned for O_DIRECT transfers (4096 covers every logical
// block size Linux block devices use). Owns its memory; movable, not copyable.
class AlignedBuffer {
 public:
  static constexpr size_t kAlignment = 4096;

  AlignedBuffer() = default;
  explicit AlignedBuffer(size_t size) : size_(size) {
    if (size == 0) return;
    const size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
#ifdef _WIN32
    data_.reset(static_cast<uint8_t*>(_aligned_malloc(rounded, kAlignment)));
#else
    data_.reset(static_cast<uint8_t*>(std::aligned_alloc(kAlignment, rounded)));
#endif
    if (!data_) size_ = 0;
  }

  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }
  void fill(uint8_t value) {
    if (data_) std::memset(data_.get(), value, size_);
  }

 private:
  struct Free {
#ifdef _WIN32
    void operator()(uint8_t* p) const { _aligned_free(p); }
#else
    void operator()(uint8_t* p) const { std::free(p); }
#endif
  };
  std::unique_ptr<uint8_t, Free> data_;
  size_t size_ = 0;
};

}  // namespace platform
