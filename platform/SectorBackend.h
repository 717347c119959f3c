#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Sector numbers and positions count 512-byte sectors from the start of the
// logical drive, in 64 bits: a drive of more than 2^32 sectors (2 TiB) must be
// reachable to its last sector, or a wipe would stop short and call it done.
inline constexpr uint32_t kSectorBytes = 512;

struct VolumeInformation {
  std::string label;       // volume label, may be empty
  std::string fileSystem;  // "FAT" (FAT12/FAT16), "FAT32" or "NTFS"
};

// The operations CDriveController needs of a source of sectors. Every
// operation returns 0 or one of the codes of ErrorCodes.h; none throws.
// Buffers handed to the transfer operations should come from AlignedBuffer
// (O_DIRECT needs them aligned); a backend copes with others, more slowly.
class SectorBackend {
 public:
  virtual ~SectorBackend() = default;

  // Opens the drive for transfers at a current position, which starts at 0.
  [[nodiscard]] virtual uint32_t Open() = 0;
  virtual void Close() = 0;
  [[nodiscard]] virtual bool IsOpen() const = 0;

  // The controller's OS family (1 to 4), told when the backend is made and
  // whenever the controller decides it anew. The Windows protocols pick
  // their calls by it; a backend with one way to the medium ignores it.
  virtual void SetOsFamily(uint16_t /*family*/) {}

  // Transfer whole sectors at the current position. On success `done` is the
  // byte count moved and the position advanced by done / 512; on failure the
  // position is unchanged.
  [[nodiscard]] virtual uint32_t Read(void* buffer, uint32_t bytes, uint32_t& done) = 0;
  [[nodiscard]] virtual uint32_t Write(const void* buffer, uint32_t bytes, uint32_t& done) = 0;

  [[nodiscard]] virtual uint32_t SetPosition(uint64_t sector) = 0;
  [[nodiscard]] virtual uint32_t Skip(uint64_t sectors) = 0;
  [[nodiscard]] virtual uint64_t Position() const = 0;

  // Reads `count` sectors at `sector` through an access of its own that
  // neither uses nor moves the current position; works whether or not the
  // backend is open. Success only when every byte asked for arrived.
  [[nodiscard]] virtual uint32_t ReadAt(uint64_t sector, void* buffer, uint32_t count) = 0;

  // Size in bytes of the device holding the drive; 0 when unknown.
  [[nodiscard]] virtual uint64_t DeviceSize() = 0;

  // Free bytes of the mounted file system on the drive.
  [[nodiscard]] virtual uint32_t FreeSpace(uint64_t& freeBytes) = 0;

  // Label and file-system name of the volume; false when none is recognised.
  [[nodiscard]] virtual bool GetVolumeInformation(VolumeInformation& info) = 0;

  // Makes everything written so far durable on the medium and drops cached
  // pages so later reads see the medium. An error that only surfaces here is
  // a write error of the transfers before it.
  [[nodiscard]] virtual uint32_t Flush() = 0;

  // Unmounts every file system mounted from the drive, so none can write
  // its cached blocks back over what the caller writes raw, and keeps it
  // from being mounted again while the drive stays open. 0 when nothing is
  // mounted any more; 20003 when a volume is in use. A source no file
  // system is mounted from keeps this.
  [[nodiscard]] virtual uint32_t Unmount() { return 0; }
};

}  // namespace platform
