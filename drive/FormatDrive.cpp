// Formatting and labelling a drive. The platform formatter stands in for the
// Windows format library on the NT path and for the shell's format dialog on
// the 95/98/ME path; the attempt loop, the size rules and the error codes
// are the program's own and live here.
#include <atomic>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>

#include "drive/CDriveController.h"
#include "platform/AskUser.h"
#include "platform/Dispatcher.h"
#include "platform/DriveTable.h"
#include "platform/Formatter.h"

namespace {

constexpr uint64_t kFat12Limit = 0x400000;    // 4 MiB
constexpr uint64_t kFat16Limit = 0x20000000;  // 512 MiB
constexpr int kMaxAttempts = 6;
// After a failed attempt the volume gets time to be released by whatever
// held it (a file manager, the kernel's own re-read) before the next one.
constexpr std::chrono::milliseconds kAttemptPause{3000};
constexpr const char kDefaultLabel[] = "CLEANED";

// Set when a format attempt ends in failure; true outside a call. One format
// runs at a time in the process.
std::atomic<bool> g_formatFailed{true};

// Passes the formatter's reports on as the callback's commands: 0 progress,
// 11 done, 14 text. A failed "done" also sets the failed flag here, so the
// attempt loop does not depend on what the caller's callback does with it.
class CallbackObserver : public platform::FormatObserver {
 public:
  explicit CallbackObserver(const FormatCallback& callback) : callback_(callback) {}

  bool Percent(uint32_t percent) override {
    uint32_t value = percent;
    return callback_ ? callback_(0, 0, &value) : true;
  }
  bool Text(const std::string& line) override {
    FormatTextOutput out{1, line.c_str()};
    return callback_ ? callback_(14, 0, &out) : true;
  }
  void Done(bool success) override {
    succeeded_ = success;
    if (!success) g_formatFailed = true;
    uint8_t flag = success ? 1 : 0;
    if (callback_) (void)callback_(11, 0, &flag);
  }
  bool Succeeded() const { return succeeded_; }

 private:
  const FormatCallback& callback_;
  bool succeeded_ = false;
};

platform::FormatRequest RequestFor(char letter, platform::FormatKind kind, const std::string& label, bool quick) {
  platform::FormatRequest request;
  request.letter = letter;
  if (const auto entry = platform::DriveTable::Load().Find(letter)) {
    request.removable = entry->type == platform::DRIVE_REMOVABLE;
    request.devicePath = entry->path;
    request.mountPoint = entry->mountPoint;
  }
  request.kind = kind;
  request.label = label;
  request.quick = quick;
  return request;
}

}  // namespace

bool CDriveController::FormatDrive(char letter, const char* label, bool quick, const FormatCallback& callback,
                                   int32_t fileSystem) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  // The drive is the controller's when it has one, as the format library is
  // handed the controller's root.
  const char root = letter_ ? letter_ : upper;
  platform::Formatter& formatter = platform::CurrentFormatter();

  if (osFamily_ != OS_NT) {
    // 95/98/ME: the shell's dialog makes a FAT of the size's kind and keeps
    // the wipe's label; one try, the user's outcome is final.
    const uint64_t size = GetDriveSizeBytes(upper);
    const auto kind = size != 0 && size < kFat12Limit   ? platform::FormatKind::kFat12
                      : size != 0 && size < kFat16Limit ? platform::FormatKind::kFat16
                                                        : platform::FormatKind::kFat32;
    CallbackObserver observer(callback);
    formatter.Format(RequestFor(root, kind, label ? label : "", quick), observer);
    g_formatFailed = true;
    if (!observer.Succeeded()) {
      lastError_ = WIPE_ERR_FORMAT_FAILED;
      return false;
    }
    uint32_t hundred = 100;
    if (callback) (void)callback(0, 0, &hundred);
    return true;
  }

  // NT family.
  auto kind = fileSystem == 1 ? platform::FormatKind::kNtfs : platform::FormatKind::kFat32;
  const std::string text = label ? label : kDefaultLabel;
  if (platform::DriveTable::Load().GetDriveType(upper) == platform::DRIVE_REMOVABLE) {
    const uint64_t size = GetDriveSizeBytes(upper);
    if (size == 0) {
      lastError_ = errc::kNotReady;
      return false;
    }
    if (size < kFat12Limit) {
      kind = platform::FormatKind::kFat12;
    } else if (size < kFat16Limit) {
      kind = platform::FormatKind::kFat16;
    }
  }

  if (!formatter.Available(kind)) {
    platform::Synchronize([] { platform::AskUser("Failed to load FMIFS entry points.", "Error", ButtonsOk, IconError); });
    return false;
  }

  const platform::FormatRequest request = RequestFor(root, kind, text, quick);
  for (int attempt = 0; attempt < kMaxAttempts && g_formatFailed; ++attempt) {
    g_formatFailed = false;
    CallbackObserver observer(callback);
    formatter.Format(request, observer);
    // Only a reported failure tries again; an attempt that never said it
    // was done counts as a success.
    if (g_formatFailed) std::this_thread::sleep_for(kAttemptPause);
  }
  const bool result = !g_formatFailed;
  if (!result) lastError_ = WIPE_ERR_FORMAT_FAILED;
  g_formatFailed = true;
  return result;
}
