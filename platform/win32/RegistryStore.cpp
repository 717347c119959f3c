// The settings store on Windows: the real registry under HKEY_CURRENT_USER.
// Every call opens the key afresh and closes it again, so nothing is cached
// and a value another thread or process wrote is seen at once; the registry
// itself keeps concurrent writers of different values apart.
#include <windows.h>

#include <cstring>

#include "platform/RegistryStore.h"

namespace platform {
namespace {

constexpr char kRootPrefix[] = "Software\\Ostrand\\";
constexpr char kHive[] = "HKEY_CURRENT_USER\\";

// Only keys below "Software\Ostrand\" belong to the program.
bool OwnKey(const std::string& keyPath) {
  const size_t n = std::strlen(kRootPrefix);
  return keyPath.size() > n && _strnicmp(keyPath.c_str(), kRootPrefix, n) == 0;
}

// An open key that closes itself.
class Key {
 public:
  Key(const std::string& keyPath, REGSAM access) {
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  explicit operator bool() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// A value's type and bytes as the registry holds them; false when missing.
bool Query(const std::string& keyPath, const std::string& name, uint32_t& type, std::vector<uint8_t>& data) {
  Key key(keyPath, KEY_QUERY_VALUE);
  if (!key) return false;
  for (int tries = 0; tries < 4; ++tries) {
    DWORD t = 0, size = 0;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &t, nullptr, &size) != ERROR_SUCCESS) return false;
    data.resize(size);
    const LONG rc = RegQueryValueExA(key.get(), name.c_str(), nullptr, &t, data.data(), &size);
    if (rc == ERROR_MORE_DATA) continue;  // another writer made it longer meanwhile
    if (rc != ERROR_SUCCESS) return false;
    data.resize(size);
    type = t;
    return true;
  }
  return false;
}

}  // namespace

bool RegistryKey::OpenOrCreate(const std::string& keyPath) {
  Close();
  if (!OwnKey(keyPath)) return false;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  keyPath_ = keyPath;
  file_ = kHive + keyPath;
  writable_ = true;
  return true;
}

bool RegistryKey::OpenReadOnly(const std::string& keyPath) {
  Close();
  if (!OwnKey(keyPath) || !Key(keyPath, KEY_QUERY_VALUE)) return false;
  keyPath_ = keyPath;
  file_ = kHive + keyPath;
  writable_ = false;
  return true;
}

void RegistryKey::Close() {
  keyPath_.clear();
  file_.clear();
  writable_ = false;
}

bool RegistryKey::ValueExists(const std::string& name) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  return IsOpen() && Query(keyPath_, name, type, data);
}

RegRead RegistryKey::ReadDword(const std::string& name, uint32_t& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (!IsOpen() || !Query(keyPath_, name, type, data)) return RegRead::kMissing;
  if (type != kRegDword || data.size() != 4) return RegRead::kWrongType;
  value = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
          static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  return RegRead::kOk;
}

RegRead RegistryKey::ReadString(const std::string& name, std::string& value) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (!IsOpen() || !Query(keyPath_, name, type, data)) return RegRead::kMissing;
  if (type != kRegString) return RegRead::kWrongType;
  // A string written by another program need not end in its zero.
  size_t length = 0;
  while (length < data.size() && data[length] != 0) ++length;
  value.assign(data.begin(), data.begin() + static_cast<ptrdiff_t>(length));
  return RegRead::kOk;
}

RegRead RegistryKey::ReadRaw(const std::string& name, std::vector<uint8_t>& bytes, uint32_t* type) const {
  uint32_t t = 0;
  if (!IsOpen() || !Query(keyPath_, name, t, bytes)) return RegRead::kMissing;
  if (type) *type = t;
  return RegRead::kOk;
}

RegRead RegistryKey::ValueSize(const std::string& name, uint32_t& size) const {
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (!IsOpen() || !Query(keyPath_, name, type, data)) return RegRead::kMissing;
  size = static_cast<uint32_t>(data.size());
  return RegRead::kOk;
}

bool RegistryKey::WriteRaw(const std::string& name, uint32_t type, const std::vector<uint8_t>& bytes) {
  if (!IsOpen() || !writable_) return false;
  // The key may have been deleted since it was opened: make it again.
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG rc = RegSetValueExA(key, name.c_str(), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool RegistryKey::WriteDword(const std::string& name, uint32_t value) {
  return WriteRaw(name, kRegDword,
                  {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                   static_cast<uint8_t>(value >> 24)});
}

bool RegistryKey::WriteString(const std::string& name, const std::string& value) {
  std::vector<uint8_t> data(value.begin(), value.begin() + static_cast<ptrdiff_t>(std::strlen(value.c_str())));
  data.push_back(0);
  return WriteRaw(name, kRegString, data);
}

bool RegistryKey::DeleteValue(const std::string& name) {
  if (!IsOpen() || !writable_) return false;
  Key key(keyPath_, KEY_SET_VALUE);
  if (!key) return false;
  const LONG rc = RegDeleteValueA(key.get(), name.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace platform
