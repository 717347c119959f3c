#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Value types, numbered as the registry numbers them (REG_SZ, REG_BINARY,
// REG_DWORD); other numbers come from hand-written hex(n) lines and are kept.
enum RegistryType : uint32_t {
  kRegNone = 0,
  kRegString = 1,
  kRegBinary = 3,
  kRegDword = 4,
};

// What a read found.
enum class RegRead {
  kOk,
  kMissing,    // no such value, or the key is not open
  kWrongType,  // the value exists with another type
};

// A key under "Software\Ostrand\" of the per-user registry. On Windows it
// is the registry itself (HKEY_CURRENT_USER, opened afresh for every call).
// On Linux each key is one REGEDIT4 text file below ConfigDir(), so
// "Software\Ostrand\NF1" is ConfigDir()/NF1.reg, which a person can read and
// edit; the rest of this comment and the text functions below are that store's.
//
// Nothing is cached: every read parses the file as it is now, so a value
// written by another thread or process is seen at once. Every write is a
// read-modify-write under an advisory lock (flock on "<file>.lock") that ends
// in an atomic replace (temp file, fsync, rename), so concurrent writers
// never lose each other's values and a crash never leaves a torn file.
// Lines that do not parse read as missing values; a write keeps every value
// that parses and saves the damaged original as "<file>.damaged" first.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens the key for reading and writing, creating its folder and an empty
  // key file when they are missing. False for a key outside
  // "Software\Ostrand\" or when the file cannot be created.
  [[nodiscard]] bool OpenOrCreate(const std::string& keyPath);
  // Opens an existing key for reading only; false when it does not exist.
  [[nodiscard]] bool OpenReadOnly(const std::string& keyPath);
  void Close();
  bool IsOpen() const { return !file_.empty(); }

  bool ValueExists(const std::string& name) const;
  [[nodiscard]] RegRead ReadDword(const std::string& name, uint32_t& value) const;
  [[nodiscard]] RegRead ReadString(const std::string& name, std::string& value) const;
  // A value of any type as the registry stores it: a dword is its 4 bytes
  // little-endian, a string its bytes and the terminating zero.
  [[nodiscard]] RegRead ReadRaw(const std::string& name, std::vector<uint8_t>& bytes,
                                uint32_t* type = nullptr) const;
  [[nodiscard]] RegRead ValueSize(const std::string& name, uint32_t& size) const;

  // False when the key is not open for writing or the file cannot be
  // replaced; the file then keeps its previous contents.
  [[nodiscard]] bool WriteDword(const std::string& name, uint32_t value);
  // The text up to its first zero byte, as a string value.
  [[nodiscard]] bool WriteString(const std::string& name, const std::string& value);
  [[nodiscard]] bool WriteRaw(const std::string& name, uint32_t type,
                              const std::vector<uint8_t>& bytes);
  [[nodiscard]] bool DeleteValue(const std::string& name);

  // The key file's path ("" when not open).
  const std::string& FilePath() const { return file_; }

 private:
  // Read-modify-write of the key file under its lock.
  template <typename Change>
  bool Update(Change&& change);

  std::string keyPath_;
  std::string file_;
  bool writable_ = false;
};

// The file that holds `keyPath`, or "" for a key this store does not keep.
std::string RegistryKeyFile(const std::string& keyPath);

// One value of a key file. A string's data holds its bytes and a
// terminating zero, a dword its 4 bytes little-endian.
struct RegistryValue {
  std::string name;
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;
};

// Reads REGEDIT4 text leniently: every value line that parses lands in
// `values` (a later line for the same name, compared without regard to
// case, replaces an earlier one); returns false when some line did not
// parse.
bool ParseRegistryText(const std::string& text, std::vector<RegistryValue>& values);
// The text of a key file holding `values`.
std::string FormatRegistryText(const std::string& keyPath, const std::vector<RegistryValue>& values);

}  // namespace platform
