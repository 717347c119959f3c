#include "platform/linux/Win32DiskEmulator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <span>

#include "platform/ErrorCodes.h"
#include "platform/SectorBackend.h"
#include "platform/linux/VolumeProbe.h"
#include "platform/win32api/LeFields.h"

namespace platform::win32api {
namespace {

using lefield::Get16;
using lefield::Get32;
using lefield::Put;

thread_local uint32_t t_lastError = 0;

constexpr Module kKernel32 = 0x7FF00000;
constexpr uint32_t kCarry = 1;
constexpr uint32_t kNegativeSeek = 131;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kModNotFound = 126;
constexpr uint32_t kProcNotFound = 127;
constexpr uint32_t kInvalidDrive = 15;
// The flat addresses handed out for memory, with a guard gap between two
// regions so that a field read past one never lands in the next.
constexpr uint32_t kFirstAddress = 0x00410000;
constexpr uint32_t kLastAddress = 0xFFF00000;
constexpr uint32_t kAddressGranule = 0x1000;

// Critical-error codes of int 25h/26h (AL) with the BIOS status (AH).
constexpr uint16_t kInt25WriteProtect = 0x0300;
constexpr uint16_t kInt25NotReady = 0x8002;
constexpr uint16_t kInt25DataError = 0x1004;
constexpr uint16_t kInt25SectorNotFound = 0x0408;
constexpr uint16_t kInt25UnknownUnit = 0x0101;

std::string Lower(const char* s) {
  std::string out = s ? s : "";
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

char LetterOf(uint32_t driveNumber, uint32_t numberOfA) {
  if (driveNumber < numberOfA || driveNumber - numberOfA >= 26) return 0;
  return static_cast<char>('A' + (driveNumber - numberOfA));
}

uint64_t ImageBytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Moves bytes between memory and the image. 0 or the system's code.
uint32_t ImageIo(const std::string& path, bool write, uint64_t offset, uint8_t* data, size_t bytes) {
  const int fd = ::open(path.c_str(), (write ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return errc::kNotReady;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes) {
    const ssize_t n = write ? ::pwrite(fd, data + done, bytes - done, static_cast<off_t>(offset + done))
                            : ::pread(fd, data + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ::close(fd);
  return ok ? 0 : (write ? errc::kWriteFault : errc::kReadFault);
}

void CopyText(const std::string& text, char* out, uint32_t size) {
  if (!out || size == 0) return;
  const size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace

Win32DiskEmulator::Drive& Win32DiskEmulator::MapDrive(char letter, const std::string& image) {
  std::lock_guard lock(mutex_);
  Drive& drive = drives_[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))];
  drive = Drive{};
  drive.image = image;
  return drive;
}

Win32DiskEmulator::Drive& Win32DiskEmulator::DriveFor(char letter) {
  std::lock_guard lock(mutex_);
  return drives_.at(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
}

std::vector<Win32DiskEmulator::VwinCall> Win32DiskEmulator::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void Win32DiskEmulator::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

std::vector<std::string> Win32DiskEmulator::Violations() const {
  std::lock_guard lock(mutex_);
  return violations_;
}

size_t Win32DiskEmulator::OpenHandles() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

int Win32DiskEmulator::LoadedLibraries() const {
  std::lock_guard lock(mutex_);
  return loadedLibraries_;
}

void Win32DiskEmulator::SetLastError(uint32_t error) { t_lastError = error; }
uint32_t Win32DiskEmulator::GetLastError() { return t_lastError; }

bool Win32DiskEmulator::Refuse(const std::string& why) {
  violations_.push_back(why);
  t_lastError = errc::kInvalidParameter;
  return false;
}

bool Win32DiskEmulator::Fail(uint32_t error) {
  t_lastError = error;
  return false;
}

const Win32DiskEmulator::Drive* Win32DiskEmulator::Find(char letter) const {
  const auto it = drives_.find(letter);
  return it == drives_.end() ? nullptr : &it->second;
}

uint64_t Win32DiskEmulator::SectorsOf(const Drive& drive) const { return ImageBytes(drive.image) / kSectorBytes; }

Handle Win32DiskEmulator::CreateFileA(const char* name, uint32_t access, uint32_t shareMode, uint32_t creation,
                                      uint32_t flagsAndAttributes) {
  std::lock_guard lock(mutex_);
  const std::string path = Lower(name);
  if (path == "\\\\.\\vwin32") {
    // The virtual device is opened without rights or sharing.
    if (access != 0 || shareMode != 0) {
      Refuse("VWIN32 opened with access " + std::to_string(access) + ", sharing " + std::to_string(shareMode));
      return kInvalidHandleValue;
    }
    if (flagsAndAttributes != 0 && flagsAndAttributes != kFileFlagDeleteOnClose) {
      Refuse("VWIN32 opened with flags " + std::to_string(flagsAndAttributes));
      return kInvalidHandleValue;
    }
    const Handle h = nextHandle_ += 4;
    handles_[h] = OpenHandle{Kind::Vwin32};
    return h;
  }
  const bool volumePath = path.size() == 6 && path.rfind("\\\\.\\", 0) == 0 && path[5] == ':' &&
                          std::isalpha(static_cast<unsigned char>(path[4]));
  if (volumePath) {
    // A volume: read, or read and write, both shared, existing.
    if (access != kGenericRead && access != (kGenericRead | kGenericWrite)) {
      Refuse("volume opened with access " + std::to_string(access));
      return kInvalidHandleValue;
    }
    if (shareMode != (kFileShareRead | kFileShareWrite) || creation != kOpenExisting ||
        (flagsAndAttributes != 0 && flagsAndAttributes != kFileAttributeNormal)) {
      Refuse("volume opened with sharing " + std::to_string(shareMode) + ", creation " + std::to_string(creation) +
             ", flags " + std::to_string(flagsAndAttributes));
      return kInvalidHandleValue;
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
    const Drive* drive = Find(letter);
    if (!drive) {
      Fail(errc::kFileNotFound);
      return kInvalidHandleValue;
    }
    if (::access(drive->image.c_str(), R_OK) != 0) {
      Fail(errc::kNotReady);
      return kInvalidHandleValue;
    }
    const Handle h = nextHandle_ += 4;
    handles_[h] = OpenHandle{Kind::Volume, letter, (access & kGenericWrite) != 0};
    return h;
  }
  Refuse(std::string("open of an unexpected path \"") + (name ? name : "") + "\"");
  return kInvalidHandleValue;
}

bool Win32DiskEmulator::CloseHandle(Handle handle) {
  std::lock_guard lock(mutex_);
  if (handles_.erase(handle) == 0) return Refuse("close of a handle that is not open");
  return true;
}

bool Win32DiskEmulator::ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* bytesRead) {
  return FileTransfer(handle, false, static_cast<uint8_t*>(buffer), bytes, bytesRead);
}

bool Win32DiskEmulator::WriteFile(Handle handle, const void* buffer, uint32_t bytes, uint32_t* bytesWritten) {
  // Only read from: the image receives the caller's bytes.
  return FileTransfer(handle, true, static_cast<uint8_t*>(const_cast<void*>(buffer)), bytes, bytesWritten);
}

bool Win32DiskEmulator::FileTransfer(Handle handle, bool write, uint8_t* buffer, uint32_t bytes, uint32_t* moved) {
  std::lock_guard lock(mutex_);
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return Fail(errc::kInvalidHandle);
  OpenHandle& h = it->second;
  if (h.kind != Kind::Volume) return Refuse("ReadFile or WriteFile on the VWIN32 device");
  if (!moved || (!buffer && bytes != 0)) return Refuse("ReadFile or WriteFile without a buffer or a count");
  *moved = 0;
  // A volume moves whole sectors at sector offsets.
  if (bytes % kSectorBytes != 0 || h.offset % kSectorBytes != 0) {
    return Refuse("transfer of " + std::to_string(bytes) + " bytes at offset " + std::to_string(h.offset));
  }
  const Drive* drive = Find(h.letter);
  if (!drive) return Fail(errc::kNotReady);
  const uint64_t size = SectorsOf(*drive) * kSectorBytes;
  const uint64_t first = h.offset / kSectorBytes;
  if (write) {
    if (!h.writable) return Fail(errc::kAccessDenied);
    if (drive->writeProtected) return Fail(errc::kWriteProtect);
    // A volume does not grow.
    if (h.offset > size || bytes > size - h.offset) return Fail(errc::kSectorNotFound);
    if (const uint32_t error = ImageIo(drive->image, true, h.offset, buffer, bytes)) return Fail(error);
    h.offset += bytes;
    *moved = bytes;
    return true;
  }
  // A read stops at the end of the volume, as on a file: what lies beyond
  // is simply not delivered.
  const uint32_t length = h.offset >= size ? 0 : static_cast<uint32_t>(std::min<uint64_t>(bytes, size - h.offset));
  const auto bad = drive->unreadable.lower_bound(first);
  if (bad != drive->unreadable.end() && *bad < first + length / kSectorBytes) return Fail(errc::kCrc);
  if (const uint32_t error = ImageIo(drive->image, false, h.offset, buffer, length)) return Fail(error);
  h.offset += length;
  *moved = length;
  return true;
}

uint32_t Win32DiskEmulator::SetFilePointer(Handle handle, int32_t distanceLow, int32_t* distanceHigh,
                                           uint32_t method) {
  std::lock_guard lock(mutex_);
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    Fail(errc::kInvalidHandle);
    return kInvalidSetFilePointer;
  }
  OpenHandle& h = it->second;
  if (h.kind != Kind::Volume) {
    Refuse("SetFilePointer on the VWIN32 device");
    return kInvalidSetFilePointer;
  }
  // Without a high part the distance is a signed 32-bit value.
  const uint64_t high = distanceHigh ? static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32 : 0;
  const int64_t distance = distanceHigh ? static_cast<int64_t>(high | static_cast<uint32_t>(distanceLow))
                                        : static_cast<int64_t>(distanceLow);
  int64_t origin = 0;
  if (method == kFileCurrent) {
    origin = static_cast<int64_t>(h.offset);
  } else if (method == kFileEnd) {
    const Drive* drive = Find(h.letter);
    origin = drive ? static_cast<int64_t>(SectorsOf(*drive) * kSectorBytes) : 0;
  } else if (method != kFileBegin) {
    Refuse("SetFilePointer with method " + std::to_string(method));
    return kInvalidSetFilePointer;
  }
  const int64_t target = origin + distance;
  if (target < 0) {
    Fail(kNegativeSeek);
    return kInvalidSetFilePointer;
  }
  h.offset = static_cast<uint64_t>(target);
  if (distanceHigh) *distanceHigh = static_cast<int32_t>(h.offset >> 32);
  // A low part of FFFFFFFFh is a success only with the last error clear.
  t_lastError = 0;
  return static_cast<uint32_t>(h.offset);
}

bool Win32DiskEmulator::FlushFileBuffers(Handle handle) {
  std::lock_guard lock(mutex_);
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return Fail(errc::kInvalidHandle);
  if (it->second.kind != Kind::Volume) return Refuse("FlushFileBuffers on the VWIN32 device");
  if (!it->second.writable) return Fail(errc::kAccessDenied);
  const Drive* drive = Find(it->second.letter);
  if (!drive) return Fail(errc::kNotReady);
  const int fd = ::open(drive->image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(errc::kNotReady);
  const bool ok = ::fdatasync(fd) == 0;
  ::close(fd);
  return ok ? true : Fail(errc::kWriteFault);
}

uint8_t* Win32DiskEmulator::Resolve(uint32_t address, uint32_t bytes) {
  auto it = regions_.upper_bound(address);
  if (it == regions_.begin()) return nullptr;
  --it;
  const uint32_t offset = address - it->first;
  if (offset > it->second.size || bytes > it->second.size - offset) return nullptr;
  return it->second.base + offset;
}

uint32_t Win32DiskEmulator::FlatAddress(const void* p, uint32_t bytes) {
  std::lock_guard lock(mutex_);
  if (!p) return 0;
  const uint64_t span = (static_cast<uint64_t>(bytes) + 2 * kAddressGranule - 1) / kAddressGranule * kAddressGranule;
  if (const auto known = addressOf_.find(p); known != addressOf_.end()) {
    // The same memory again: the same address, its extent what is handed
    // now (a buffer freed and made again smaller at the same place must not
    // keep the room of the old one).
    Region& region = regions_.at(known->second);
    if (span <= region.reserved) {
      region.size = bytes;
      return known->second;
    }
    regions_.erase(known->second);
    addressOf_.erase(known);
  }
  if (nextAddress_ < kFirstAddress || nextAddress_ + span > kLastAddress) {
    // The space is used up: start again from the bottom. Memory registered
    // long ago has been handed to its call and answered by now.
    regions_.clear();
    addressOf_.clear();
    nextAddress_ = kFirstAddress;
  }
  if (span > kLastAddress - kFirstAddress) return 0;
  const uint32_t address = nextAddress_;
  nextAddress_ += static_cast<uint32_t>(span);
  regions_[address] = Region{static_cast<uint8_t*>(const_cast<void*>(p)), bytes, span};
  addressOf_[p] = address;
  return address;
}

bool Win32DiskEmulator::DecodePacket(uint32_t address, Packet& packet, VwinCall& call) {
  const uint8_t* bytes = Resolve(address, kDiskIoPacketBytes);
  if (!bytes) return Refuse("EBX does not point at a 10-byte disk I/O packet");
  const std::span<const uint8_t> p(bytes, kDiskIoPacketBytes);
  call.packet.assign(p.begin(), p.end());
  packet.first = Get32(p, 0);
  packet.count = Get16(p, 4);
  const uint32_t bufferAddress = Get32(p, 6);
  if (packet.count == 0) return Refuse("disk I/O packet for 0 sectors");
  packet.buffer = Resolve(bufferAddress, static_cast<uint32_t>(packet.count) * kSectorBytes);
  if (!packet.buffer) {
    return Refuse("the packet's buffer does not hold " + std::to_string(packet.count) + " sectors");
  }
  return true;
}

Win32DiskEmulator::Answer Win32DiskEmulator::Transfer(char letter, bool write, const Packet& packet,
                                                      bool int25Codes) {
  const Drive* drive = letter ? Find(letter) : nullptr;
  if (!drive) return {true, int25Codes ? kInt25UnknownUnit : static_cast<uint16_t>(kInvalidDrive)};
  const uint64_t sectors = SectorsOf(*drive);
  auto failure = [&](uint16_t int25, uint32_t code) {
    return Answer{true, int25Codes ? int25 : static_cast<uint16_t>(code)};
  };
  if (static_cast<uint64_t>(packet.first) + packet.count > sectors) {
    return failure(kInt25SectorNotFound, errc::kSectorNotFound);
  }
  if (write && drive->writeProtected) return failure(kInt25WriteProtect, errc::kWriteProtect);
  if (!write) {
    const auto bad = drive->unreadable.lower_bound(packet.first);
    if (bad != drive->unreadable.end() && *bad < static_cast<uint64_t>(packet.first) + packet.count) {
      return failure(kInt25DataError, errc::kCrc);
    }
  }
  const uint32_t error = ImageIo(drive->image, write, static_cast<uint64_t>(packet.first) * kSectorBytes,
                                 packet.buffer, static_cast<size_t>(packet.count) * kSectorBytes);
  if (error != 0) return failure(kInt25NotReady, error);
  return {};
}

Win32DiskEmulator::Answer Win32DiskEmulator::DeviceParameters(char letter, uint8_t* params) {
  const Drive* drive = letter ? Find(letter) : nullptr;
  if (!drive) return {true, static_cast<uint16_t>(kInvalidDrive)};
  const uint64_t sectors = std::min<uint64_t>(SectorsOf(*drive), 0xFFFFFFFFu);
  // The BPB from offset 7, as the system keeps it for the device: the
  // 16-bit total sector count when it fits, else the 32-bit one.
  const std::span<uint8_t> p(params, 32);
  Put(p, 1, 1, 5);                        // device type: fixed disk
  Put(p, 7, 2, kSectorBytes);             // bytes per sector
  Put(p, 9, 1, 1);                        // sectors per cluster
  Put(p, 15, 2, sectors < 0x10000 ? sectors : 0);
  Put(p, 28, 4, sectors < 0x10000 ? 0 : sectors);
  return {};
}

bool Win32DiskEmulator::DeviceIoControl(Handle handle, uint32_t code, void* in, uint32_t inBytes, void* out,
                                        uint32_t outBytes, uint32_t* bytesReturned) {
  std::lock_guard lock(mutex_);
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return Fail(errc::kInvalidHandle);
  if (!bytesReturned) return Refuse("DeviceIoControl without a count of bytes returned");
  *bytesReturned = 0;
  const OpenHandle& h = it->second;

  if (h.kind == Kind::Volume) {
    if (code != kIoctlDiskGetDriveGeometry) return Refuse("volume control code " + std::to_string(code));
    if (in || inBytes) return Refuse("drive geometry request with input");
    if (!out || outBytes < kDriveGeometryBytes) return Fail(kInsufficientBuffer);
    const Drive* drive = Find(h.letter);
    if (!drive) return Fail(errc::kNotReady);
    if (drive->geometryFails) return Fail(errc::kInvalidFunction);
    // The largest common shape that holds the image exactly.
    const uint64_t sectors = SectorsOf(*drive);
    uint32_t heads = 1, perTrack = 1;
    constexpr std::pair<uint32_t, uint32_t> kShapes[] = {{255, 63}, {16, 63}, {2, 18}};
    for (const auto& [hd, st] : kShapes) {
      if (sectors % (hd * st) == 0) {
        heads = hd;
        perTrack = st;
        break;
      }
    }
    const std::span<uint8_t> g(static_cast<uint8_t*>(out), kDriveGeometryBytes);
    Put(g, 0, 8, sectors / (heads * perTrack));  // cylinders
    Put(g, 8, 4, 12);                            // media type: fixed
    Put(g, 12, 4, heads);
    Put(g, 16, 4, perTrack);
    Put(g, 20, 4, kSectorBytes);
    *bytesReturned = kDriveGeometryBytes;
    return true;
  }

  // VWIN32: the register block is the input and the output.
  if (code != kVwin32DosIoctl && code != kVwin32Int25 && code != kVwin32Int26 && code != kVwin32DriveInfo) {
    return Refuse("VWIN32 control code " + std::to_string(code));
  }
  if (!in || inBytes != kRegisterBlockBytes || outBytes != kRegisterBlockBytes || out != in) {
    return Refuse("VWIN32 call without one 28-byte register block as input and output (" + std::to_string(inBytes) +
                  " in, " + std::to_string(outBytes) + " out)");
  }
  VwinCall call;
  call.code = code;
  std::memcpy(call.block.data(), in, kRegisterBlockBytes);
  const bool ok = VwinCallLocked(code, static_cast<uint8_t*>(in), call);
  calls_.push_back(call);
  if (ok) *bytesReturned = kRegisterBlockBytes;
  return ok;
}

bool Win32DiskEmulator::VwinCallLocked(uint32_t code, uint8_t* block, VwinCall& call) {
  const std::span<uint8_t> b(block, kRegisterBlockBytes);
  const uint32_t ebx = Get32(b, 0), edx = Get32(b, 4), ecx = Get32(b, 8), eax = Get32(b, 12), edi = Get32(b, 16),
                 esi = Get32(b, 20), flags = Get32(b, 24);
  auto hex = [](uint32_t v) {
    char s[16];
    std::snprintf(s, sizeof s, "%08X", v);
    return std::string(s);
  };
  if (flags != kCarry) return Refuse("Flags " + hex(flags) + " going in: the carry alone must be set");
  if (edi != 0) return Refuse("EDI " + hex(edi) + " holds nothing for these services");

  Answer answer;
  if (code == kVwin32DriveInfo) {
    if (eax != 0x7305) return Refuse("int 21h with EAX " + hex(eax) + " instead of 7305h");
    if (ecx != 0xFFFFFFFF) return Refuse("int 21h 7305h with ECX " + hex(ecx));
    if (esi != 0x6000 && esi != 0x6001) return Refuse("int 21h 7305h with ESI " + hex(esi));
    Packet packet;
    if (!DecodePacket(ebx, packet, call)) return false;
    if (lacksInt21Transfers) {
      answer = {true, 0x7300};
    } else {
      answer = Transfer(LetterOf(edx, 1), esi == 0x6001, packet, false);
    }
  } else if (code == kVwin32Int25 || code == kVwin32Int26) {
    if (ecx != 0xFFFFFFFF) return Refuse("int 25h/26h with ECX " + hex(ecx));
    if (edx != 0 || esi != 0) return Refuse("int 25h/26h with EDX " + hex(edx) + ", ESI " + hex(esi));
    Packet packet;
    if (!DecodePacket(ebx, packet, call)) return false;
    answer = Transfer(LetterOf(eax, 0), code == kVwin32Int26, packet, true);
  } else {
    if (eax != 0x440D) return Refuse("int 21h with EAX " + hex(eax) + " instead of 440Dh");
    if (ecx != 0x0860) return Refuse("440Dh with ECX " + hex(ecx) + " instead of 0860h");
    if (esi != 0) return Refuse("440Dh with ESI " + hex(esi));
    uint8_t* params = Resolve(edx, 32);
    if (!params) return Refuse("EDX does not point at a device-parameters buffer");
    if (params[0] != 0) return Refuse("device parameters asked with special functions " + std::to_string(params[0]));
    answer = DeviceParameters(LetterOf(ebx, 1), params);
  }
  // The answer: carry clear, or carry set with the error in AX.
  Put(b, 24, 4, answer.carry ? (flags | kCarry) : (flags & ~kCarry));
  if (answer.carry) Put(b, 12, 4, (eax & 0xFFFF0000u) | answer.ax);
  call.carry = answer.carry;
  call.eax = Get32(b, 12);
  return true;
}

bool Win32DiskEmulator::GetVersionExA(OsVersionInfo& info) {
  info = platform::GetVersionInfo();
  return true;
}

uint32_t Win32DiskEmulator::GetVersion() {
  OsVersionInfo info;
  GetVersionExA(info);
  const uint32_t version = (info.majorVersion & 0xFF) | (info.minorVersion & 0xFF) << 8;
  if (info.platformId == kPlatformNT) return version | (info.buildNumber & 0x7FFF) << 16;
  return version | 0x80000000u;
}

Module Win32DiskEmulator::LoadLibraryA(const char* name) {
  std::lock_guard lock(mutex_);
  if (Lower(name) != "kernel32.dll" || libraryMissing) {
    Fail(kModNotFound);
    return kNoModule;
  }
  ++loadedLibraries_;
  return kKernel32;
}

bool Win32DiskEmulator::FreeLibrary(Module module) {
  std::lock_guard lock(mutex_);
  if (module != kKernel32 || loadedLibraries_ == 0) return Refuse("FreeLibrary of a module that is not loaded");
  --loadedLibraries_;
  return true;
}

GetDiskFreeSpaceExProc Win32DiskEmulator::FindGetDiskFreeSpaceExA(Module module) {
  std::lock_guard lock(mutex_);
  if (module != kKernel32 || loadedLibraries_ == 0) {
    Refuse("entry point looked up in a module that is not loaded");
    return {};
  }
  if (entryPointMissing) {
    Fail(kProcNotFound);
    return {};
  }
  return [this](const char* root, uint64_t* freeToCaller, uint64_t* total, uint64_t* totalFree) {
    return DiskFreeSpaceEx(root, freeToCaller, total, totalFree);
  };
}

bool Win32DiskEmulator::RootDrive(const char* root, const Drive*& drive) {
  const std::string r = root ? root : "";
  if (r.size() != 3 || !std::isupper(static_cast<unsigned char>(r[0])) || r[1] != ':' || r[2] != '\\') {
    return Refuse("root \"" + r + "\" is not of the form X:\\");
  }
  drive = Find(r[0]);
  if (!drive) return Fail(errc::kPathNotFound);
  return true;
}

bool Win32DiskEmulator::DiskFreeSpaceEx(const char* root, uint64_t* freeToCaller, uint64_t* total,
                                        uint64_t* totalFree) {
  std::lock_guard lock(mutex_);
  const Drive* drive = nullptr;
  if (!RootDrive(root, drive)) return false;
  if (!drive->freeBytes) return Fail(errc::kUnrecognizedVolume);
  if (freeToCaller) *freeToCaller = *drive->freeBytes;
  if (totalFree) *totalFree = *drive->freeBytes;
  if (total) *total = SectorsOf(*drive) * kSectorBytes;
  return true;
}

bool Win32DiskEmulator::GetDiskFreeSpaceA(const char* root, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                                          uint32_t* freeClusters, uint32_t* totalClusters) {
  std::lock_guard lock(mutex_);
  const Drive* drive = nullptr;
  if (!RootDrive(root, drive)) return false;
  if (!drive->freeBytes) return Fail(errc::kUnrecognizedVolume);
  constexpr uint32_t kSectorsPerCluster = 8;
  constexpr uint64_t kClusterBytes = kSectorsPerCluster * kSectorBytes;
  if (sectorsPerCluster) *sectorsPerCluster = kSectorsPerCluster;
  if (bytesPerSector) *bytesPerSector = kSectorBytes;
  if (freeClusters) {
    *freeClusters = static_cast<uint32_t>(std::min<uint64_t>(*drive->freeBytes / kClusterBytes, 0xFFFFFFFFu));
  }
  if (totalClusters) {
    *totalClusters = static_cast<uint32_t>(std::min<uint64_t>(SectorsOf(*drive) / kSectorsPerCluster, 0xFFFFFFFFu));
  }
  return true;
}

bool Win32DiskEmulator::GetVolumeInformationA(const char* root, char* volumeName, uint32_t volumeNameSize,
                                              char* fileSystemName, uint32_t fileSystemNameSize) {
  std::lock_guard lock(mutex_);
  const Drive* drive = nullptr;
  if (!RootDrive(root, drive)) return false;
  VolumeInformation info;
  if (!ProbeVolumePath(drive->image, info)) return Fail(errc::kUnrecognizedVolume);
  CopyText(info.label, volumeName, volumeNameSize);
  CopyText(info.fileSystem, fileSystemName, fileSystemNameSize);
  return true;
}

}  // namespace platform::win32api
