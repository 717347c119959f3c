#pragma once
// Hand-made MFT records for the cases mkntfs never produces (a damaged
// update sequence, a cut-off attribute list, a fragmented system file).
#include <cstdint>
#include <string>
#include <vector>

namespace verifytest {

class RecordBuilder {
 public:
  explicit RecordBuilder(uint32_t size = 1024, bool inUse = true) : bytes_(size, 0) {
    bytes_[0] = 'F';
    bytes_[1] = 'I';
    bytes_[2] = 'L';
    bytes_[3] = 'E';
    Put16(0x04, 0x30);                  // update sequence array offset
    Put16(0x06, size / 512 + 1);        // its count
    Put16(0x14, 0x38);                  // first attribute
    Put16(0x16, inUse ? 1 : 0);
    Put32(0x18, 0);
    Put32(0x1C, size);                  // allocated size
    at_ = 0x38;
  }

  RecordBuilder& Resident(uint32_t type, const std::vector<uint8_t>& value) {
    const uint32_t length = Align8(0x18 + static_cast<uint32_t>(value.size()));
    Put32(at_, type);
    Put32(at_ + 4, length);
    bytes_[at_ + 8] = 0;
    Put32(at_ + 0x10, static_cast<uint32_t>(value.size()));
    Put16(at_ + 0x14, 0x18);
    for (size_t i = 0; i < value.size(); ++i) bytes_[at_ + 0x18 + i] = value[i];
    at_ += length;
    return *this;
  }

  RecordBuilder& FileName(const std::string& name) {
    std::vector<uint8_t> value(0x42 + 2 * name.size(), 0);
    value[0x40] = static_cast<uint8_t>(name.size());
    for (size_t i = 0; i < name.size(); ++i) value[0x42 + 2 * i] = static_cast<uint8_t>(name[i]);
    return Resident(0x30, value);
  }

  RecordBuilder& NonResident(uint32_t type, const std::vector<uint8_t>& runList, uint64_t allocated,
                             uint64_t dataSize) {
    const uint32_t length = Align8(0x40 + static_cast<uint32_t>(runList.size()));
    Put32(at_, type);
    Put32(at_ + 4, length);
    bytes_[at_ + 8] = 1;
    Put16(at_ + 0x20, 0x40);
    Put64(at_ + 0x28, allocated);
    Put64(at_ + 0x30, dataSize);
    Put64(at_ + 0x38, dataSize);
    for (size_t i = 0; i < runList.size(); ++i) bytes_[at_ + 0x40 + i] = runList[i];
    at_ += length;
    return *this;
  }

  uint32_t End() const { return at_; }

  // The end marker, then the update sequence as NTFS writes it.
  std::vector<uint8_t> Finish(uint16_t usn = 1) {
    Put32(at_, 0xFFFFFFFF);
    Put32(0x18, at_ + 8);  // bytes in use: up to the end marker
    std::vector<uint8_t> out = bytes_;
    const size_t strides = out.size() / 512;
    out[0x30] = static_cast<uint8_t>(usn);
    out[0x31] = static_cast<uint8_t>(usn >> 8);
    for (size_t i = 0; i < strides; ++i) {
      out[0x32 + 2 * i] = out[i * 512 + 510];
      out[0x33 + 2 * i] = out[i * 512 + 511];
      out[i * 512 + 510] = static_cast<uint8_t>(usn);
      out[i * 512 + 511] = static_cast<uint8_t>(usn >> 8);
    }
    return out;
  }

  std::vector<uint8_t>& Raw() { return bytes_; }
  void Put16(size_t at, uint16_t v) {
    bytes_[at] = static_cast<uint8_t>(v);
    bytes_[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  void Put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  void Put64(size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes_[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }

 private:
  static uint32_t Align8(uint32_t n) { return (n + 7) & ~7u; }
  std::vector<uint8_t> bytes_;
  uint32_t at_;
};

}  // namespace verifytest
