#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "drive/CDriveController.h"
#include "platform/MessageTarget.h"
#include "platform/Thread.h"
#include "settings/CLogger.h"
#include "settings/OVTimer.h"
#include "verify/CBitmap.h"
#include "verify/CCleanScan.h"
#include "verify/CleanTest.h"
#include "verify/VerifyMessages.h"

// The worker of one verification run: opens the volume, picks the scan its
// file system needs, reports to its window with WM_VERIFY_NOTIFY, writes the
// verify record to the action log and hands the dirty set over with its last
// message. The window owns the object, starts it, may stop it and destroys
// it after VN_FINISHED.
class DriveVerifyThread : public platform::Thread {
 public:
  // Opens the drive at once (Opened() tells whether that worked). Not
  // created suspended, the run starts at once. `factory` gives the
  // controller its backends (tests); empty means the drive table's.
  DriveVerifyThread(bool createSuspended, bool quick, char driveLetter, platform::MessageTarget* window,
                    CDriveController::BackendFactory factory = {});
  ~DriveVerifyThread() override;

  // False when the volume could not be opened for a reason other than an
  // unrecognised file system (which is verified as plain sectors).
  bool Opened() const { return opened_; }
  uint32_t OpenError() const { return openError_; }

  // Polled by the window while the run goes: dirty sectors so far (dirty
  // clusters x sectors per cluster on NTFS) and the volume's sector count.
  uint32_t DirtySectorsSoFar() const;
  uint64_t TotalSectors() const { return totalSectors_.load(); }

  // Readable once the run has ended.
  uint32_t DirtyCount() const { return scan_.DirtyCount(); }
  uint32_t ErrorCount() const { return scan_.ErrorCount(); }
  bool Cancelled() const { return cancelled_; }
  // True when the run could not even begin its scan (no memory for the
  // dirty set); it then hands over no set.
  bool SetUnavailable() const { return setUnavailable_; }
  // True when the scan found no readable reference to learn the pattern.
  bool Unreadable() const { return scan_.Unreadable(); }
  // 512-byte sectors in one unit of the handed-over dirty set.
  uint32_t SectorsPerUnit() const { return scan_.SectorsPerUnit(); }
  char DriveLetter() const { return letter_; }
  const char* VolumeLabel() const { return label_; }

  // The pause before a failed read is tried again, for this run's
  // controllers (tests of many bad sectors shorten it). Before the run only.
  void SetRetryPause(std::chrono::milliseconds pause) {
    retryPause_ = pause;
    controller_.SetRetryPause(pause);
  }

  // Where the known-clean samples are read from (default "CleanData.dat" in
  // the current directory).
  void SetCleanSamplePath(std::string path) { cleanSamplePath_ = std::move(path); }

  // "NTFS", "FAT12", "FAT16", "FAT32" or "Unknown".
  static const char* FileSystemText(uint8_t type);

 protected:
  void Execute() override;

 private:
  void Post(uintptr_t code, intptr_t value);
  LogStop StopOnLogFailure() const;
  void Log(const std::string& text);
  void LogStamped(const std::string& label);
  void WriteRecordTail();

  char letter_;
  platform::MessageTarget* window_;
  CDriveController::BackendFactory factory_;
  std::chrono::milliseconds retryPause_{100};
  CDriveController controller_;
  bool opened_ = false;
  uint32_t openError_ = 0;
  bool cancelled_ = false;
  bool setUnavailable_ = false;
  bool logging_ = false;
  OVTimer timer_;
  CCleanSample sample_;
  std::string cleanSamplePath_ = CCleanSample::kFileName;
  char label_[12] = "N/A";
  std::atomic<uint64_t> totalSectors_{0};
  std::atomic<uint32_t> sectorsPerCluster_{1};
  CCleanScan scan_;
  // Kept only when there is no window to hand it to.
  std::unique_ptr<CDirtyBitmap> unclaimed_;
};
