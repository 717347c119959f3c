#include "platform/RegistryStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/FileIo.h"
#include "platform/Paths.h"

namespace platform {
namespace {

constexpr char kRootPrefix[] = "Software\\Ostrand\\";
constexpr char kHive[] = "HKEY_CURRENT_USER\\";

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> SplitKey(const std::string& keyPath) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : keyPath) {
    if (c == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

// Reads a whole file; false when it cannot be opened (errno tells why).
bool ReadWholeFile(const std::string& path, std::string& text) {
  text.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

std::string DirOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st{};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash))) return false;
  return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// Writes `text` to `path` so that readers see either the old file or the
// whole new one: a temp file beside it, flushed, then renamed over it, and
// the folder flushed so the rename itself survives a crash. The caller holds
// the key's lock, so one temp name per file is enough.
bool ReplaceFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  int dirFd = ::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    // The rename is done; a folder that cannot be flushed (some network
    // file systems) leaves it as durable as that file system makes it.
    (void)::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

// An exclusive flock on "<file>.lock", held for one read-modify-write. A
// separate lock file, because the key file itself is replaced by rename and
// a lock on the old inode would not exclude a writer that opened the new one.
class FileLock {
 public:
  explicit FileLock(const std::string& file) {
    fd_ = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// ---- REGEDIT4 text ----

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One to eight hex digits from s[j] on, as a number; j moves past all the
// digits there are, so more than eight read as a failure.
bool ParseHex32(const std::string& s, size_t& j, uint32_t& value) {
  value = 0;
  int digits = 0;
  while (j < s.size() && HexDigit(s[j]) >= 0) {
    value = value * 16 + static_cast<uint32_t>(HexDigit(s[j]));
    ++j;
    ++digits;
  }
  return digits > 0 && digits <= 8;
}

void SkipSpaces(const std::string& s, size_t& i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

bool AtEnd(const std::string& s, size_t i) {
  SkipSpaces(s, i);
  return i == s.size();
}

// A quoted text with \\ and \" escapes, starting at s[i] == '"'.
bool ParseQuoted(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  out.clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\') {
      if (i >= s.size()) return false;
      char e = s[i++];
      if (e != '\\' && e != '"') return false;
      out += e;
    } else {
      out += c;
    }
  }
  return false;  // no closing quote: a cut-off line
}

bool ParseHexBytes(const std::string& s, size_t i, std::vector<uint8_t>& out) {
  out.clear();
  SkipSpaces(s, i);
  if (i == s.size()) return true;  // an empty value
  for (;;) {
    SkipSpaces(s, i);
    if (i + 2 > s.size()) return false;
    int hi = HexDigit(s[i]);
    int lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
    SkipSpaces(s, i);
    if (i == s.size()) return true;
    if (s[i] != ',') return false;
    ++i;
  }
}

// A value line whose data is a hex list: "name"=hex:... or "name"=hex(n):...
bool IsHexLine(const std::string& line) {
  size_t i = 0;
  SkipSpaces(line, i);
  std::string name;
  if (i < line.size() && line[i] == '@') {
    ++i;
  } else if (!ParseQuoted(line, i, name)) {
    return false;
  }
  SkipSpaces(line, i);
  if (i >= line.size() || line[i] != '=') return false;
  ++i;
  SkipSpaces(line, i);
  return line.compare(i, 3, "hex") == 0;
}

bool ParseValueLine(const std::string& line, RegistryValue& value) {
  size_t i = 0;
  SkipSpaces(line, i);
  if (i < line.size() && line[i] == '@') {
    value.name.clear();  // the key's default value
    ++i;
  } else if (!ParseQuoted(line, i, value.name)) {
    return false;
  }
  SkipSpaces(line, i);
  if (i >= line.size() || line[i] != '=') return false;
  ++i;
  SkipSpaces(line, i);
  const std::string rest = line.substr(i);
  if (!rest.empty() && rest[0] == '"') {
    std::string text;
    size_t j = 0;
    if (!ParseQuoted(rest, j, text) || !AtEnd(rest, j)) return false;
    value.type = kRegString;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return true;
  }
  if (rest.compare(0, 6, "dword:") == 0) {
    size_t j = 6;
    uint32_t v = 0;
    if (!ParseHex32(rest, j, v) || !AtEnd(rest, j)) return false;
    value.type = kRegDword;
    value.data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    return true;
  }
  if (rest.compare(0, 4, "hex:") == 0) {
    value.type = kRegBinary;
    return ParseHexBytes(rest, 4, value.data);
  }
  if (rest.compare(0, 4, "hex(") == 0) {
    size_t j = 4;
    uint32_t type = 0;
    if (!ParseHex32(rest, j, type) || rest.compare(j, 2, "):") != 0) return false;
    value.type = type;
    return ParseHexBytes(rest, j + 2, value.data);
  }
  return false;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string HexList(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ',';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

// A string can be written quoted when it ends in its one zero and holds no
// line break; otherwise (a folder name with a newline in it) it is written as
// hex(1) so it can never spill into a line of its own.
bool QuotableString(const std::vector<uint8_t>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0 || data[i] == '\n' || data[i] == '\r') return false;
  }
  return true;
}

std::string FormatValueLine(const RegistryValue& v) {
  std::string line = v.name.empty() ? std::string("@") : Quote(v.name);
  line += '=';
  if (v.type == kRegString && QuotableString(v.data)) {
    line += Quote(std::string(v.data.begin(), v.data.end() - 1));
  } else if (v.type == kRegDword && v.data.size() == 4) {
    char buf[16];
    uint32_t d = static_cast<uint32_t>(v.data[0]) | static_cast<uint32_t>(v.data[1]) << 8 |
                 static_cast<uint32_t>(v.data[2]) << 16 | static_cast<uint32_t>(v.data[3]) << 24;
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    line += buf;
  } else if (v.type == kRegBinary) {
    line += "hex:" + HexList(v.data);
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    line += buf + HexList(v.data);
  }
  return line;
}

RegistryValue* Find(std::vector<RegistryValue>& values, const std::string& name) {
  for (auto& v : values) {
    if (EqualNoCase(v.name, name)) return &v;
  }
  return nullptr;
}

void Put(std::vector<RegistryValue>& values, RegistryValue value) {
  if (RegistryValue* old = Find(values, value.name)) {
    old->type = value.type;
    old->data = std::move(value.data);  // the name keeps its first spelling
  } else {
    values.push_back(std::move(value));
  }
}

}  // namespace

bool ParseRegistryText(const std::string& text, std::vector<RegistryValue>& values) {
  values.clear();
  bool clean = true;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A hex list may go on over the next lines, each but the last ending
    // in a backslash and each continuation indented. A line that is not
    // indented is never taken as a continuation, so a cut-off list cannot
    // swallow the good value after it.
    while (!line.empty() && line.back() == '\\' && IsHexLine(line)) {
      line.pop_back();
      if (pos >= text.size() || (text[pos] != ' ' && text[pos] != '\t')) {
        clean = false;  // cut off in the middle of the list
        line.clear();
        break;
      }
      end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string next = text.substr(pos, end - pos);
      pos = end + 1;
      if (!next.empty() && next.back() == '\r') next.pop_back();
      line += next;
    }
    size_t i = 0;
    SkipSpaces(line, i);
    if (i == line.size() || line[i] == ';') continue;
    if (line.compare(i, std::string::npos, "REGEDIT4") == 0) continue;
    if (line[i] == '[') {
      if (line.back() != ']') clean = false;
      continue;
    }
    RegistryValue value;
    if (ParseValueLine(line, value)) {
      Put(values, std::move(value));
    } else {
      clean = false;
    }
  }
  return clean;
}

std::string FormatRegistryText(const std::string& keyPath, const std::vector<RegistryValue>& values) {
  std::string text = "REGEDIT4\n\n[";
  text += kHive;
  text += keyPath;
  text += "]\n";
  for (const auto& v : values) text += FormatValueLine(v) + "\n";
  return text;
}

std::string RegistryKeyFile(const std::string& keyPath) {
  const std::string prefix = kRootPrefix;
  if (keyPath.size() <= prefix.size() || !EqualNoCase(keyPath.substr(0, prefix.size()), prefix)) {
    return {};
  }
  std::string relative;
  for (const std::string& part : SplitKey(keyPath.substr(prefix.size()))) {
    if (part.empty() || part == "." || part == ".." ||
        part.find_first_of(std::string("/\0", 2)) != std::string::npos) {
      return {};
    }
    relative += (relative.empty() ? "" : "/") + part;
  }
  return ConfigDir() + "/" + relative + ".reg";
}

bool RegistryKey::OpenOrCreate(const std::string& keyPath) {
  Close();
  const std::string file = RegistryKeyFile(keyPath);
  if (file.empty() || !MakeDirs(DirOf(file))) return false;
  if (::access(file.c_str(), F_OK) != 0) {
    FileLock lock(file);
    if (!lock.Held()) return false;
    // Another writer may have made it while we waited for the lock.
    if (::access(file.c_str(), F_OK) != 0 && !ReplaceFile(file, FormatRegistryText(keyPath, {}))) {
      return false;
    }
  }
  if (::access(file.c_str(), R_OK | W_OK) != 0) return false;
  keyPath_ = keyPath;
  file_ = file;
  writable_ = true;
  return true;
}

bool RegistryKey::OpenReadOnly(const std::string& keyPath) {
  Close();
  const std::string file = RegistryKeyFile(keyPath);
  if (file.empty() || ::access(file.c_str(), R_OK) != 0) return false;
  keyPath_ = keyPath;
  file_ = file;
  writable_ = false;
  return true;
}

void RegistryKey::Close() {
  keyPath_.clear();
  file_.clear();
  writable_ = false;
}

namespace {
// The key's values as the file holds them now; a missing or unreadable file
// has none.
std::vector<RegistryValue> LoadValues(const std::string& file) {
  std::vector<RegistryValue> values;
  std::string text;
  if (!file.empty() && ReadWholeFile(file, text)) (void)ParseRegistryText(text, values);
  return values;
}

std::optional<RegistryValue> Lookup(const std::string& file, const std::string& name) {
  auto values = LoadValues(file);
  if (RegistryValue* v = Find(values, name)) return std::move(*v);
  return std::nullopt;
}
}  // namespace

bool RegistryKey::ValueExists(const std::string& name) const {
  return IsOpen() && Lookup(file_, name).has_value();
}

RegRead RegistryKey::ReadDword(const std::string& name, uint32_t& value) const {
  if (!IsOpen()) return RegRead::kMissing;
  auto v = Lookup(file_, name);
  if (!v) return RegRead::kMissing;
  if (v->type != kRegDword || v->data.size() != 4) return RegRead::kWrongType;
  value = static_cast<uint32_t>(v->data[0]) | static_cast<uint32_t>(v->data[1]) << 8 |
          static_cast<uint32_t>(v->data[2]) << 16 | static_cast<uint32_t>(v->data[3]) << 24;
  return RegRead::kOk;
}

RegRead RegistryKey::ReadString(const std::string& name, std::string& value) const {
  if (!IsOpen()) return RegRead::kMissing;
  auto v = Lookup(file_, name);
  if (!v) return RegRead::kMissing;
  if (v->type != kRegString) return RegRead::kWrongType;
  size_t length = 0;
  while (length < v->data.size() && v->data[length] != 0) ++length;
  value.assign(v->data.begin(), v->data.begin() + static_cast<ptrdiff_t>(length));
  return RegRead::kOk;
}

RegRead RegistryKey::ReadRaw(const std::string& name, std::vector<uint8_t>& bytes,
                             uint32_t* type) const {
  if (!IsOpen()) return RegRead::kMissing;
  auto v = Lookup(file_, name);
  if (!v) return RegRead::kMissing;
  bytes = std::move(v->data);
  if (type) *type = v->type;
  return RegRead::kOk;
}

RegRead RegistryKey::ValueSize(const std::string& name, uint32_t& size) const {
  if (!IsOpen()) return RegRead::kMissing;
  auto v = Lookup(file_, name);
  if (!v) return RegRead::kMissing;
  size = static_cast<uint32_t>(v->data.size());
  return RegRead::kOk;
}

namespace {
// A name must fit on its value's line.
bool WritableName(const std::string& name) {
  return name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}
}  // namespace

template <typename Change>
bool RegistryKey::Update(Change&& change) {
  if (!IsOpen() || !writable_) return false;
  // The folder may have been removed since the key was opened.
  if (!MakeDirs(DirOf(file_))) return false;
  FileLock lock(file_);
  if (!lock.Held()) return false;
  std::string text;
  std::vector<RegistryValue> values;
  bool clean = true;
  if (ReadWholeFile(file_, text)) {
    clean = ParseRegistryText(text, values);
  } else if (errno != ENOENT) {
    return false;  // never replace a file we could not read
  }
  change(values);
  if (!clean) {
    // Lines that did not parse are about to be dropped; keep the file as it
    // was beside the key so a hand edit gone wrong can still be recovered.
    (void)ReplaceFile(file_ + ".damaged", text);
  }
  // A key file that is a link (settings kept with the user's other dot
  // files) stays a link: the file it points to is the one replaced.
  std::string target = file_;
  if (char* real = ::realpath(file_.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  return ReplaceFile(target, FormatRegistryText(keyPath_, values));
}

bool RegistryKey::WriteDword(const std::string& name, uint32_t value) {
  if (!WritableName(name)) return false;
  return Update([&](std::vector<RegistryValue>& values) {
    Put(values, RegistryValue{name, kRegDword,
                              {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                               static_cast<uint8_t>(value >> 16),
                               static_cast<uint8_t>(value >> 24)}});
  });
}

bool RegistryKey::WriteString(const std::string& name, const std::string& value) {
  if (!WritableName(name)) return false;
  std::vector<uint8_t> data(value.begin(), value.begin() + static_cast<ptrdiff_t>(
                                                           std::strlen(value.c_str())));
  data.push_back(0);
  return Update([&](std::vector<RegistryValue>& values) {
    Put(values, RegistryValue{name, kRegString, std::move(data)});
  });
}

bool RegistryKey::WriteRaw(const std::string& name, uint32_t type,
                           const std::vector<uint8_t>& bytes) {
  if (!WritableName(name)) return false;
  return Update([&](std::vector<RegistryValue>& values) {
    Put(values, RegistryValue{name, type, bytes});
  });
}

bool RegistryKey::DeleteValue(const std::string& name) {
  return Update([&](std::vector<RegistryValue>& values) {
    for (auto it = values.begin(); it != values.end(); ++it) {
      if (EqualNoCase(it->name, name)) {
        values.erase(it);
        return;
      }
    }
  });
}

}  // namespace platform
