#include "platform/win32/Kernel32Disk.h"

#include <windows.h>
#include <winioctl.h>

#include <cctype>
#include <cstring>

namespace platform::win32api {
namespace {

HANDLE AsHandle(Handle h) { return reinterpret_cast<HANDLE>(h); }
Handle FromHandle(HANDLE h) { return reinterpret_cast<Handle>(h); }

// "\\.\E:" (either case) -> 'E'; 0 for any other name.
char VolumeLetter(const char* name) {
  if (std::strlen(name) != 6 || std::strncmp(name, "\\\\.\\", 4) != 0 || name[5] != ':') return 0;
  if (!std::isalpha(static_cast<unsigned char>(name[4]))) return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(name[4])));
}

// The length of what a handle reaches: a disk's length, else a file's size.
bool LengthOf(HANDLE handle, uint64_t& bytes) {
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr) &&
      returned >= sizeof length && length.Length.QuadPart > 0) {
    bytes = static_cast<uint64_t>(length.Length.QuadPart);
    return true;
  }
  LARGE_INTEGER size{};
  if (GetFileSizeEx(handle, &size) && size.QuadPart > 0) {
    bytes = static_cast<uint64_t>(size.QuadPart);
    return true;
  }
  return false;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// A FAT label field: trailing blanks go, and the formatter's placeholder
// "NO NAME" is no label.
std::string LabelField(const uint8_t* p) {
  std::string label(reinterpret_cast<const char*>(p), 11);
  while (!label.empty() && (label.back() == ' ' || label.back() == '\0')) label.pop_back();
  return label == "NO NAME" ? std::string() : label;
}

// The file system a boot sector holds, as the system names it: "NTFS",
// "FAT32" or "FAT"; false for anything else. The label comes from the FAT
// boot sector (NTFS keeps its label in a system file: none is given).
bool RecogniseBootSector(const uint8_t* s, std::string& fileSystem, std::string& label) {
  if (s[510] != 0x55 || s[511] != 0xAA) return false;
  if (std::memcmp(s + 3, "NTFS    ", 8) == 0) {
    fileSystem = "NTFS";
    label.clear();
    return true;
  }
  const uint16_t bytesPerSector = Le16(s + 11);
  const uint8_t sectorsPerCluster = s[13];
  const bool powerOfTwoSize = bytesPerSector >= 512 && bytesPerSector <= 4096 &&
                              (bytesPerSector & (bytesPerSector - 1)) == 0;
  const bool powerOfTwoCluster = sectorsPerCluster != 0 && (sectorsPerCluster & (sectorsPerCluster - 1)) == 0;
  if (!powerOfTwoSize || !powerOfTwoCluster || Le16(s + 14) == 0 || s[16] == 0 || s[21] < 0xF0) return false;
  if (Le16(s + 22) == 0) {  // no 16-bit FAT size: FAT32
    fileSystem = "FAT32";
    label = s[66] == 0x29 ? LabelField(s + 71) : std::string();
  } else {
    fileSystem = "FAT";
    label = s[38] == 0x29 ? LabelField(s + 43) : std::string();
  }
  return true;
}

class Kernel32Disk : public Win32Disk {
 public:
  explicit Kernel32Disk(Kernel32Options options) : options_(std::move(options)) {}

  Handle CreateFileA(const char* name, uint32_t access, uint32_t shareMode, uint32_t creation,
                     uint32_t flagsAndAttributes) override {
    std::string path = name ? name : "";
    if (const char letter = VolumeLetter(path.c_str())) {
      if (const auto image = options_.images.find(letter); image != options_.images.end()) path = image->second;
    }
    if (options_.readOnly) access &= ~kGenericWrite;
    return FromHandle(::CreateFileA(path.c_str(), access, shareMode, nullptr, creation, flagsAndAttributes,
                                    nullptr));
  }

  bool CloseHandle(Handle handle) override { return ::CloseHandle(AsHandle(handle)) != 0; }

  bool ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
    DWORD done = 0;
    const bool ok = ::ReadFile(AsHandle(handle), buffer, bytes, &done, nullptr) != 0;
    if (bytesRead) *bytesRead = done;
    return ok;
  }

  bool WriteFile(Handle handle, const void* buffer, uint32_t bytes, uint32_t* bytesWritten) override {
    if (bytesWritten) *bytesWritten = 0;
    if (options_.readOnly) {
      SetLastError(ERROR_WRITE_PROTECT);
      return false;
    }
    DWORD done = 0;
    const bool ok = ::WriteFile(AsHandle(handle), buffer, bytes, &done, nullptr) != 0;
    if (bytesWritten) *bytesWritten = done;
    return ok;
  }

  uint32_t SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh, uint32_t method) override {
    LONG high = distanceHigh ? *distanceHigh : 0;
    const DWORD low = ::SetFilePointer(AsHandle(handle), distanceLow, distanceHigh ? &high : nullptr, method);
    if (distanceHigh) *distanceHigh = high;
    return low;
  }

  bool FlushFileBuffers(Handle handle) override { return ::FlushFileBuffers(AsHandle(handle)) != 0; }

  bool DeviceIoControl(Handle handle, uint32_t code, void* in, uint32_t inBytes, void* out, uint32_t outBytes,
                       uint32_t* bytesReturned) override {
    DWORD returned = 0;
    bool ok = ::DeviceIoControl(AsHandle(handle), code, in, inBytes, out, outBytes, &returned, nullptr) != 0;
    if (!ok && code == IOCTL_DISK_GET_DRIVE_GEOMETRY && out && outBytes >= sizeof(DISK_GEOMETRY)) {
      const DWORD error = ::GetLastError();
      uint64_t length = 0;
      if (LengthOf(AsHandle(handle), length) && length >= 512) {
        DISK_GEOMETRY geometry{};
        geometry.Cylinders.QuadPart = static_cast<LONGLONG>(length / 512);
        geometry.MediaType = FixedMedia;
        geometry.TracksPerCylinder = 1;
        geometry.SectorsPerTrack = 1;
        geometry.BytesPerSector = 512;
        std::memcpy(out, &geometry, sizeof geometry);
        returned = sizeof geometry;
        ok = true;
      } else {
        SetLastError(error);
      }
    }
    if (bytesReturned) *bytesReturned = returned;
    return ok;
  }

  uint32_t GetLastError() override { return ::GetLastError(); }

  // The version the rest of the program sees, an injected one included, so
  // the protocol choice and the size request agree with DetectOsFamily.
  bool GetVersionExA(OsVersionInfo& info) override {
    info = GetVersionInfo();
    return true;
  }

  uint32_t GetVersion() override {
    const OsVersionInfo info = GetVersionInfo();
    uint32_t packed = (info.majorVersion & 0xFF) | (info.minorVersion & 0xFF) << 8;
    if (info.platformId == kPlatformNT) return packed | (info.buildNumber & 0x7FFF) << 16;
    return packed | 0x80000000u;
  }

  Module LoadLibraryA(const char* name) override { return reinterpret_cast<Module>(::LoadLibraryA(name)); }

  bool FreeLibrary(Module module) override { return ::FreeLibrary(reinterpret_cast<HMODULE>(module)) != 0; }

  GetDiskFreeSpaceExProc FindGetDiskFreeSpaceExA(Module module) override {
    using Proc = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    FARPROC found = ::GetProcAddress(reinterpret_cast<HMODULE>(module), "GetDiskFreeSpaceExA");
    if (!found) return {};
    const auto proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(found));
    return [proc](const char* root, uint64_t* freeToCaller, uint64_t* total, uint64_t* totalFree) {
      ULARGE_INTEGER a{}, b{}, c{};
      if (!proc(root, &a, &b, &c)) return false;
      if (freeToCaller) *freeToCaller = a.QuadPart;
      if (total) *total = b.QuadPart;
      if (totalFree) *totalFree = c.QuadPart;
      return true;
    };
  }

  bool GetDiskFreeSpaceA(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                         uint32_t* freeClusters, uint32_t* totalClusters) override {
    DWORD a = 0, b = 0, c = 0, d = 0;
    if (!::GetDiskFreeSpaceA(root, &a, &b, &c, &d)) return false;
    if (sectorsPerCluster) *sectorsPerCluster = a;
    if (bytesPerSector) *bytesPerSector = b;
    if (freeClusters) *freeClusters = c;
    if (totalClusters) *totalClusters = d;
    return true;
  }

  // A drive the system does not describe (an image file the drive map
  // names, or a volume Wine reaches through a file) is recognised from its
  // boot sector, as the system itself does for the FAT and NTFS it mounts.
  bool GetVolumeInformationA(const char* root, char* volumeName, uint32_t volumeNameSize, char* fileSystemName,
                             uint32_t fileSystemNameSize) override {
    const bool mapped = root && std::isalpha(static_cast<unsigned char>(root[0])) &&
                        options_.images.count(static_cast<char>(std::toupper(static_cast<unsigned char>(root[0]))));
    if (!mapped && ::GetVolumeInformationA(root, volumeName, volumeNameSize, nullptr, nullptr, nullptr,
                                           fileSystemName, fileSystemNameSize)) {
      return true;
    }
    const DWORD error = mapped ? ERROR_UNRECOGNIZED_VOLUME : ::GetLastError();
    std::string fileSystem, label;
    if (!root || !ReadBootSector(root[0], fileSystem, label) || label.size() >= volumeNameSize ||
        fileSystem.size() >= fileSystemNameSize) {
      SetLastError(error);
      return false;
    }
    std::memcpy(volumeName, label.c_str(), label.size() + 1);
    std::memcpy(fileSystemName, fileSystem.c_str(), fileSystem.size() + 1);
    return true;
  }

  // A 64-bit process has no 32-bit flat addresses for the VWIN32 services,
  // which only 95/98/ME had.
  uint32_t FlatAddress(const void*, uint32_t) override { return 0; }

 private:
  bool ReadBootSector(char letter, std::string& fileSystem, std::string& label) {
    const std::string volume = std::string("\\\\.\\") + letter + ":";
    const Handle handle = CreateFileA(volume.c_str(), kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting,
                                      kFileAttributeNormal);
    if (handle == kInvalidHandleValue) return false;
    uint8_t sector[512];
    uint32_t got = 0;
    const bool read = ReadFile(handle, sector, sizeof sector, &got) && got == sizeof sector;
    CloseHandle(handle);
    return read && RecogniseBootSector(sector, fileSystem, label);
  }

  Kernel32Options options_;
};

}  // namespace

std::shared_ptr<Win32Disk> MakeKernel32Disk(Kernel32Options options) {
  return std::make_shared<Kernel32Disk>(std::move(options));
}

}  // namespace platform::win32api
