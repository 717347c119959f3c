#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/win32api/Win32Disk.h"

namespace platform::win32api {

// The Windows disk services over image files, for running the Windows access
// protocols on this platform. Drive letters map to image files. A volume
// handle ("\\.\E:", NT family only) reads and writes the image at its file
// pointer; the VWIN32 device ("\\.\vwin32", 95/98/ME only) decodes the
// register block and the disk I/O packet from the bytes it is handed and
// serves int 25h, int 26h, int 21h 7305h and 440Dh/0860h, answering with the
// carry flag and the service's error code in EAX as the system does. The
// version it reports comes from the process's version provider
// (platform::GetVersionInfo), so an injected version decides it; both kinds
// of access are served whatever the version, so that a test can run the
// same transfers through either protocol.
//
// Everything it is handed is checked: a register that does not hold what
// the service expects, a block or packet of the wrong length, a buffer that
// does not cover the sectors asked for, a transfer that is not in whole
// sectors, an open with other rights than the protocol's. Such a request
// fails with 87 and is kept in Violations(), so a test fails when the
// protocol code builds something wrongly even where the real system would
// have let it pass.
//
// Thread-safe; the last error is per thread, as on the system. Map drives and
// set their faults before the protocols run.
class Win32DiskEmulator final : public Win32Disk {
 public:
  struct Drive {
    std::string image;
    bool writeProtected = false;        // writes fail: 19, int 26h AL 0
    std::set<uint64_t> unreadable;      // reads touching one fail: 23, int 25h AL 4
    std::optional<uint64_t> freeBytes;  // free space; unset: no file system mounted (1785)
    bool geometryFails = false;         // IOCTL_DISK_GET_DRIVE_GEOMETRY fails with 1
  };

  // One call to the VWIN32 device as the emulator received and answered it.
  struct VwinCall {
    uint32_t code = 0;
    std::array<uint8_t, kRegisterBlockBytes> block{};  // as handed in
    std::vector<uint8_t> packet;                        // the 10 bytes EBX pointed at (transfers)
    bool carry = false;                                 // the answer
    uint32_t eax = 0;
  };

  // Gives the letter to the image, without faults; the drive returned (and
  // DriveFor later) takes faults between runs.
  Drive& MapDrive(char letter, const std::string& image);
  Drive& DriveFor(char letter);

  // A system of the 95 family without the int 21h 7305h transfers: they
  // come back with the carry set and AX 7300h.
  std::atomic<bool> lacksInt21Transfers{false};
  std::atomic<bool> libraryMissing{false};     // LoadLibraryA("Kernel32.dll") fails
  std::atomic<bool> entryPointMissing{false};  // no GetDiskFreeSpaceExA in it

  std::vector<VwinCall> Calls() const;
  void ClearCalls();
  std::vector<std::string> Violations() const;
  // Handles and libraries not yet closed or freed.
  size_t OpenHandles() const;
  int LoadedLibraries() const;

  void SetLastError(uint32_t error);

  Handle CreateFileA(const char* name, uint32_t access, uint32_t shareMode, uint32_t creation,
                     uint32_t flagsAndAttributes) override;
  bool CloseHandle(Handle handle) override;
  bool ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* bytesRead) override;
  bool WriteFile(Handle handle, const void* buffer, uint32_t bytes, uint32_t* bytesWritten) override;
  uint32_t SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh, uint32_t method) override;
  bool FlushFileBuffers(Handle handle) override;
  bool DeviceIoControl(Handle handle, uint32_t code, void* in, uint32_t inBytes, void* out, uint32_t outBytes,
                       uint32_t* bytesReturned) override;
  uint32_t GetLastError() override;
  bool GetVersionExA(OsVersionInfo& info) override;
  uint32_t GetVersion() override;
  Module LoadLibraryA(const char* name) override;
  bool FreeLibrary(Module module) override;
  GetDiskFreeSpaceExProc FindGetDiskFreeSpaceExA(Module module) override;
  bool GetDiskFreeSpaceA(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                         uint32_t* freeClusters, uint32_t* totalClusters) override;
  bool GetVolumeInformationA(const char* root, char* volumeName, uint32_t volumeNameSize, char* fileSystemName,
                             uint32_t fileSystemNameSize) override;
  uint32_t FlatAddress(const void* p, uint32_t bytes) override;

 private:
  enum class Kind { Volume, Vwin32 };
  struct OpenHandle {
    Kind kind;
    char letter = 0;
    bool writable = false;
    uint64_t offset = 0;
  };
  struct Region {
    uint8_t* base;
    uint32_t size;      // bytes the services may reach
    uint64_t reserved;  // flat addresses kept for it, with the guard gap
  };
  struct Answer {
    bool carry = false;
    uint16_t ax = 0;
  };
  struct Packet {
    uint32_t first = 0;
    uint16_t count = 0;
    uint8_t* buffer = nullptr;
  };

  bool FileTransfer(Handle handle, bool write, uint8_t* buffer, uint32_t bytes, uint32_t* moved);
  bool Refuse(const std::string& why);  // records a violation, last error 87, false
  bool Fail(uint32_t error);            // last error := error, false
  const Drive* Find(char letter) const;
  uint64_t SectorsOf(const Drive& drive) const;
  uint8_t* Resolve(uint32_t address, uint32_t bytes);
  bool DecodePacket(uint32_t address, Packet& packet, VwinCall& call);
  bool VwinCallLocked(uint32_t code, uint8_t* block, VwinCall& call);
  Answer Transfer(char letter, bool write, const Packet& packet, bool int25Codes);
  Answer DeviceParameters(char letter, uint8_t* params);
  bool RootDrive(const char* root, const Drive*& drive);
  bool DiskFreeSpaceEx(const char* root, uint64_t* freeToCaller, uint64_t* total, uint64_t* totalFree);

  mutable std::mutex mutex_;
  std::map<char, Drive> drives_;
  std::map<Handle, OpenHandle> handles_;
  Handle nextHandle_ = 0x100;
  int loadedLibraries_ = 0;
  std::map<uint32_t, Region> regions_;          // by flat address
  std::map<const void*, uint32_t> addressOf_;   // by base pointer
  uint32_t nextAddress_ = 0;
  std::vector<VwinCall> calls_;
  std::vector<std::string> violations_;
};

}  // namespace platform::win32api
