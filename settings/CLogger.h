#pragma once
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/MessageTarget.h"
#include "platform/OsVersion.h"
#include "platform/Thread.h"

// The action log, "Log.txt" in the "LogLoc" folder. The file is only ever
// appended to; it is opened at the first successful append after start-up
// (with the header block when it is new or empty) and then stays open, so a
// folder changed later takes effect at the next start.
//
// One process-wide instance (TheLogger()). No lock: appends come only from
// the one worker that runs the current wipe or verify.
class CLogger {
 public:
  CLogger() = default;
  ~CLogger();
  CLogger(const CLogger&) = delete;
  CLogger& operator=(const CLogger&) = delete;

  // True when written or when logging is off; false when the file cannot
  // be opened or the write fails (the next append tries to open it again).
  [[nodiscard]] bool Append(const std::string& text);
  // Closes the file; the next append opens it afresh (exit, and tests).
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

CLogger& TheLogger();

// "<folder>/Log.txt" for the "LogLoc" folder, used unchanged.
std::string LogFilePath(const std::string& folder);
// The 8 header lines of a new log.
std::string BuildLogHeader();
// The real system's name, or the Windows table's name for an injected version.
std::string OperatingSystemName();
std::string WindowsVersionName(const platform::OsVersionInfo& info);
// "<label> Wednesday, 09 Dec 2026 at 14:05\r\n" in local time, with English
// names whatever the process locale is.
std::string FormatStampedLine(const std::string& label, time_t when);

// Which operation a worker runs, for the wording of the log-failure question.
enum class LogOperation { kWipe, kVerify };

// What a worker's LogLine does when the log cannot be written and the user
// answers No: the worker is marked terminated and `stopMessage` is posted to
// `window` with `wParam` and `lParam`. The wipe fills in WM_WIPE_FINISHED, 1
// and its current error code; the verify WM_VERIFY_NOTIFY, 2 and 0.
struct LogStop {
  LogOperation operation = LogOperation::kWipe;
  char driveLetter = 0;                       // the wiped or verified drive
  platform::MessageTarget* window = nullptr;  // may be null: nothing posted
  uint32_t stopMessage = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// Appends `text` to TheLogger(). When that fails, asks the log-failure
// question on the main thread (platform::Synchronize, platform::AskUser)
// while the worker waits: Yes turns logging off for good, so the question
// comes at most once per operation; No stops the worker as `stop` says.
void LogLine(platform::Thread& thread, const LogStop& stop, const std::string& text);
// The time-stamped line for `label`, through LogLine.
void LogStampedLine(platform::Thread& thread, const LogStop& stop, const std::string& label);
// The question's text for a log at `logPath`.
std::string LogFailureQuestion(const LogStop& stop, const std::string& logPath);
