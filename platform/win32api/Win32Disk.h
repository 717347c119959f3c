#pragma once
// The Windows services the disk access protocols call, as an interface of
// plain C++ types. The Windows build serves it with kernel32 itself; this
// platform serves it with an emulator over image files, so the protocols'
// own code (register blocks, packets, volume handles) runs and is tested
// here. Nothing in this folder includes a system header of either platform.
#include <cstdint>
#include <functional>

#include "platform/OsVersion.h"

namespace platform::win32api {

// A kernel object handle or a loaded module, as an integer.
using Handle = uintptr_t;
using Module = uintptr_t;
inline constexpr Handle kInvalidHandleValue = ~Handle{0};  // INVALID_HANDLE_VALUE
inline constexpr Module kNoModule = 0;

// CreateFileA
inline constexpr uint32_t kGenericRead = 0x80000000;
inline constexpr uint32_t kGenericWrite = 0x40000000;
inline constexpr uint32_t kFileShareRead = 0x1;
inline constexpr uint32_t kFileShareWrite = 0x2;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kFileAttributeNormal = 0x80;
inline constexpr uint32_t kFileFlagDeleteOnClose = 0x04000000;

// SetFilePointer
inline constexpr uint32_t kFileBegin = 0;
inline constexpr uint32_t kFileCurrent = 1;
inline constexpr uint32_t kFileEnd = 2;
inline constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFF;

// DeviceIoControl codes of the VWIN32 device (input and output: the 28-byte
// register block) and of a volume handle.
inline constexpr uint32_t kVwin32DosIoctl = 1;    // int 21h function 44xxh
inline constexpr uint32_t kVwin32Int25 = 2;       // absolute disk read
inline constexpr uint32_t kVwin32Int26 = 3;       // absolute disk write
inline constexpr uint32_t kVwin32DriveInfo = 6;   // int 21h function 73xxh
inline constexpr uint32_t kIoctlDiskGetDriveGeometry = 0x70000;

inline constexpr uint32_t kRegisterBlockBytes = 28;
inline constexpr uint32_t kDiskIoPacketBytes = 10;
inline constexpr uint32_t kDriveGeometryBytes = 24;

// The signature of GetDiskFreeSpaceExA, found in a loaded module at run time:
// (root, bytes free to the caller, total bytes, total free bytes) -> success.
using GetDiskFreeSpaceExProc =
    std::function<bool(const char* root, uint64_t* freeToCaller, uint64_t* total, uint64_t* totalFree)>;

// The calls, with the Windows semantics: a false (or an invalid handle, or
// kInvalidSetFilePointer with a non-zero last error) is a failure whose code
// GetLastError gives.
class Win32Disk {
 public:
  virtual ~Win32Disk() = default;

  virtual Handle CreateFileA(const char* name, uint32_t access, uint32_t shareMode, uint32_t creation,
                             uint32_t flagsAndAttributes) = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  virtual bool ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* bytesRead) = 0;
  virtual bool WriteFile(Handle handle, const void* buffer, uint32_t bytes, uint32_t* bytesWritten) = 0;
  // The low 32 bits of the new offset; `distanceHigh` (may be null) carries
  // the high 32 bits in and out.
  virtual uint32_t SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh, uint32_t method) = 0;
  virtual bool FlushFileBuffers(Handle handle) = 0;
  virtual bool DeviceIoControl(Handle handle, uint32_t code, void* in, uint32_t inBytes, void* out,
                               uint32_t outBytes, uint32_t* bytesReturned) = 0;
  virtual uint32_t GetLastError() = 0;

  virtual bool GetVersionExA(OsVersionInfo& info) = 0;
  // Packed version: bit 31 set on the 95/98/ME family.
  virtual uint32_t GetVersion() = 0;

  // Library loading for the entry points looked up at run time.
  virtual Module LoadLibraryA(const char* name) = 0;
  virtual bool FreeLibrary(Module module) = 0;
  // GetProcAddress(module, "GetDiskFreeSpaceExA"); empty when missing.
  virtual GetDiskFreeSpaceExProc FindGetDiskFreeSpaceExA(Module module) = 0;
  virtual bool GetDiskFreeSpaceA(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                                 uint32_t* freeClusters, uint32_t* totalClusters) = 0;

  virtual bool GetVolumeInformationA(const char* root, char* volumeName, uint32_t volumeNameSize,
                                     char* fileSystemName, uint32_t fileSystemNameSize) = 0;

  // The 32-bit flat address under which the VWIN32 services see `bytes` of
  // memory at `p` (register EBX or EDX, the packet's buffer field). On a
  // 32-bit system that is the pointer itself; 0 when the memory cannot be
  // given such an address (a 64-bit process).
  virtual uint32_t FlatAddress(const void* p, uint32_t bytes) = 0;
};

}  // namespace platform::win32api
