#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "drive/CDriveController.h"
#include "platform/AlignedBuffer.h"
#include "platform/MessageTarget.h"
#include "platform/Thread.h"
#include "settings/CLogger.h"
#include "settings/OVTimer.h"
#include "wipe/WipeMessages.h"
#include "wipe/WipeOptions.h"

// The worker that performs one wipe of one drive: the optional format before
// wiping (95/98/ME), the overwrite passes (raw sectors on the NT family, fill
// files on 95/98/ME) with the three-pass read-back, and the final format. It
// reports to its window through messages, asks its questions on the main
// thread, and writes the run's record into the action log.
class DriveWipeThread : public platform::Thread {
 public:
  // Where the thread finds its drive. The defaults are the drive table's:
  // its backend for the letter, its mount point for the drive's files, and
  // a udev change event when the drive changed. Tests replace them.
  struct Environment {
    CDriveController::BackendFactory backends;
    std::string rootFolder;
    std::function<void(char letter)> notifyShell;
  };

  DriveWipeThread(platform::MessageTarget* window, bool createSuspended, int32_t overwriteCount,
                  const char* volumeLabel, int32_t fileSystem, char driveLetter, Environment environment = {});
  ~DriveWipeThread() override;

  // Non-zero right after construction: the drive could not be opened.
  int32_t GetErrorCode() const { return errorCode_.load(); }
  uint32_t GetSectorErrorCount() const { return sectorErrors_.load(); }
  uint64_t GetTotalBytes() const { return totalBytes_.load(); }
  int32_t GetFilesFound() const { return filesFound_; }
  const std::string& GetVolumeLabel() const { return volumeLabel_; }
  bool GetFormatWhenFinished() const { return formatWhenFinished_; }

  // The phases, called by Execute on the worker thread. Public so that the
  // tests can run one phase on a prepared drive.
  [[nodiscard]] bool OverwritePhase(int32_t passCount);
  [[nodiscard]] bool MakePatternBuffers(int32_t passCount, uint32_t length);
  void FreePatternBuffers();
  [[nodiscard]] bool OverwritePass(const uint8_t* buffer, uint32_t runLength);
  [[nodiscard]] bool VerifyPass(uint32_t runLength);
  [[nodiscard]] bool VerifyFilledArea(uint32_t runLength);
  [[nodiscard]] bool FillFilePasses(char letter, int32_t passCount, uint32_t runLength);
  int32_t CountEntries(const std::string& folder);
  [[nodiscard]] bool DeleteTree(const std::string& folder);
  static bool IsLabelEntry(const uint8_t* entry);
  static bool IsDeletedFillEntry(const uint8_t* entry);

  void ReportError(uint32_t code);
  void ReportProgress(uint8_t phase, int32_t passNumber, float percent);
  void NotifyShell(char letter);
  bool FormatProgress(uint32_t command, uint32_t subAction, void* info);

  CDriveController& Controller() { return controller_; }
  // The pattern the 1-based pass writes: random pairs for pass 3 of 3, else
  // zeros on odd and ones on even passes.
  const uint8_t* PatternForPass(int32_t passNumber) const;

  // After this many writes in a row that move no byte, a fill file is given
  // up (each one is counted as an error).
  static constexpr int kMaxStalledWrites = 3;

 protected:
  void Execute() override;

 private:
  // Every message to the window goes through here, so that whichever end
  // message comes first (finished, failed, or the log's stop) is the only one.
  class WindowLink : public platform::MessageTarget {
   public:
    explicit WindowLink(platform::MessageTarget* window) : window_(window) {}
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    bool EndPosted() const { return endPosted_.load(); }

   private:
    platform::MessageTarget* window_;
    std::atomic<bool> endPosted_{false};
  };

  int AskOnMainThread(const std::string& text, const std::string& title, int buttons, int icon);
  int AskErrorQuestion(uint32_t code);
  void Log(const std::string& text);
  void LogStamped(const std::string& label);
  LogStop MakeLogStop() const;
  void EndAsStopped();
  void PostEnd(uint32_t message, uintptr_t wParam, intptr_t lParam);
  [[nodiscard]] bool FormatTheDrive(bool quick);
  std::string DrivePath(const std::string& name) const;
  [[nodiscard]] bool WriteFillFile(const std::string& path, uint64_t size, const uint8_t* buffer, uint32_t writeLength);
  void SleepMs(int ms);
  float PercentAfter(uint64_t runs) const;

  CDriveController controller_;
  platform::AlignedBuffer zeroBuffer_, onesBuffer_, randomBuffer_;
  platform::AlignedBuffer readBuffer_;
  char driveLetter_;
  bool logging_ = false;
  std::atomic<int32_t> errorCode_{0};
  int32_t filesFound_ = 0;
  int32_t fileSystem_;
  bool ntFlag_ = true;
  int32_t passIndex_ = 0;
  int32_t passCount_;
  std::string volumeLabel_;
  OVTimer stopwatch_;
  std::atomic<uint32_t> sectorErrors_{0};
  std::atomic<uint64_t> totalBytes_{0};
  uint64_t remainingBytes_ = 0;
  bool goOnAfterError_ = false;
  bool formatWhenFinished_ = true;
  float percent_ = 0;
  float step_ = 0;
  double stepExact_ = 0;
  // Bytes moved by one controller call: several runs at once, so the medium
  // sees large transfers; failures are still found and counted run by run.
  uint32_t transferLength_ = 0;
  uint32_t runLength_ = 0;
  // The last progress the window was sent, so it is sent only on a change.
  int lastPhase_ = -1;
  int32_t lastPass_ = -1;
  int lastWhole_ = -1;
  uint32_t lastFileError_ = 0;
  Environment env_;
  WindowLink window_;
};
