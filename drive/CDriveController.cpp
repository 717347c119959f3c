#include "drive/CDriveController.h"

#include <algorithm>

#include <cctype>
#include <cstring>
#include <string>
#include <thread>

#include "drive/NtfsCluster.h"
#include "platform/AlignedBuffer.h"
#include "platform/DriveTable.h"

namespace {

// Little-endian fields of a boot-sector copy, read with a bounds check: an
// offset outside the copy reads as 0 instead of beyond it.
template <size_t N>
uint8_t Byte(const uint8_t (&copy)[N], size_t offset) {
  return offset < N ? copy[offset] : 0;
}
template <size_t N>
uint16_t Le16(const uint8_t (&copy)[N], size_t offset) {
  return static_cast<uint16_t>(Byte(copy, offset) | Byte(copy, offset + 1) << 8);
}
template <size_t N>
uint32_t Le32(const uint8_t (&copy)[N], size_t offset) {
  return static_cast<uint32_t>(Le16(copy, offset)) | static_cast<uint32_t>(Le16(copy, offset + 2)) << 16;
}
// The zero-terminated text at `offset`, never reading past the copy.
template <size_t N>
std::string Text(const uint8_t (&copy)[N], size_t offset, size_t max) {
  std::string s;
  for (size_t i = offset; i < N && i < offset + max && copy[i] != 0; ++i) s.push_back(static_cast<char>(copy[i]));
  return s;
}

bool EqualsNoCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Offsets common to the three copies.
constexpr size_t kBytesPerSector = 11;    // 16-bit
constexpr size_t kSectorsPerCluster = 13; // 8-bit
constexpr size_t kReservedSectors = 14;   // 16-bit
constexpr size_t kNumberOfFats = 16;      // 8-bit
constexpr size_t kRootEntries = 17;       // 16-bit
constexpr size_t kTotalSectors16 = 19;    // 16-bit, FAT12/16
constexpr size_t kSectorsPerFat16 = 22;   // 16-bit, FAT12/16
constexpr size_t kTotalSectors32 = 32;    // 32-bit
constexpr size_t kFatTypeText = 54;       // 8 bytes, FAT12/16
constexpr size_t kSectorsPerFat32 = 36;   // 32-bit, FAT32
constexpr size_t kFat32TypeText = 82;     // 8 bytes, FAT32

// Sectors per cluster neither 0 nor above 128, bytes per sector a multiple
// of 512. A bytes-per-sector of 0 is refused as well: the first data sector
// of a FAT volume divides by it.
template <size_t N>
bool Plausible(const uint8_t (&copy)[N]) {
  const uint8_t spc = Byte(copy, kSectorsPerCluster);
  const uint16_t bps = Le16(copy, kBytesPerSector);
  return spc != 0 && spc <= 128 && bps != 0 && bps % 512 == 0;
}

// NTFS writes clusters of more than 128 sectors as a power of two.
bool PlausibleNtfs(const uint8_t (&copy)[84]) {
  const uint16_t bps = Le16(copy, kBytesPerSector);
  return NtfsClusterSectors(Byte(copy, kSectorsPerCluster)) != 0 && bps != 0 && bps % 512 == 0;
}

// FAT12, FAT16 or FAT32 from the count of data clusters, as the format's
// own documentation decides it (below 4085 FAT12, below 65525 FAT16), not
// from the type text, which formatters write as a mere label. A boot sector
// with no 16-bit FAT size is laid out for FAT32 whatever its count (mkfs.fat
// makes such small FAT32 volumes). 0 when the fields leave no data area, so
// the caller falls back on the type text.
uint8_t FatKindByClusterCount(const uint8_t (&fat)[62], const uint8_t (&fat32)[90]) {
  const uint64_t bps = Le16(fat, kBytesPerSector);
  const uint64_t spc = Byte(fat, kSectorsPerCluster);
  if (bps == 0 || spc == 0) return 0;
  const uint64_t fatSize16 = Le16(fat, kSectorsPerFat16);
  const uint64_t fatSize = fatSize16 != 0 ? fatSize16 : Le32(fat32, kSectorsPerFat32);
  const uint64_t total = Le16(fat, kTotalSectors16) != 0 ? Le16(fat, kTotalSectors16) : Le32(fat, kTotalSectors32);
  const uint64_t rootSectors = (uint64_t{Le16(fat, kRootEntries)} * 32 + bps - 1) / bps;
  const uint64_t metadata = Le16(fat, kReservedSectors) + Byte(fat, kNumberOfFats) * fatSize + rootSectors;
  if (fatSize == 0 || total <= metadata) return 0;
  if (fatSize16 == 0) return FS_FAT32;
  const uint64_t clusters = (total - metadata) / spc;
  return clusters < 4085 ? FS_FAT12 : FS_FAT16;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

CDriveController::CDriveController()
    : CDriveController([](char letter) { return platform::DriveTable::Load().OpenBackend(letter); }) {}

CDriveController::CDriveController(BackendFactory factory) : factory_(std::move(factory)) {
  osFamily_ = DetectOsFamily();
}

CDriveController::~CDriveController() { CloseDrive(); }

bool CDriveController::OpenDrive(char letter) {
  const char up = Upper(letter);
  // The cached size belongs to the drive it was measured on; the same drive
  // reopened around formatting keeps it.
  if (up != letter_) lastSectorCache_ = 0;
  letter_ = up;
  CloseDrive();
  backend_ = BackendFor(letter_);
  if (!backend_) {
    // No drive of that letter: what opening "\\.\Q:" reports.
    lastError_ = errc::kFileNotFound;
    return false;
  }
  if (const uint32_t error = backend_->Open()) {
    lastError_ = error;
    return false;
  }
  position_ = backend_->Position();
  return ReadBootSector();
}

void CDriveController::CloseDrive() {
  // The backend object stays: reads at a sector use an access of their own
  // and work on a closed drive, as a fresh handle does on the system.
  if (backend_) backend_->Close();
}

bool CDriveController::ReadBootSector() {
  SetOsFamily(DetectOsFamily());
  // Nothing of a previously opened drive survives a failed recognition.
  fileSystem_ = FS_UNKNOWN;
  firstDataSector_ = 0;

  platform::AlignedBuffer sector(platform::kSectorBytes);
  if (!sector) {
    lastError_ = errc::kNotEnoughMemory;
    return false;
  }
  if (!ReadSectorsAt(sector.data(), 0, 1)) {
    if (osFamily_ != OS_WIN98 && osFamily_ != OS_WINME) return false;
    // The int 21h read is missing on some of these systems; the older
    // absolute-disk calls stay in force for this controller from now on.
    SetOsFamily(OS_WIN95);
    if (!ReadSectorsAt(sector.data(), 0, 1)) return false;
  }
  std::memcpy(ntfsBoot_, sector.data(), sizeof ntfsBoot_);
  std::memcpy(fatBoot_, sector.data(), sizeof fatBoot_);
  std::memcpy(fat32Boot_, sector.data(), sizeof fat32Boot_);

  platform::VolumeInformation volume;
  if (!backend_ || !backend_->GetVolumeInformation(volume)) {
    lastError_ = errc::kUnrecognizedVolume;
    return false;
  }
  const std::string& name = volume.fileSystem;

  if (EqualsNoCase(name, "NTFS") && PlausibleNtfs(ntfsBoot_)) {
    fileSystem_ = FS_NTFS;
    firstDataSector_ = 0;
    return true;
  }
  const bool fatName = EqualsNoCase(name, "FAT") || EqualsNoCase(name, "FAT16");
  if ((fatName && Plausible(fatBoot_)) || (EqualsNoCase(name, "FAT32") && Plausible(fat32Boot_))) {
    // Both type texts are compared as five characters ("FAT16", "FAT32").
    fatBoot_[kFatTypeText + 5] = 0;
    fat32Boot_[kFat32TypeText + 5] = 0;
    const uint8_t byCount = FatKindByClusterCount(fatBoot_, fat32Boot_);
    if (byCount == FS_FAT32 || (byCount == 0 && EqualsNoCase(Text(fat32Boot_, kFat32TypeText, 8), "FAT32"))) {
      firstDataSector_ = static_cast<uint64_t>(Byte(fat32Boot_, kNumberOfFats)) *
                             Le32(fat32Boot_, kSectorsPerFat32) +
                         Le16(fat32Boot_, kReservedSectors);
      fileSystem_ = FS_FAT32;
      return true;
    }
    if (byCount != 0) {
      fileSystem_ = byCount;
    } else if (Text(fatBoot_, kFatTypeText, 8) == "FAT16") {
      fileSystem_ = FS_FAT16;
    } else {
      const uint16_t total = Le16(fatBoot_, kTotalSectors16);
      if (total != 0 && total < 32680 && Le16(fatBoot_, kBytesPerSector) == 512 &&
          Byte(fatBoot_, kNumberOfFats) == 2) {
        fileSystem_ = FS_FAT12;
      } else {
        lastError_ = errc::kUnrecognizedVolume;
        return false;
      }
    }
    firstDataSector_ = static_cast<uint64_t>(Le16(fatBoot_, kRootEntries)) * 32 /
                           Le16(fatBoot_, kBytesPerSector) +
                       static_cast<uint64_t>(Le16(fatBoot_, kSectorsPerFat16)) *
                           Byte(fatBoot_, kNumberOfFats) +
                       Le16(fatBoot_, kReservedSectors);
    return true;
  }
  lastError_ = errc::kUnrecognizedVolume;
  return false;
}

void CDriveController::Rewind() {
  if (backend_ && backend_->IsOpen()) (void)backend_->SetPosition(0);
  position_ = 0;
}

bool CDriveController::SeekToSector(uint64_t sector) {
  if (!backend_) {
    lastError_ = errc::kInvalidHandle;
    return false;
  }
  if (const uint32_t error = backend_->SetPosition(sector)) {
    lastError_ = error;
    return false;
  }
  position_ = backend_->Position();
  return true;
}

bool CDriveController::SkipBytes(uint32_t byteCount) {
  if (!backend_) {
    lastError_ = errc::kInvalidHandle;
    return false;
  }
  if (const uint32_t error = backend_->Skip(byteCount / platform::kSectorBytes)) {
    lastError_ = error;
    return false;
  }
  position_ = backend_->Position();
  return true;
}

void CDriveController::Pause() const {
  if (retryPause_.count() > 0) std::this_thread::sleep_for(retryPause_);
}

bool CDriveController::WriteSectors(const void* buffer, uint32_t byteCount, uint32_t& bytesWritten) {
  bytesWritten = 0;
  if (!backend_) {
    lastError_ = errc::kInvalidHandle;
    return false;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint32_t done = 0;
    const uint32_t error = backend_->Write(buffer, byteCount, done);
    if (error == 0) {
      bytesWritten = done;
      position_ = backend_->Position();
      return true;
    }
    // The backend left the position alone, so the retry writes the same
    // sectors.
    lastError_ = error;
    Pause();
  }
  return false;
}

void CDriveController::FillWithMarker(void* buffer, uint32_t byteCount) {
  // Every read fills its whole buffer first, so this runs at memory speed:
  // one marker, then the filled part copied onto the rest, doubling each time.
  auto* p = static_cast<uint8_t*>(buffer);
  const uint32_t total = byteCount / 8 * 8;
  if (total == 0) return;
  std::memcpy(p, kMarker, 8);
  for (uint32_t filled = 8; filled < total;) {
    const uint32_t n = std::min(filled, total - filled);
    std::memcpy(p + filled, p, n);
    filled += n;
  }
}

bool CDriveController::HoldsOnlyMarker(const void* buffer, uint32_t byteCount) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  for (uint32_t i = 0; i + 8 <= byteCount; i += 8) {
    if (std::memcmp(p + i, kMarker, 8) != 0) return false;
  }
  return true;
}

template <typename Transfer>
CDriveController::ReadOutcome CDriveController::ReadWithRetry(Transfer&& transfer, void* buffer,
                                                              uint32_t byteCount) {
  FillWithMarker(buffer, byteCount);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const uint32_t error = transfer();
    if (error == 0) {
      return HoldsOnlyMarker(buffer, byteCount) ? ReadOutcome::NothingDelivered : ReadOutcome::Ok;
    }
    lastError_ = error;
    // A sector past the end of the medium will not appear on a second try,
    // nor will a closed drive open itself: skipping the pause keeps the size
    // search from waiting on every probe beyond the end.
    if (error == errc::kSectorNotFound || error == errc::kInvalidHandle) break;
    Pause();
  }
  return ReadOutcome::Failed;
}

void CDriveController::AddBadSector(uint64_t sector) {
  // The list keeps the first kMaxBadSectors found; the read goes on so the
  // buffer still receives every readable sector of the run.
  if (badSectorCount_ < kMaxBadSectors) badSectors_[badSectorCount_++] = static_cast<int64_t>(sector);
}

bool CDriveController::ReadSingleAt(uint8_t* buffer, uint64_t sector) {
  return ReadWithRetry([&] { return backend_->ReadAt(sector, buffer, 1); }, buffer,
                       platform::kSectorBytes) == ReadOutcome::Ok;
}

bool CDriveController::ReadSectors(void* buffer, uint32_t byteCount, uint32_t& bytesRead) {
  bytesRead = 0;
  badSectorCount_ = 0;
  if (!backend_) {
    lastError_ = errc::kInvalidHandle;
    return false;
  }
  uint32_t done = 0;
  const ReadOutcome outcome =
      ReadWithRetry([&] { return backend_->Read(buffer, byteCount, done); }, buffer, byteCount);
  if (outcome != ReadOutcome::Failed) {
    bytesRead = done;
    position_ = backend_->Position();
    return outcome == ReadOutcome::Ok;
  }
  const uint64_t first = backend_->Position();
  if (byteCount == platform::kSectorBytes) {
    AddBadSector(first);
  } else {
    // Break the run down so the list names exactly the unreadable sectors.
    auto* p = static_cast<uint8_t*>(buffer);
    const uint32_t count = byteCount / platform::kSectorBytes;
    for (uint32_t i = 0; i < count; ++i) {
      if (!ReadSingleAt(p + static_cast<size_t>(i) * platform::kSectorBytes, first + i)) {
        AddBadSector(first + i);
      }
    }
  }
  return false;
}

bool CDriveController::ReadSectorsAt(void* buffer, uint64_t firstSector, uint16_t sectorCount) {
  badSectorCount_ = 0;
  if (!backend_) {
    lastError_ = errc::kInvalidHandle;
    return false;
  }
  const uint32_t bytes = static_cast<uint32_t>(sectorCount) * platform::kSectorBytes;
  const ReadOutcome outcome = ReadWithRetry(
      [&] { return backend_->ReadAt(firstSector, buffer, sectorCount); }, buffer, bytes);
  if (outcome != ReadOutcome::Failed) return outcome == ReadOutcome::Ok;
  if (sectorCount == 1) {
    AddBadSector(firstSector);
  } else {
    auto* p = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < sectorCount; ++i) {
      if (!ReadSingleAt(p + static_cast<size_t>(i) * platform::kSectorBytes, firstSector + i)) {
        AddBadSector(firstSector + i);
      }
    }
  }
  return false;
}

bool CDriveController::Flush() {
  if (!backend_) {
    lastError_ = errc::kInvalidHandle;
    return false;
  }
  if (const uint32_t error = backend_->Flush()) {
    lastError_ = error;
    return false;
  }
  return true;
}

bool CDriveController::UnmountVolume() {
  if (!backend_) {
    lastError_ = errc::kInvalidHandle;
    return false;
  }
  if (const uint32_t error = backend_->Unmount()) {
    lastError_ = error;
    return false;
  }
  return true;
}

int64_t CDriveController::GetBadSector(int32_t index) const {
  if (index < 0 || index >= badSectorCount_) return -1;
  return badSectors_[index];
}

uint16_t CDriveController::GetBytesPerSector() const {
  uint16_t bps = 0;
  switch (fileSystem_) {
    case FS_NTFS: bps = Le16(ntfsBoot_, kBytesPerSector); break;
    case FS_FAT32: bps = Le16(fat32Boot_, kBytesPerSector); break;
    case FS_FAT12:
    case FS_FAT16: bps = Le16(fatBoot_, kBytesPerSector); break;
    default: return 512;
  }
  return bps == 0 || bps % 512 != 0 ? 512 : bps;
}

uint8_t CDriveController::GetSectorsPerCluster() const {
  switch (fileSystem_) {
    case FS_NTFS: return Byte(ntfsBoot_, kSectorsPerCluster);
    case FS_FAT32: return Byte(fat32Boot_, kSectorsPerCluster);
    case FS_FAT12:
    case FS_FAT16: return Byte(fatBoot_, kSectorsPerCluster);
    default: return 1;
  }
}

uint32_t CDriveController::GetClusterSize() const {
  uint32_t size = 0;
  switch (fileSystem_) {
    case FS_NTFS:
      size = static_cast<uint32_t>(Le16(ntfsBoot_, kBytesPerSector)) *
             NtfsClusterSectors(Byte(ntfsBoot_, kSectorsPerCluster));
      break;
    case FS_FAT32:
      size = static_cast<uint32_t>(Le16(fat32Boot_, kBytesPerSector)) * Byte(fat32Boot_, kSectorsPerCluster);
      break;
    default:
      size = static_cast<uint32_t>(Le16(fatBoot_, kBytesPerSector)) * Byte(fatBoot_, kSectorsPerCluster);
      break;
  }
  return size == 0 || size % 512 != 0 ? 512 : size;
}

uint16_t CDriveController::GetRootEntryCount() const {
  return fileSystem_ == FS_FAT32 ? Le16(fat32Boot_, kRootEntries) : Le16(fatBoot_, kRootEntries);
}

std::unique_ptr<platform::SectorBackend> CDriveController::BackendFor(char letter) {
  auto backend = factory_ ? factory_(Upper(letter)) : nullptr;
  if (backend) backend->SetOsFamily(osFamily_);
  return backend;
}

void CDriveController::SetOsFamily(OsFamily family) {
  // The backend picks its access protocol by the family.
  osFamily_ = family;
  if (backend_) backend_->SetOsFamily(family);
}

uint64_t CDriveController::GetDriveSizeBytes(char letter) {
  if (backend_ && Upper(letter) == letter_) return backend_->DeviceSize();
  const auto other = BackendFor(letter);
  return other ? other->DeviceSize() : 0;
}

bool CDriveController::SectorExists(uint64_t sector, uint8_t* buffer) {
  if (ReadSectorsAt(buffer, sector, 1)) return true;
  // A sector the medium has but cannot read is still inside the drive. Only
  // a sector that is not there ends it: taking a damaged sector for the end
  // would leave the rest of the drive out of every wipe and scan.
  return lastError_ == errc::kCrc || lastError_ == errc::kReadFault;
}

uint64_t CDriveController::GetLastSector() {
  platform::AlignedBuffer sector(platform::kSectorBytes);
  if (!sector) return 0;
  const uint64_t size = GetDriveSizeBytes(letter_);
  // Twice the sector count the geometry suggests, in 64 bits: a drive of
  // more than 2^32 sectors is searched to its real end.
  uint64_t high = size / platform::kSectorBytes * 2;
  uint64_t low = 0;
  if (high == 0) return 0;
  while (high - low > 1) {
    const uint64_t middle = low + (high - low) / 2;
    if (SectorExists(middle, sector.data())) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return SectorExists(high, sector.data()) ? high : low;
}

uint64_t CDriveController::GetTotalSectors() {
  if (lastSectorCache_ == 0) lastSectorCache_ = GetLastSector();
  return lastSectorCache_;
}

bool CDriveController::GetVolumeSizeBytes(uint64_t& bytes) {
  // The search counts the 512-byte sectors every transfer uses, whatever the
  // file system's own sector size.
  bytes = (GetLastSector() + 1) * platform::kSectorBytes;
  return true;
}

bool CDriveController::GetFreeSpace(char letter, uint64_t& freeBytes) {
  freeBytes = 0;
  std::unique_ptr<platform::SectorBackend> other;
  platform::SectorBackend* backend = nullptr;
  if (backend_ && Upper(letter) == letter_) {
    backend = backend_.get();
  } else {
    other = BackendFor(letter);
    backend = other.get();
  }
  if (!backend) {
    lastError_ = errc::kFileNotFound;
    return false;
  }
  if (const uint32_t error = backend->FreeSpace(freeBytes)) {
    lastError_ = error;
    return false;
  }
  return true;
}

bool CDriveController::GetVolumeLabel(char letter, char* buffer, uint32_t bufferSize) {
  if (!buffer || bufferSize == 0) return true;
  std::string label = "N/A";
  platform::VolumeInformation volume;
  if (auto backend = platform::DriveTable::Load().OpenBackend(letter, true);
      backend && backend->GetVolumeInformation(volume)) {
    label = volume.label;
  }
  const size_t n = std::min<size_t>(label.size(), bufferSize - 1);
  std::memcpy(buffer, label.data(), n);
  buffer[n] = '\0';
  return true;
}

void CDriveController::CopyFatBootSector(uint8_t* out) const { std::memcpy(out, fatBoot_, sizeof fatBoot_); }
void CDriveController::CopyFat32BootSector(uint8_t* out) const {
  std::memcpy(out, fat32Boot_, sizeof fat32Boot_);
}
void CDriveController::CopyNtfsBootSector(uint8_t* out) const { std::memcpy(out, ntfsBoot_, sizeof ntfsBoot_); }
