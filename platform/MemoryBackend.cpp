#include "platform/MemoryBackend.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/ErrorCodes.h"
#include "platform/linux/VolumeProbe.h"

namespace platform {

std::shared_ptr<MemoryDisk> MemoryDisk::FromImage(const std::string& path) {
  auto disk = std::make_shared<MemoryDisk>();
  std::ifstream in(path, std::ios::binary);
  if (!in) return disk;
  disk->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  disk->bytes.resize(disk->bytes.size() / kSectorBytes * kSectorBytes);
  return disk;
}

namespace {

class MemoryBackend final : public SectorBackend {
 public:
  explicit MemoryBackend(std::shared_ptr<MemoryDisk> disk) : disk_(std::move(disk)) {}

  uint32_t Open() override {
    std::this_thread::sleep_for(disk_->openTakes);
    std::lock_guard lock(disk_->mutex);
    ++disk_->opens;
    uint32_t error = Gone();
    if (error == 0) {
      open_ = true;
      position_ = 0;
    }
    Log(MemoryDisk::Op::Open, 0, 0, error);
    return error;
  }

  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }

  uint32_t Read(void* buffer, uint32_t bytes, uint32_t& done) override {
    done = 0;
    Throttle(bytes);
    std::lock_guard lock(disk_->mutex);
    if (!open_) return errc::kInvalidHandle;
    const uint32_t error = ReadLocked(MemoryDisk::Op::Read, position_, buffer, bytes);
    if (error == 0) {
      done = bytes;
      position_ += bytes / kSectorBytes;
    }
    return error;
  }

  uint32_t Write(const void* buffer, uint32_t bytes, uint32_t& done) override {
    done = 0;
    Throttle(bytes);
    std::lock_guard lock(disk_->mutex);
    if (!open_) return errc::kInvalidHandle;
    const uint64_t first = position_;
    const uint32_t count = bytes / kSectorBytes;
    uint32_t error = Transfer();
    if (error == 0 && bytes % kSectorBytes != 0) error = errc::kInvalidParameter;
    if (error == 0 && disk_->writeProtected) error = errc::kWriteProtect;
    if (error == 0 && PastEnd(first, count)) error = errc::kSectorNotFound;
    if (error == 0 && Touches(disk_->unwritable, first, count)) error = errc::kWriteFault;
    if (error == 0 && disk_->transientWriteFailures > 0) {
      --disk_->transientWriteFailures;
      error = errc::kWriteFault;
    }
    if (error == 0) {
      if (bytes) std::memcpy(disk_->Sector(first), buffer, bytes);
      done = bytes;
      position_ += count;
    }
    Log(MemoryDisk::Op::Write, first, count, error);
    return error;
  }

  uint32_t SetPosition(uint64_t sector) override {
    if (!open_) return errc::kInvalidHandle;
    position_ = sector;
    return 0;
  }

  uint32_t Skip(uint64_t sectors) override {
    if (!open_) return errc::kInvalidHandle;
    position_ += sectors;
    return 0;
  }

  uint64_t Position() const override { return position_; }

  uint32_t ReadAt(uint64_t sector, void* buffer, uint32_t count) override {
    std::lock_guard lock(disk_->mutex);
    if (count > UINT32_MAX / kSectorBytes) return errc::kInvalidParameter;
    return ReadLocked(MemoryDisk::Op::ReadAt, sector, buffer, count * kSectorBytes);
  }

  uint64_t DeviceSize() override {
    std::lock_guard lock(disk_->mutex);
    if (Gone() != 0) return 0;
    return disk_->reportedDeviceSize.value_or(disk_->bytes.size());
  }

  uint32_t FreeSpace(uint64_t& freeBytes) override {
    freeBytes = 0;
    std::lock_guard lock(disk_->mutex);
    if (const uint32_t error = Gone()) return error;
    if (!disk_->freeBytes) return errc::kUnrecognizedVolume;
    freeBytes = *disk_->freeBytes;
    return 0;
  }

  bool GetVolumeInformation(VolumeInformation& info) override {
    std::lock_guard lock(disk_->mutex);
    if (Gone() != 0 || disk_->volumeUnavailable) return false;
    if (disk_->volume) {
      info = *disk_->volume;
      return true;
    }
    return ProbeVolumeBytes(disk_->bytes.data(), disk_->bytes.size(), info);
  }

  uint32_t Flush() override {
    std::lock_guard lock(disk_->mutex);
    ++disk_->flushes;
    const uint32_t error = Gone();
    Log(MemoryDisk::Op::Flush, 0, 0, error);
    return error;
  }

 private:
  // Not there at all: no medium, or pulled after its allowance of transfers.
  uint32_t Gone() const {
    if (disk_->vanishAfterTransfers >= 0 &&
        disk_->transfers >= static_cast<uint64_t>(disk_->vanishAfterTransfers)) {
      return errc::kNotReady;
    }
    if (disk_->noMedium) return errc::kNoMediaInDrive;
    return 0;
  }

  // Counts one transfer attempt; its error when the medium is gone.
  // Outside the disk's lock, so a test may look at the disk meanwhile.
  void Throttle(uint32_t bytes) const {
    if (disk_->bytesPerSecond > 0) {
      std::this_thread::sleep_for(std::chrono::duration<double>(bytes / disk_->bytesPerSecond));
    }
  }

  uint32_t Transfer() {
    const uint32_t error = Gone();
    ++disk_->transfers;
    return error;
  }

  bool PastEnd(uint64_t first, uint64_t count) const {
    const uint64_t total = disk_->SectorCount();
    return count > total || first > total - count;
  }

  static bool Touches(const std::set<uint64_t>& sectors, uint64_t first, uint64_t count) {
    auto it = sectors.lower_bound(first);
    return it != sectors.end() && *it - first < count;
  }

  uint32_t ReadLocked(MemoryDisk::Op op, uint64_t first, void* buffer, uint32_t bytes) {
    const uint32_t count = bytes / kSectorBytes;
    uint32_t error = Transfer();
    if (error == 0 && bytes % kSectorBytes != 0) error = errc::kInvalidParameter;
    if (error == 0 && PastEnd(first, count)) error = errc::kSectorNotFound;
    if (error == 0 && Touches(disk_->unreadable, first, count)) error = errc::kCrc;
    if (error == 0 && disk_->transientReadFailures > 0) {
      --disk_->transientReadFailures;
      error = errc::kCrc;
    }
    if (error == 0 && !disk_->allReadsSilent && !Touches(disk_->silentSectors, first, count) &&
        bytes) {
      std::memcpy(buffer, disk_->Sector(first), bytes);
    }
    Log(op, first, count, error);
    return error;
  }

  void Log(MemoryDisk::Op op, uint64_t sector, uint32_t count, uint32_t error) {
    if (disk_->keepLog) {
      disk_->log.push_back({op, sector, count, error, std::chrono::steady_clock::now()});
    }
  }

  std::shared_ptr<MemoryDisk> disk_;
  bool open_ = false;
  uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<SectorBackend> MakeMemoryBackend(std::shared_ptr<MemoryDisk> disk) {
  return std::make_unique<MemoryBackend>(std::move(disk));
}

}  // namespace platform
