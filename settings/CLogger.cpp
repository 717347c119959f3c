#include "settings/CLogger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "platform/AskUser.h"
#include "platform/Dispatcher.h"
#include "platform/FileIo.h"
#include "platform/DriveTable.h"
#include "settings/CSettings.h"

namespace {

// The C library's default ("C" locale) names. Not strftime: the GUI runs
// with the user's locale, and the log's stamps are always English.
constexpr const char* kWeekdays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

CLogger::~CLogger() { Close(); }

void CLogger::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool CLogger::Append(const std::string& text) {
  CSettings settings;
  if (!settings.GetLogEnabled()) return true;
  if (fd_ < 0) {
    const std::string path = LogFilePath(settings.GetLogLocation());
    // Appending mode, so every write lands after the last byte even when
    // someone else (an editor, a second reader) has the file open too.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | platform::kOpenFlags, 0644);
    if (fd < 0) return false;  // no handle kept: the next append tries again
    fd_ = fd;
    if (::lseek(fd_, 0, SEEK_END) == 0) {
      // A new or empty log starts with its header. Its own write is not
      // examined: the record's write below reports the file's state.
      (void)platform::WriteAll(fd_, BuildLogHeader());
    }
  }
  return platform::WriteAll(fd_, text);
}

CLogger& TheLogger() {
  static CLogger logger;
  return logger;
}

std::string LogFilePath(const std::string& folder) { return folder + "/Log.txt"; }

std::string WindowsVersionName(const platform::OsVersionInfo& info) {
  if (info.platformId == platform::kPlatformNT) {
    if (info.majorVersion < 5) return "Windows NT";
    // From 5 on only the minor version is looked at.
    switch (info.minorVersion) {
      case 0: return "Windows 2000";
      case 1: return "Windows XP";
      case 2: return "Windows Server 2003";
      default: return "Windows NT/2000/XP";
    }
  }
  if (info.platformId == platform::kPlatformWindows) {
    switch (info.minorVersion) {
      case 0: return "Windows 95";
      case 10:
        return info.csdVersion.size() >= 2 && info.csdVersion[1] == 'A' ? "Windows 98 SE"
                                                                        : "Windows 98";
      case 90: return "Windows ME";
      default: return "Windows 9x";
    }
  }
  return "Windows 3.1";
}

std::string OperatingSystemName() {
  if (platform::VersionInjected()) return WindowsVersionName(platform::GetVersionInfo());
  return platform::RealSystemName();
}

std::string BuildLogHeader() {
  const std::string rule(66, '-');
  return rule + "\r\n" + "Action Log\r\n" + "\r\n" + "Product: Ostrand Nullifex\r\n" +
         "Operating System: " + OperatingSystemName() + "\r\n" + rule + "\r\n" + "\r\n" + "\r\n";
}

std::string FormatStampedLine(const std::string& label, time_t when) {
  // Pick up a time zone changed since start-up.
  tzset();
  tm local{};
  if (!localtime_r(&when, &local)) local = tm{};
  char date[80];
  char clock[80];
  std::snprintf(date, sizeof date, "%s, %02d %s %04d", kWeekdays[(local.tm_wday % 7 + 7) % 7],
                local.tm_mday, kMonths[(local.tm_mon % 12 + 12) % 12], local.tm_year + 1900);
  std::snprintf(clock, sizeof clock, "%02d:%02d", local.tm_hour, local.tm_min);
  return label + " " + date + " at " + clock + "\r\n";
}

namespace {
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The drive holding the log. A path that starts with a letter and a colon
// names it; a path of this system lies on the drive whose mount point is
// the longest one above it, the root file system being C:.
char LogDrive(const std::string& logPath) {
  if (logPath.size() >= 2 && std::isalpha(static_cast<unsigned char>(logPath[0])) && logPath[1] == ':') {
    return Upper(logPath[0]);
  }
  std::error_code ec;
  const std::string absolute = std::filesystem::absolute(logPath, ec).lexically_normal().string();
  if (!ec && !absolute.empty() && absolute[0] == '/') {
    char best = 0;
    size_t bestLength = 0;
    const platform::DriveTable table = platform::DriveTable::Load();
    for (const platform::DriveEntry& e : table.Drives()) {
      const std::string& m = e.mountPoint;
      if (m.empty() || m.size() < bestLength) continue;
      const bool under = m == "/" || (absolute.compare(0, m.size(), m) == 0 &&
                                      (absolute.size() == m.size() || absolute[m.size()] == '/'));
      if (under) {
        best = e.letter;
        bestLength = m.size();
      }
    }
    if (best) return best;
  }
  return logPath.empty() ? '?' : Upper(logPath[0]);
}
}  // namespace

std::string LogFailureQuestion(const LogStop& stop, const std::string& logPath) {
  const char* format =
      stop.operation == LogOperation::kWipe
          ? "There was an error writing to the log file at %s.  You should reboot your computer "
            "and scan drive %c: for errors.  Would you like to turn of the logging feature and "
            "continue wiping drive %c:?\r\n\r\nClick Yes to continue wiping (not recommended).  "
            "Click No to stop wiping drive %c:."
          : "There was an error writing to the log file at %s.  You should reboot your computer "
            "and scan drive %c: for errors.  Would you like to turn off the logging feature and "
            "continue verifying drive %c:?\r\n\r\nClick Yes to continue verifying without a log "
            "(not recommended).  Click No to stop verifying drive %c:.";
  const char drive = Upper(stop.driveLetter);
  int size = std::snprintf(nullptr, 0, format, logPath.c_str(), LogDrive(logPath), drive, drive);
  std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
  std::snprintf(text.data(), text.size() + 1, format, logPath.c_str(), LogDrive(logPath), drive,
                drive);
  return text;
}

namespace {
// Set on a worker whose user chose to go on without the log while "LogEnabled"
// could not be switched off (the settings file is as unwritable as the log):
// the rest of that run is not logged, so the question still comes only once.
// Each wipe or verify runs on a thread of its own, so this ends with the run.
thread_local bool t_logOffForThisRun = false;
}  // namespace

void LogLine(platform::Thread& thread, const LogStop& stop, const std::string& text) {
  if (t_logOffForThisRun) return;
  if (TheLogger().Append(text)) return;
  // The worker waits here while the main thread asks.
  int answer = ResultNone;
  platform::Synchronize([&] {
    CSettings settings;
    const std::string path = LogFilePath(settings.GetLogLocation());
    answer = platform::AskUser(LogFailureQuestion(stop, path), "Log File Error", ButtonsYesNo,
                               IconCaution);
    if (answer != ResultNo) {
      // Logging off: the failed line is lost, and every later append of
      // this operation succeeds without writing, so this is asked once.
      settings.SetLogEnabled(false);
    }
  });
  if (answer != ResultNo && CSettings().GetLogEnabled()) t_logOffForThisRun = true;
  if (answer == ResultNo) {
    // Logging stays on; the worker stops at its next check.
    thread.Terminate();
    if (stop.window) stop.window->Post(stop.stopMessage, stop.wParam, stop.lParam);
  }
}

void LogStampedLine(platform::Thread& thread, const LogStop& stop, const std::string& label) {
  LogLine(thread, stop, FormatStampedLine(label, static_cast<time_t>(CurrentTimeSeconds())));
}
