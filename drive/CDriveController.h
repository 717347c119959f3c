#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/ErrorCodes.h"
#include "platform/SectorBackend.h"

// File-system codes of GetFileSystemType.
inline constexpr uint8_t FS_UNKNOWN = 0;
inline constexpr uint8_t FS_NTFS = 1;
inline constexpr uint8_t FS_FAT12 = 12;
inline constexpr uint8_t FS_FAT16 = 16;
inline constexpr uint8_t FS_FAT32 = 32;

// Which access protocol the controller uses: the volume handle (OS_NT) or
// the absolute disk calls of 95/98/ME. A backend over an image file or a
// Linux block device has one way to the medium whatever the family; the
// Windows protocols' backend follows it.
enum OsFamily : uint16_t { OS_WIN95 = 1, OS_WIN98 = 2, OS_WINME = 3, OS_NT = 4 };
OsFamily DetectOsFamily();

// FormatDrive's progress callback: (command, sub-action, info) -> go on.
//   command 0:  info is a uint32_t* percent
//   command 11: info is a uint8_t*, non-zero = the format succeeded
//   command 14: info is a FormatTextOutput*
using FormatCallback = std::function<bool(uint32_t command, uint32_t subAction, void* info)>;
struct FormatTextOutput {
  uint32_t lineCount;
  const char* text;
};

namespace platform {
class Formatter;
}

// One logical drive as numbered 512-byte sectors. The program's only way to
// a drive's raw contents; each worker owns one and never shares it.
class CDriveController {
 public:
  using BackendFactory = std::function<std::unique_ptr<platform::SectorBackend>(char letter)>;

  static constexpr int kMaxBadSectors = 700;
  static constexpr char kMarker[9] = "N0LLIF3X";

  // Backends from the drive table for the letter.
  CDriveController();
  // Backends from `factory` (tests: an in-memory or fault-injecting one).
  explicit CDriveController(BackendFactory factory);
  ~CDriveController();
  CDriveController(const CDriveController&) = delete;
  CDriveController& operator=(const CDriveController&) = delete;

  [[nodiscard]] bool OpenDrive(char letter);
  void CloseDrive();
  uint32_t GetLastErrorCode() const { return lastError_; }
  [[nodiscard]] bool ReadBootSector();
  uint8_t GetFileSystemType() const { return fileSystem_; }
  char GetDriveLetter() const { return letter_; }

  void Rewind();
  [[nodiscard]] bool SeekToSector(uint64_t sector);
  [[nodiscard]] bool SkipBytes(uint32_t byteCount);
  uint64_t GetPosition() const { return position_; }

  [[nodiscard]] bool WriteSectors(const void* buffer, uint32_t byteCount, uint32_t& bytesWritten);
  [[nodiscard]] bool ReadSectors(void* buffer, uint32_t byteCount, uint32_t& bytesRead);
  [[nodiscard]] bool ReadSectorsAt(void* buffer, uint64_t firstSector, uint16_t sectorCount);
  // Makes the writes so far durable and the next reads come from the medium.
  [[nodiscard]] bool Flush();
  // Unmounts the file systems mounted from the open drive before it is
  // written raw; false with 20003 when one is in use.
  [[nodiscard]] bool UnmountVolume();

  int64_t GetBadSector(int32_t index) const;
  int32_t GetBadSectorCount() const { return badSectorCount_; }

  uint16_t GetBytesPerSector() const;
  uint8_t GetSectorsPerCluster() const;
  uint32_t GetClusterSize() const;
  uint16_t GetRootEntryCount() const;
  uint64_t GetFirstDataSector() const { return firstDataSector_; }

  uint64_t GetDriveSizeBytes(char letter);
  uint64_t GetLastSector();
  uint64_t GetTotalSectors();
  bool GetVolumeSizeBytes(uint64_t& bytes);
  [[nodiscard]] bool GetFreeSpace(char letter, uint64_t& freeBytes);
  // Needs no open controller: the label from the drive table's volume, or
  // "N/A" when it cannot be read. Always true.
  static bool GetVolumeLabel(char letter, char* buffer, uint32_t bufferSize);

  void CopyFatBootSector(uint8_t* out) const;    // 62 bytes
  void CopyFat32BootSector(uint8_t* out) const;  // 90 bytes
  void CopyNtfsBootSector(uint8_t* out) const;   // 84 bytes

  // Formatting and labelling (see drive/FormatDrive.cpp).
  [[nodiscard]] bool FormatDrive(char letter, const char* label, bool quick,
                                 const FormatCallback& callback, int32_t fileSystem);

  OsFamily GetOsFamily() const { return osFamily_; }

  // The pause after a failed transfer before it is tried again (100 ms: a
  // drive that is spinning up or re-seating its head gets a moment). Tests
  // of callers that meet many bad sectors may shorten it.
  void SetRetryPause(std::chrono::milliseconds pause) { retryPause_ = pause; }

  // The marker the reads put into a buffer first: a read that reports
  // success but leaves only the marker delivered nothing.
  static void FillWithMarker(void* buffer, uint32_t byteCount);
  static bool HoldsOnlyMarker(const void* buffer, uint32_t byteCount);

 private:
  enum class ReadOutcome { Ok, NothingDelivered, Failed };
  template <typename Transfer>
  ReadOutcome ReadWithRetry(Transfer&& transfer, void* buffer, uint32_t byteCount);
  bool ReadSingleAt(uint8_t* buffer, uint64_t sector);
  void AddBadSector(uint64_t sector);
  void Pause() const;
  bool SectorExists(uint64_t sector, uint8_t* buffer);
  std::unique_ptr<platform::SectorBackend> BackendFor(char letter);
  void SetOsFamily(OsFamily family);

  uint8_t fatBoot_[62] = {};
  uint8_t fat32Boot_[90] = {};
  uint8_t ntfsBoot_[84] = {};
  BackendFactory factory_;
  std::unique_ptr<platform::SectorBackend> backend_;  // the open volume
  char letter_ = 0;
  OsFamily osFamily_ = OS_NT;
  uint8_t fileSystem_ = FS_UNKNOWN;
  uint64_t position_ = 0;
  uint64_t firstDataSector_ = 0;
  uint64_t lastSectorCache_ = 0;
  uint32_t lastError_ = 0;
  int64_t badSectors_[kMaxBadSectors] = {};
  int32_t badSectorCount_ = 0;
  std::chrono::milliseconds retryPause_{100};
};
