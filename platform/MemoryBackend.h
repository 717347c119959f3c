#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/SectorBackend.h"

namespace platform {

// A disk held in memory, with the faults a real medium shows: sectors that
// cannot be read or written, write protection, no medium, reads that claim
// success but deliver nothing, and a medium that disappears part-way. The
// disk is shared (std::shared_ptr) between the test and every backend made
// on it, so a test can look at the contents after the controller has taken
// ownership of its backend, and several backends (the open volume, a fresh
// access for a single read) see the same sectors.
//
// Backends lock `mutex` for each operation; a test that inspects the disk
// while a worker may still run takes the same lock.
struct MemoryDisk {
  enum class Op { Open, Read, Write, ReadAt, Flush };
  struct Transfer {
    Op op;
    uint64_t sector;  // first sector of the transfer
    uint32_t count;   // sectors asked for
    uint32_t error;   // 0 on success
    std::chrono::steady_clock::time_point when;
  };

  explicit MemoryDisk(uint64_t sectorCount = 0) : bytes(sectorCount * kSectorBytes) {}
  // A disk holding a copy of an image file; empty when it cannot be read.
  static std::shared_ptr<MemoryDisk> FromImage(const std::string& path);

  uint64_t SectorCount() const { return bytes.size() / kSectorBytes; }
  uint8_t* Sector(uint64_t sector) { return bytes.data() + sector * kSectorBytes; }

  std::mutex mutex;
  std::vector<uint8_t> bytes;

  // Faults. A transfer touching one of these sectors fails as a whole.
  std::set<uint64_t> unreadable;      // read error 23
  std::set<uint64_t> unwritable;      // write error 29
  bool writeProtected = false;        // every write fails with 19
  bool noMedium = false;              // open and every transfer fail with 1112
  // Reads (at the position or at a sector) touching one of these sectors
  // report success without putting a byte into the buffer.
  std::set<uint64_t> silentSectors;
  bool allReadsSilent = false;
  // After this many transfers (reads, writes, reads at a sector) every
  // operation fails with 21, as when the device is pulled. -1: never.
  int64_t vanishAfterTransfers = -1;
  // The next this-many reads and writes fail with 23 / 29 wherever they
  // are, then the medium behaves again (a drive settling).
  uint32_t transientReadFailures = 0;
  uint32_t transientWriteFailures = 0;

  // A medium this slow: every read and write takes as long as moving its
  // bytes at this rate (0: as fast as memory). Set before use.
  double bytesPerSecond = 0;
  // An open that takes this long, as one waiting for the person to answer
  // the system's authorisation dialog does.
  std::chrono::milliseconds openTakes{0};

  // What the geometry reports; unset means the disk's real size. Lets a test
  // give a device whose geometry says more than can be read.
  std::optional<uint64_t> reportedDeviceSize;
  // Free space of "the mounted file system"; unset fails with 1785.
  std::optional<uint64_t> freeBytes;
  // Volume information; unset means: probe the contents as the Linux
  // backend does (libblkid), so a disk loaded from a real image is
  // recognised as such.
  std::optional<VolumeInformation> volume;
  bool volumeUnavailable = false;  // GetVolumeInformation fails

  // Counters and, when keepLog is set, every transfer in order.
  uint64_t transfers = 0;  // reads + writes + reads at a sector, attempted
  uint64_t flushes = 0;
  uint64_t opens = 0;
  bool keepLog = false;
  std::vector<Transfer> log;
};

// A backend on `disk`. Positions, error codes and the "position unchanged on
// failure" rule are those of every SectorBackend.
std::unique_ptr<SectorBackend> MakeMemoryBackend(std::shared_ptr<MemoryDisk> disk);

}  // namespace platform
