#include "platform/win32api/WindowsDiskBackend.h"

#include <cctype>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <span>
#include <string>

#include "platform/AskUser.h"
#include "platform/ErrorCodes.h"
#include "platform/win32api/LeFields.h"

namespace platform::win32api {
namespace {

using lefield::Get16;
using lefield::Get32;
using lefield::Get64;
using lefield::Put;

constexpr uint32_t kCarryFlag = 1;  // bit 0 of Flags
constexpr uint64_t kMaxPacketSector = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kMaxPacketCount = std::numeric_limits<uint16_t>::max();
constexpr uint32_t kIoctlRead = 0x6000;        // ESI of int 21h 7305h: read
constexpr uint32_t kIoctlWriteData = 0x6001;   // write, normal file data
constexpr uint32_t kFunctionMissing = 0x7300;  // AX when the system lacks function 73xxh
// Int 21h 440Dh, category 08h, minor code 60h: get device parameters. The
// answer carries the BPB from offset 7: bytes per sector at 7, the 16-bit
// total sector count at 15 and the 32-bit one at 28.
constexpr uint32_t kGetDeviceParameters = 0x0860;
constexpr uint32_t kDeviceParametersBytes = 256;
constexpr size_t kParamsBytesPerSector = 7;
constexpr size_t kParamsTotalSectors16 = 15;
constexpr size_t kParamsTotalSectors32 = 28;

// The register block: seven 32-bit values in this order, the call's input
// and its output.
struct Registers {
  uint32_t ebx = 0, edx = 0, ecx = 0, eax = 0, edi = 0, esi = 0, flags = 0;
};

void EncodeRegisters(const Registers& r, std::span<uint8_t, kRegisterBlockBytes> block) {
  const uint32_t values[] = {r.ebx, r.edx, r.ecx, r.eax, r.edi, r.esi, r.flags};
  for (size_t i = 0; i < std::size(values); ++i) Put(block, 4 * i, 4, values[i]);
}

Registers DecodeRegisters(std::span<const uint8_t, kRegisterBlockBytes> block) {
  Registers r;
  uint32_t* fields[] = {&r.ebx, &r.edx, &r.ecx, &r.eax, &r.edi, &r.esi, &r.flags};
  for (size_t i = 0; i < std::size(fields); ++i) *fields[i] = Get32(block, 4 * i);
  return r;
}

// a × b × c × d, or 0 when the product does not fit in 64 bits (a geometry
// that cannot be true is no size at all).
uint64_t ProductOrZero(std::initializer_list<uint64_t> factors) {
  uint64_t product = 1;
  for (const uint64_t f : factors) {
    if (f != 0 && product > std::numeric_limits<uint64_t>::max() / f) return 0;
    product *= f;
  }
  return product;
}

class WindowsDiskBackend final : public SectorBackend {
 public:
  WindowsDiskBackend(std::shared_ptr<Win32Disk> api, char letter)
      : api_(std::move(api)), letter_(static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))) {}
  ~WindowsDiskBackend() override { Close(); }

  void SetOsFamily(uint16_t family) override {
    const bool wasNt = Nt();
    family_ = family;
    // The open handle must be the kind the family uses; only an injected
    // version can switch between the kinds, and then the drive is reopened
    // at the same position.
    if (IsOpen() && wasNt != Nt()) {
      const uint64_t position = position_;
      if (Open() == 0) (void)SetPosition(position);
    }
  }

  uint32_t Open() override {
    Close();
    position_ = 0;
    handle_ = Nt() ? OpenVolume(kGenericRead | kGenericWrite) : OpenVwin32(0);
    return handle_ == kInvalidHandleValue ? LastError() : 0;
  }

  void Close() override {
    if (handle_ != kInvalidHandleValue) api_->CloseHandle(handle_);
    handle_ = kInvalidHandleValue;
  }

  bool IsOpen() const override { return handle_ != kInvalidHandleValue; }

  uint32_t Read(void* buffer, uint32_t bytes, uint32_t& done) override {
    return TransferAtPosition(false, buffer, bytes, done);
  }

  uint32_t Write(const void* buffer, uint32_t bytes, uint32_t& done) override {
    // The services take one buffer for both directions; a write only reads it.
    return TransferAtPosition(true, const_cast<void*>(buffer), bytes, done);
  }

  uint32_t SetPosition(uint64_t sector) override {
    if (!IsOpen()) return errc::kInvalidHandle;
    if (Nt()) {
      if (const uint32_t error = MoveFilePointer(handle_, sector, kFileBegin)) return error;
    }
    position_ = sector;
    return 0;
  }

  uint32_t Skip(uint64_t sectors) override {
    if (!IsOpen()) return errc::kInvalidHandle;
    if (Nt()) {
      if (const uint32_t error = MoveFilePointer(handle_, sectors, kFileCurrent)) return error;
    }
    position_ += sectors;
    return 0;
  }

  uint64_t Position() const override { return position_; }

  uint32_t ReadAt(uint64_t sector, void* buffer, uint32_t count) override {
    if (count == 0 || count > std::numeric_limits<uint32_t>::max() / kSectorBytes) {
      return errc::kInvalidParameter;
    }
    const uint32_t bytes = count * kSectorBytes;
    // A handle of its own for every read: single reads never depend on, nor
    // move, the open handle's position.
    const Handle handle = Nt() ? OpenVolume(kGenericRead) : OpenVwin32(0);
    if (handle == kInvalidHandleValue) return LastError();
    uint32_t error = 0;
    if (Nt()) {
      uint32_t moved = 0;
      error = MoveFilePointer(handle, sector, kFileBegin);
      if (error == 0 && !api_->ReadFile(handle, buffer, bytes, &moved)) error = LastError();
      // Success only when every byte asked for arrived: a read that ends at
      // the end of the volume delivered part of it.
      if (error == 0 && moved != bytes) error = errc::kSectorNotFound;
    } else {
      error = VwinTransfer(handle, false, sector, buffer, bytes);
    }
    api_->CloseHandle(handle);
    return error;
  }

  uint64_t DeviceSize() override {
    // The system, not the controller's family, says which request applies:
    // bit 31 of the packed version is set on 95/98/ME.
    if ((api_->GetVersion() & 0x80000000u) == 0) return GeometrySize();
    return DeviceParametersSize();
  }

  uint32_t FreeSpace(uint64_t& freeBytes) override {
    freeBytes = 0;
    const std::string root = Root();
    if (family_ == kFamilyWin95) {
      // The first release of 95 has no GetDiskFreeSpaceExA.
      uint32_t sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
      if (!api_->GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                   &totalClusters)) {
        return LastError();
      }
      freeBytes = ProductOrZero({sectorsPerCluster, bytesPerSector, freeClusters});
      return 0;
    }
    const Module kernel = api_->LoadLibraryA("Kernel32.dll");
    if (kernel == kNoModule) {
      const uint32_t error = LastError();
      AskUser("Failed to load DLL Kernel32.dll.", "DLL Error", ButtonsOk, IconError);
      return error;
    }
    uint32_t error = 0;
    uint64_t toCaller = 0, total = 0, totalFree = 0;
    const GetDiskFreeSpaceExProc getFreeSpace = api_->FindGetDiskFreeSpaceExA(kernel);
    if (!getFreeSpace || !getFreeSpace(root.c_str(), &toCaller, &total, &totalFree)) error = LastError();
    api_->FreeLibrary(kernel);
    if (error == 0) freeBytes = toCaller;
    return error;
  }

  bool GetVolumeInformation(VolumeInformation& info) override {
    char label[256] = {};
    char fileSystem[256] = {};
    if (!api_->GetVolumeInformationA(Root().c_str(), label, sizeof label, fileSystem, sizeof fileSystem)) {
      return false;
    }
    label[sizeof label - 1] = fileSystem[sizeof fileSystem - 1] = '\0';
    info.label = label;
    info.fileSystem = fileSystem;
    return true;
  }

  uint32_t Flush() override {
    if (!IsOpen()) return errc::kInvalidHandle;
    // The absolute disk services return when the sectors are on the medium;
    // a volume handle's writes may sit in the system's cache until flushed.
    if (Nt() && !api_->FlushFileBuffers(handle_)) return LastError();
    return 0;
  }

 private:
  bool Nt() const { return family_ == kFamilyNT; }
  bool Int21Calls() const { return family_ == kFamilyWin98 || family_ == kFamilyWinMe; }
  std::string Root() const { return std::string(1, letter_) + ":\\"; }
  uint32_t DriveNumber(uint32_t numberOfA) const { return static_cast<uint32_t>(letter_ - 'A') + numberOfA; }

  // A failure whose code the system did not give is still a failure.
  uint32_t LastError() const {
    const uint32_t error = api_->GetLastError();
    return error != 0 ? error : errc::kGenFailure;
  }

  Handle OpenVolume(uint32_t access) {
    const std::string path = std::string("\\\\.\\") + letter_ + ":";
    return api_->CreateFileA(path.c_str(), access, kFileShareRead | kFileShareWrite, kOpenExisting,
                             kFileAttributeNormal);
  }

  Handle OpenVwin32(uint32_t flags) { return api_->CreateFileA("\\\\.\\vwin32", 0, 0, 0, flags); }

  // The file pointer to `sectors` × 512 from `method`'s origin, in 64 bits.
  uint32_t MoveFilePointer(Handle handle, uint64_t sectors, uint32_t method) {
    if (sectors > std::numeric_limits<uint64_t>::max() / 2 / kSectorBytes) return errc::kSectorNotFound;
    const uint64_t offset = sectors * kSectorBytes;
    int32_t high = static_cast<int32_t>(offset >> 32);
    const uint32_t low = api_->SetFilePointer(handle, static_cast<int32_t>(offset & 0xFFFFFFFFu), &high, method);
    if (low == kInvalidSetFilePointer) {
      const uint32_t error = api_->GetLastError();
      if (error != 0) return error;
    }
    return 0;
  }

  uint32_t TransferAtPosition(bool write, void* buffer, uint32_t bytes, uint32_t& done) {
    done = 0;
    if (!IsOpen()) return errc::kInvalidHandle;
    if (bytes % kSectorBytes != 0) return errc::kInvalidParameter;
    if (Nt()) {
      uint32_t moved = 0;
      const bool ok = write ? api_->WriteFile(handle_, buffer, bytes, &moved)
                            : api_->ReadFile(handle_, buffer, bytes, &moved);
      if (ok && moved == bytes) {
        done = bytes;
        position_ += bytes / kSectorBytes;
        return 0;
      }
      // A transfer cut short at the end of the volume moved part of the run.
      const uint32_t error = ok ? errc::kSectorNotFound : LastError();
      // Whatever the system moved, the retry starts where this try did.
      (void)MoveFilePointer(handle_, position_, kFileBegin);
      return error;
    }
    if (const uint32_t error = VwinTransfer(handle_, write, position_, buffer, bytes)) return error;
    done = bytes;
    position_ += bytes / kSectorBytes;
    return 0;
  }

  // One absolute-disk call: the packet for `bytes` at `first`, the register
  // block of the family's read or write, the call on `handle`.
  uint32_t VwinTransfer(Handle handle, bool write, uint64_t first, void* buffer, uint32_t bytes) {
    const uint32_t count = bytes / kSectorBytes;
    if (count == 0 || bytes % kSectorBytes != 0 || count > kMaxPacketCount) return errc::kInvalidParameter;
    // The packet names sectors in 32 bits: a run past that would wrap round
    // to the start of the drive.
    if (first > kMaxPacketSector || count - 1 > kMaxPacketSector - first) return errc::kSectorNotFound;
    uint8_t packet[kDiskIoPacketBytes] = {};
    const uint32_t bufferAddress = api_->FlatAddress(buffer, bytes);
    Put(packet, 0, 4, first);
    Put(packet, 4, 2, count);
    Put(packet, 6, 4, bufferAddress);
    const uint32_t packetAddress = api_->FlatAddress(packet, sizeof packet);
    if (bufferAddress == 0 || packetAddress == 0) return errc::kNotEnoughMemory;

    Registers r;
    r.ebx = packetAddress;
    r.ecx = 0xFFFFFFFFu;
    r.flags = kCarryFlag;
    uint32_t code = 0;
    if (Int21Calls()) {
      code = kVwin32DriveInfo;
      r.eax = 0x7305;
      r.edx = DriveNumber(1);
      r.esi = write ? kIoctlWriteData : kIoctlRead;
    } else {
      code = write ? kVwin32Int26 : kVwin32Int25;
      r.eax = DriveNumber(0);
    }
    return Call(handle, code, r);
  }

  // DeviceIoControl with the block as input and output. The carry flag is
  // set going in and must come back clear; when it does not, the service's
  // error is in EAX.
  uint32_t Call(Handle handle, uint32_t code, Registers& r) {
    uint8_t block[kRegisterBlockBytes];
    EncodeRegisters(r, block);
    uint32_t returned = 0;
    if (!api_->DeviceIoControl(handle, code, block, sizeof block, block, sizeof block, &returned)) {
      return LastError();
    }
    r = DecodeRegisters(block);
    if ((r.flags & kCarryFlag) == 0) return 0;
    // The system's last error says nothing about a call that DeviceIoControl
    // carried out: the error is the service's own.
    uint32_t error = 0;
    if (code == kVwin32Int25 || code == kVwin32Int26) {
      // AL holds the critical-error code, which counts from 19 (write
      // protected) among the system's codes.
      error = 19 + (r.eax & 0xFF);
    } else if ((r.eax & 0xFFFF) == kFunctionMissing) {
      error = errc::kInvalidFunction;
    } else {
      error = r.eax & 0xFFFF;
    }
    return error != 0 ? error : errc::kGenFailure;
  }

  uint64_t GeometrySize() {
    const Handle handle = OpenVolume(kGenericRead);
    if (handle == kInvalidHandleValue) return 0;
    uint8_t geometry[kDriveGeometryBytes] = {};
    uint32_t returned = 0;
    const bool ok = api_->DeviceIoControl(handle, kIoctlDiskGetDriveGeometry, nullptr, 0, geometry,
                                          sizeof geometry, &returned);
    api_->CloseHandle(handle);
    if (!ok || returned < sizeof geometry) return 0;
    // Cylinders (64-bit), media type, tracks per cylinder, sectors per
    // track, bytes per sector.
    return ProductOrZero({Get64(geometry, 0), Get32(geometry, 12), Get32(geometry, 16), Get32(geometry, 20)});
  }

  uint64_t DeviceParametersSize() {
    const Handle handle = api_->CreateFileA("\\\\.\\VWIN32", 0, 0, 0, kFileFlagDeleteOnClose);
    if (handle == kInvalidHandleValue) return 0;
    uint8_t params[kDeviceParametersBytes] = {};  // special functions 0: the default BPB
    Registers r;
    r.eax = 0x440D;
    r.ebx = DriveNumber(1);
    r.ecx = kGetDeviceParameters;
    r.edx = api_->FlatAddress(params, sizeof params);
    r.flags = kCarryFlag;
    const uint32_t error = r.edx == 0 ? errc::kNotEnoughMemory : Call(handle, kVwin32DosIoctl, r);
    api_->CloseHandle(handle);
    if (error != 0) return 0;
    // A BPB keeps a count below 65536 in its 16-bit field and leaves the
    // 32-bit one 0: reading only the latter would make a floppy 0 bytes long
    // and leave all but its first sector out of every wipe and scan.
    const uint16_t small = Get16(params, kParamsTotalSectors16);
    const uint32_t total = small != 0 ? small : Get32(params, kParamsTotalSectors32);
    return ProductOrZero({Get16(params, kParamsBytesPerSector), total});
  }

  std::shared_ptr<Win32Disk> api_;
  char letter_;
  uint16_t family_ = kFamilyNT;
  Handle handle_ = kInvalidHandleValue;
  uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<SectorBackend> MakeWindowsDiskBackend(std::shared_ptr<Win32Disk> api, char letter) {
  return std::make_unique<WindowsDiskBackend>(std::move(api), letter);
}

}  // namespace platform::win32api
