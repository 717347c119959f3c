// nullifex-cli verify: one verification run headless, with the verify
// window's part played on the terminal: the drive's type, label and size,
// the live dirty and error counts and percentage, the verdict, Stop on
// Ctrl-C, and the result as the exit status.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "platform/AskUser.h"
#include "platform/Dispatcher.h"
#include "platform/RateMeter.h"
#include "verify/DriveVerifyThread.h"
#include "verify/VerifyDisplay.h"

namespace {

// Exit statuses.
constexpr int kExitClean = 0;        // every unit clean, no read error
constexpr int kExitDirty = 1;        // dirty units or read errors found
constexpr int kExitNotVerified = 2;  // bad arguments, drive not opened, no readable start
constexpr int kExitCancelled = 3;    // stopped before the end

using cli::Thousands;

const char kUsage[] = "verify E: [--quick] [--list-dirty]";

struct Options {
  char letter = 0;
  bool quick = false;
  bool listDirty = false;
};

bool Parse(const std::vector<std::string>& args, Options& o, std::string& error) {
  for (const std::string& a : args) {
    if (a == "--quick") {
      o.quick = true;
    } else if (a == "--list-dirty") {
      o.listDirty = true;
    } else if (o.letter != 0 || !cli::ParseDriveLetter(a, o.letter)) {
      error = "unexpected argument '" + a + "'";
      return false;
    }
  }
  if (o.letter == 0) {
    error = "no drive given";
    return false;
  }
  return true;
}

// What the window shows, kept from the messages.
struct Display {
  std::string type = "Unknown";
  std::string label = "N/A";
  std::string size = "0 bytes";
  std::string clusterSize = "N/A";
  int percent = 0;
  uint32_t errors = 0;
  uint32_t dirtySectors = 0;
  bool cancelled = false;
  bool unreadable = false;
  bool finished = false;
  std::unique_ptr<CDirtyBitmap> dirty;
};

class LiveLine {
 public:
  LiveLine(char letter, uint64_t totalBytes) : letter_(letter), tty_(isatty(2) == 1), totalBytes_(totalBytes) {}

  // The run begins: the rate and time left count from now.
  void Start() { rate_.Start(totalBytes_, platform::RateMeter::Clock::now()); }

  void Show(int percent, uint32_t dirty, uint32_t errors) {
    const auto now = platform::RateMeter::Clock::now();
    // The part of the volume covered so far, as the window's meter shows it.
    const bool rateChanged =
        percent < 100 && rate_.Update(static_cast<uint64_t>(static_cast<double>(totalBytes_) * percent / 100.0), now);
    if (percent == percent_ && dirty == dirty_ && errors == errors_ && !rateChanged) return;
    // A terminal gets a line redrawn at most five times a second; a log file
    // one line per ten percent.
    if (tty_ && now - shown_ < std::chrono::milliseconds(200) && percent < 100) return;
    if (!tty_ && percent / 10 == percent_ / 10 && percent < 100 && shownOnce_) return;
    percent_ = percent;
    dirty_ = dirty;
    errors_ = errors;
    shown_ = now;
    shownOnce_ = true;
    // The rate and time left while the run goes, as under the window's meter.
    const std::string rate = percent < 100 && !rate_.Text().empty() ? "  " + rate_.Text() : "";
    std::fprintf(stderr, "%sVerifying drive %c:  %3d%%  dirty sectors %s  errors %s%s%s", tty_ ? "\r" : "", letter_,
                 percent, Thousands(dirty).c_str(), Thousands(errors).c_str(), rate.c_str(), tty_ ? "\033[K" : "\n");
    std::fflush(stderr);
  }
  void End() {
    if (tty_ && shownOnce_) std::fputc('\n', stderr);
    shownOnce_ = false;
  }

 private:
  char letter_;
  bool tty_;
  uint64_t totalBytes_;
  int percent_ = -1;
  uint32_t dirty_ = 0, errors_ = 0;
  bool shownOnce_ = false;
  std::chrono::steady_clock::time_point shown_{};
  platform::RateMeter rate_;
};

int AskOnTerminal(const std::string& text, const std::string& title, int buttons) {
  const bool yesNo = buttons == ButtonsYesNo;
  std::fprintf(stderr, "\n%s\n%s\n%s ", title.c_str(), text.c_str(), yesNo ? "[y]es/[n]o?" : "[o]k");
  std::fflush(stderr);
  std::string line;
  if (!std::getline(std::cin, line)) {
    std::fprintf(stderr, "\n");
    return yesNo ? ResultNo : ResultOk;  // the box's Escape answer
  }
  if (!yesNo) return ResultOk;
  return !line.empty() && (line[0] == 'y' || line[0] == 'Y') ? ResultYes : ResultNo;
}

// Dirty units as runs of sectors, one run a line.
void ListDirty(CDirtyBitmap& set, uint32_t sectorsPerUnit) {
  uint64_t runStart = 0, runEnd = 0;
  bool open = false;
  auto flush = [&] {
    if (!open) return;
    if (runStart == runEnd) {
      std::printf("%llu\n", static_cast<unsigned long long>(runStart));
    } else {
      std::printf("%llu-%llu\n", static_cast<unsigned long long>(runStart), static_cast<unsigned long long>(runEnd));
    }
  };
  auto add = [&](uint64_t unit) {
    const uint64_t first = unit * sectorsPerUnit;
    const uint64_t last = first + sectorsPerUnit - 1;
    if (open && first == runEnd + 1) {
      runEnd = last;
      return;
    }
    flush();
    runStart = first;
    runEnd = last;
    open = true;
  };
  const uint64_t n = set.BitCount();
  for (uint64_t u = set.FindFirst(); u < n; u = set.FindNext()) add(u);
  // Browsing never visits the set's extra position, which is the last
  // sector of a raw or FAT volume; the list must not leave it out.
  if (set.IsDirty(n)) add(n);
  flush();
}

int RunVerifyCommand(const std::vector<std::string>& args) {
  Options o;
  std::string error;
  if (!Parse(args, o, error)) {
    std::fprintf(stderr, "nullifex-cli verify: %s\nusage: nullifex-cli %s\n", error.c_str(), kUsage);
    return kExitNotVerified;
  }

  cli::EngineSession session([](const std::string& text, const std::string& title, int buttons, int) {
    return AskOnTerminal(text, title, buttons);
  });
  platform::EventLoop& loop = session.loop;

  Display d;
  platform::LoopMessageTarget window(loop, [&](uint32_t message, uintptr_t code, intptr_t value) -> intptr_t {
    if (message != WM_VERIFY_NOTIFY) return 0;
    switch (code) {
      case VN_PROGRESS: d.percent = value < 0 ? 0 : value > 100 ? 100 : static_cast<int>(value); break;
      case VN_FINISHED:
        d.dirty.reset(reinterpret_cast<CDirtyBitmap*>(value));
        d.finished = true;
        break;
      case VN_UNREADABLE:
        if (value == -1) d.unreadable = true;
        break;
      case VN_ERROR_COUNT: d.errors = static_cast<uint32_t>(value); break;
      case VN_DIRTY_SECTORS: d.dirtySectors = static_cast<uint32_t>(value); break;
      case VN_FS_TYPE: d.type = reinterpret_cast<const char*>(value); break;
      case VN_CANCELLED: d.cancelled = true; break;
      case VN_TOTAL_SECTORS: d.size = DriveSizeText(static_cast<int64_t>(value)); break;
      case VN_CLUSTER_SIZE:
        if (value != 0) d.clusterSize = Thousands(static_cast<uint64_t>(value)) + " bytes";
        break;
      case VN_VOLUME_LABEL: d.label = reinterpret_cast<const char*>(value); break;
      default: break;
    }
    return 0;
  });

  auto thread = std::make_unique<DriveVerifyThread>(true, o.quick, o.letter, &window);
  if (!thread->Opened()) {
    thread.reset();
    std::fprintf(stderr,
                 "Error: Failed to access the drive.  Please make sure that there is a disk in the drive and that "
                 "it is not write-protected.\n");
    return kExitNotVerified;
  }

  cli::InterruptCatcher interrupt;

  LiveLine live(o.letter, thread->TotalSectors() * platform::kSectorBytes);
  live.Start();
  thread->Resume();
  // Ctrl-C is the window's Stop answered Yes: the worker parks, is asked to
  // terminate and runs on to its last messages, which are still shown.
  loop.RunUntil([&] {
    if (interrupt.Interrupted() && !thread->IsTerminateRequested()) {
      thread->Suspend();
      live.End();
      std::fprintf(stderr, "Stopping the verification of drive %c:.\n", o.letter);
      thread->Terminate();
      thread->Resume();
    }
    live.Show(d.percent, thread->DirtySectorsSoFar(), d.errors);
    return d.finished;
  });
  thread->WaitFor();
  loop.ProcessPending();
  interrupt.Restore();
  live.Show(d.percent, thread->DirtySectorsSoFar(), d.errors);
  live.End();

  const uint32_t sectorsPerUnit = thread->SectorsPerUnit();
  const bool setUnavailable = thread->SetUnavailable();
  const uint64_t total = thread->TotalSectors();
  thread.reset();

  std::printf("Drive:          %c:\n", o.letter);
  std::printf("Drive Type:     %s\n", d.type.c_str());
  std::printf("Drive Label:    %s\n", d.label.c_str());
  std::printf("Drive Size:     %s\n", d.size.c_str());
  std::printf("Cluster Size:   %s\n", d.clusterSize.c_str());
  std::printf("Dirty Sectors:  %s\n", Thousands(d.dirtySectors).c_str());
  std::printf("Drive Errors:   %s\n", Thousands(d.errors).c_str());
  std::printf("Progress:       %d%% (%s)\n", d.percent, d.percent >= 100 ? "Finished" : "Cancelled");

  int status;
  const bool anyDirty = d.dirty && d.dirty->DirtyCount() != 0;
  if (d.unreadable) {
    std::printf("Report:         There were too many dirty sectors on the drive.  Nullifex cannot continue to "
                "verify this drive.\n");
    status = kExitNotVerified;
  } else if (setUnavailable || !d.finished) {
    std::printf("Report:         Not enough memory to verify this drive.\n");
    status = kExitNotVerified;
  } else if (anyDirty || d.errors > 0) {
    std::printf("Report:         %d%% of drive is not cleaned (%s dirty sectors)\n", NotCleanPercent(d.dirtySectors, total),
                Thousands(d.dirtySectors).c_str());
    status = d.cancelled ? kExitCancelled : kExitDirty;
  } else if (d.cancelled || d.percent < 100) {
    std::printf("Report:         Verification Process Cancelled\n");
    status = kExitCancelled;
  } else {
    std::printf("Report:         100%% clean\n");
    status = kExitClean;
  }
  if (o.listDirty && d.dirty) {
    std::printf("Dirty sector list:\n");
    ListDirty(*d.dirty, sectorsPerUnit);
  }
  std::fflush(stdout);
  return status;
}

}  // namespace

NFX_CLI_COMMAND(verify, "verify", kUsage, RunVerifyCommand)
