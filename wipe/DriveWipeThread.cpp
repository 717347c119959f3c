#include "wipe/DriveWipeThread.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/AskUser.h"
#include "platform/Dispatcher.h"
#include "platform/DriveTable.h"
#include "platform/OsVersion.h"
#include "platform/ShellNotify.h"
#include "settings/CSettings.h"
#include "wipe/WipeTexts.h"

std::atomic<bool> FormatWhenFinished{true};

namespace {
constexpr size_t kMaxLabel = 11;
constexpr const char kDefaultLabel[] = "CLEANED";

bool IsEndMessage(uint32_t message) { return message == WM_WIPE_FINISHED || message == WM_WIPE_FAILED; }

CDriveController::BackendFactory DefaultBackends() {
  return [](char letter) { return platform::DriveTable::Load().OpenBackend(letter); };
}
}  // namespace

void DriveWipeThread::WindowLink::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (IsEndMessage(message) && endPosted_.exchange(true)) return;
  if (window_) window_->Post(message, wParam, lParam);
}

intptr_t DriveWipeThread::WindowLink::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return window_ ? window_->Send(message, wParam, lParam) : 0;
}

DriveWipeThread::DriveWipeThread(platform::MessageTarget* window, bool createSuspended, int32_t overwriteCount,
                                 const char* volumeLabel, int32_t fileSystem, char driveLetter,
                                 Environment environment)
    : controller_(environment.backends ? environment.backends : DefaultBackends()),
      driveLetter_(driveLetter),
      fileSystem_(fileSystem),
      passCount_(overwriteCount),
      env_(std::move(environment)),
      window_(window) {
  ntFlag_ = platform::GetVersionInfo().platformId == platform::kPlatformNT;
  // No label at all means the default; an empty one stays empty.
  volumeLabel_ = volumeLabel ? std::string(volumeLabel).substr(0, kMaxLabel) : kDefaultLabel;
  formatWhenFinished_ = FormatWhenFinished.load();
  // An unformatted drive is no obstacle: the NT family writes it raw and
  // 95/98/ME formats it before the passes.
  if (!controller_.OpenDrive(driveLetter)) {
    const uint32_t code = controller_.GetLastErrorCode();
    if (code != errc::kUnrecognizedVolume) errorCode_ = static_cast<int32_t>(code);
  }
  if (!createSuspended) Resume();
}

DriveWipeThread::~DriveWipeThread() {
  // Execute must not outlive the members it uses.
  Stop();
}

int DriveWipeThread::AskOnMainThread(const std::string& text, const std::string& title, int buttons, int icon) {
  int answer = ResultNone;
  Synchronize([&] { answer = platform::AskUser(text, title, buttons, icon); });
  return answer;
}

int DriveWipeThread::AskErrorQuestion(uint32_t code) {
  const WipeMessageText q = ErrorQuestion(code);
  // The animation stands still while the user decides.
  window_.Post(WM_WIPE_TOGGLE_ANIMATION, 0, 0);
  const int answer = AskOnMainThread(q.text, q.title, ButtonsYesNo, IconCaution);
  window_.Post(WM_WIPE_TOGGLE_ANIMATION, 0, 0);
  return answer;
}

LogStop DriveWipeThread::MakeLogStop() const {
  LogStop stop;
  stop.operation = LogOperation::kWipe;
  stop.driveLetter = static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter_)));
  stop.window = const_cast<WindowLink*>(&window_);
  stop.stopMessage = WM_WIPE_FINISHED;
  stop.wParam = 1;
  stop.lParam = errorCode_.load();
  return stop;
}

// Once the run is stopping (the user answered No to the log question) the
// record is not continued: another failing line would only ask again.
void DriveWipeThread::Log(const std::string& text) {
  if (!IsTerminateRequested()) LogLine(*this, MakeLogStop(), text);
}
void DriveWipeThread::LogStamped(const std::string& label) {
  if (!IsTerminateRequested()) LogStampedLine(*this, MakeLogStop(), label);
}

void DriveWipeThread::PostEnd(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  window_.Post(message, wParam, lParam);
}

void DriveWipeThread::EndAsStopped() {
  // With an error the failure has been posted already.
  if (errorCode_.load() == 0) PostEnd(WM_WIPE_FINISHED, 1, 0);
}

void DriveWipeThread::SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void DriveWipeThread::ReportError(uint32_t code) {
  errorCode_ = static_cast<int32_t>(code);
  // A run that is already stopping cannot go on whatever the answer, so the
  // same failure, reported again on the way out, is not asked about twice.
  if (code != 0 && code != errc::kWriteProtect && code != WIPE_ERR_FORMAT_FAILED && !IsTerminateRequested()) {
    goOnAfterError_ = AskErrorQuestion(code) == ResultYes;
  }
  if (!goOnAfterError_ && !IsTerminateRequested()) {
    Terminate();
    PostEnd(WM_WIPE_FAILED, code, 0);
  }
}

void DriveWipeThread::ReportProgress(uint8_t phase, int32_t passNumber, float percent) {
  // The window shows the phase, the pass and the whole percent; a message
  // that changes none of them would only make the worker wait for the GUI.
  // The 0 and 100 of every pass always go out.
  const int whole = static_cast<int>(percent);
  const bool edge = percent == 0.0f || percent == 100.0f;
  if (!edge && phase == lastPhase_ && passNumber == lastPass_ && whole == lastWhole_) return;
  lastPhase_ = phase;
  lastPass_ = passNumber;
  lastWhole_ = whole;
  WipeProgress record{phase, passNumber, percent};
  window_.Send(WM_WIPE_PROGRESS, reinterpret_cast<uintptr_t>(&record), 0);
}

void DriveWipeThread::NotifyShell(char letter) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (env_.notifyShell) {
    env_.notifyShell(upper);
  } else if (!env_.backends) {
    platform::NotifyDriveChanged(upper);
  }
}

bool DriveWipeThread::FormatProgress(uint32_t command, uint32_t /*subAction*/, void* info) {
  if (command == 0 && info) {
    ReportProgress(WP_FORMAT, 0, static_cast<float>(*static_cast<const uint32_t*>(info)));
  } else if (command == 14 && info) {
    // The format tool's own words are not shown to the user.
    const auto* out = static_cast<const FormatTextOutput*>(info);
    if (out->text) {
      std::fputs(out->text, stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    }
  }
  // A failure reported by command 11 is seen by FormatDrive itself, which
  // keeps the attempts going.
  return true;
}

bool DriveWipeThread::FormatTheDrive(bool quick) {
  return controller_.FormatDrive(
      driveLetter_, volumeLabel_.c_str(), quick,
      [this](uint32_t command, uint32_t sub, void* info) { return FormatProgress(command, sub, info); },
      fileSystem_);
}

void DriveWipeThread::Execute() {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter_)));
  {
    CSettings settings;
    logging_ = settings.GetLogEnabled();
  }
  if (logging_) {
    std::string header = std::string("Operation: Overwrite drive ") + upper + ":\r\nOverwrites: " +
                         std::to_string(passCount_);
    if (passCount_ == 3) header += " with verification (DoD 5220.22-M).";
    header += "\r\n";
    Log(header);
    stopwatch_.Start();
    LogStamped("Operation began:");
  }

  if (!ntFlag_) {
    if (Terminated()) return EndAsStopped();
    const WipeMessageText q = PreFormatQuestion(upper);
    const int answer = AskOnMainThread(q.text, q.title, ButtonsOkCancel, IconQuestion);
    if (answer == ResultCancel) {
      controller_.CloseDrive();
      Terminate();
    } else {
      // A full format when the drive held no file system we know.
      const bool quick = controller_.GetFileSystemType() != FS_UNKNOWN;
      controller_.CloseDrive();
      ReportProgress(WP_FORMAT, 0, 0);
      if (!FormatTheDrive(quick)) ReportError(controller_.GetLastErrorCode());
      SleepMs(500);
      if (!controller_.OpenDrive(driveLetter_) && controller_.GetLastErrorCode() != errc::kUnrecognizedVolume) {
        ReportError(controller_.GetLastErrorCode());
      }
    }
  }

  window_.Post(WM_WIPE_STAGE, 0, 0);
  if (Terminated()) return EndAsStopped();
  // A file system left mounted under the raw passes could write its cached
  // blocks, old names and data included, back after them while the run
  // reports the drive clean. The desktop mounts a stick as soon as it is
  // plugged in, so it is unmounted first; one that is in use stops the run
  // before anything is written. The file-erase phase works through the
  // mounted file system and keeps it.
  if (ntFlag_ && !controller_.UnmountVolume()) {
    ReportError(WIPE_ERR_FORMAT_FAILED);
    controller_.CloseDrive();
    return EndAsStopped();
  }
  NotifyShell(driveLetter_);
  if (!OverwritePhase(passCount_)) ReportError(static_cast<uint32_t>(errorCode_.load()));
  controller_.CloseDrive();
  NotifyShell(driveLetter_);
  if (Terminated()) return EndAsStopped();

  if (formatWhenFinished_) {
    window_.Post(WM_WIPE_STAGE, 0, 0);
    if (Terminated()) return EndAsStopped();
    if (!ntFlag_) {
      const WipeMessageText q = FinalFormatQuestion(upper);
      if (AskOnMainThread(q.text, q.title, ButtonsOkCancel, IconQuestion) == ResultCancel) Terminate();
    }
    if (Terminated()) return EndAsStopped();
    if (fileSystem_ != 0) {
      ReportProgress(WP_FORMAT, 0, 0);
      // A full format on the NT family; 95/98/ME formatted before wiping.
      if (!FormatTheDrive(!ntFlag_)) ReportError(controller_.GetLastErrorCode());
      ReportProgress(WP_FORMAT, 0, 100);
    }
    // A format failure that stopped the run has posted its failure; the run
    // ends there like every other stop, with exactly one end message.
    if (Terminated()) return EndAsStopped();
  }

  if (logging_) {
    stopwatch_.Stop();
    LogStamped("Operation finished:");
    std::string h, m, s;
    stopwatch_.FormatElapsed(h, m, s);
    Log("Total elapsed time (HH:MM:SS): " + h + ":" + m + ":" + s + "\r\n");
    const uint32_t errors = sectorErrors_.load();
    Log(std::string("\r\nOperation result: ") + (errors != 0 ? "FAILURE" : "SUCCESS") + "\r\n");
    Log("\r\nTotal disk sector read/write errors: " + std::to_string(errors) + "\r\n");
    if (errors != 0) {
      Log(std::string("\r\n\r\nWARNING: Logical drive ") + upper +
          ": has been found to contain errors.\r\nNullifex was unable to write to all disk sectors, meaning this "
          "disk\r\nmay still contain file data.\r\n\r\n");
    }
    Log(std::string(66, '-') + "\r\n\r\n");
  }
  PostEnd(WM_WIPE_FINISHED, 0, errorCode_.load());
}
