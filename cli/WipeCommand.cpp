// nullifex-cli wipe: one wipe run headless, with the wipe window's part
// played on the terminal: progress lines, the questions, Cancel on Ctrl-C,
// and the result as the exit status.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "platform/AskUser.h"
#include "platform/Dispatcher.h"
#include "platform/DriveIdentity.h"
#include "platform/DriveTable.h"
#include "platform/RateMeter.h"
#include "wipe/DriveWipeThread.h"
#include "wipe/WipeTexts.h"

namespace {

// Exit statuses.
constexpr int kExitClean = 0;      // finished, no error
constexpr int kExitMayNotBeClean = 1;  // finished, but with an error code
constexpr int kExitFailed = 2;     // refused, failed, or bad arguments
constexpr int kExitCancelled = 3;  // stopped early

const char kUsage[] =
    "wipe E: [--passes 1|3|7|12] [--fs fat|ntfs] [--label TEXT] [--no-format] [--yes]";

struct Options {
  char letter = 0;
  int passes = 1;
  int fileSystem = WIPE_FS_FAT;
  std::optional<std::string> label;
  bool format = true;
  bool yes = false;
};

bool Parse(const std::vector<std::string>& args, Options& o, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--passes") {
      if (!value(v)) return false;
      if (v != "1" && v != "3" && v != "7" && v != "12") {
        error = "--passes must be 1, 3, 7 or 12";
        return false;
      }
      o.passes = std::stoi(v);
    } else if (a == "--fs") {
      if (!value(v)) return false;
      if (v == "fat" || v == "FAT") {
        o.fileSystem = WIPE_FS_FAT;
      } else if (v == "ntfs" || v == "NTFS") {
        o.fileSystem = WIPE_FS_NTFS;
      } else {
        error = "--fs must be fat or ntfs";
        return false;
      }
    } else if (a == "--label") {
      if (!value(v)) return false;
      o.label = v;
    } else if (a == "--no-format") {
      o.format = false;
    } else if (a == "--yes") {
      o.yes = true;
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

const char* ButtonWords(int buttons) {
  switch (buttons) {
    case ButtonsOkCancel: return "[o]k/[c]ancel";
    case ButtonsYesNo: return "[y]es/[n]o";
    case ButtonsOk: return "[o]k";
    default: return "[y]es/[n]o/[c]ancel";
  }
}

// The box's default answer: what a user who agrees to everything clicks.
int AgreeingAnswer(int buttons) {
  switch (buttons) {
    case ButtonsYesNo:
    case ButtonsYesAllNoAbort: return ResultYes;
    case ButtonsAbortRetryIgnore: return ResultIgnore;
    case ButtonsRetryCancel: return ResultRetry;
    default: return ResultOk;
  }
}

int EscapeAnswer(int buttons) {
  return (buttons == ButtonsYesNo || buttons == ButtonsYesAllNoAbort) ? ResultNo
         : buttons == ButtonsOk                                        ? ResultOk
                                                                       : ResultCancel;
}

int AskOnTerminal(const std::string& text, const std::string& title, int buttons) {
  for (;;) {
    std::fprintf(stderr, "\n%s\n%s\n%s? ", title.c_str(), text.c_str(), ButtonWords(buttons));
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::fprintf(stderr, "\n");
      return EscapeAnswer(buttons);
    }
    std::string w;
    for (char c : line) {
      if (!std::isspace(static_cast<unsigned char>(c))) w += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if ((w == "y" || w == "yes") && buttons != ButtonsOkCancel && buttons != ButtonsOk) return ResultYes;
    if ((w == "n" || w == "no") && buttons != ButtonsOkCancel && buttons != ButtonsOk) return ResultNo;
    if ((w == "o" || w == "ok") && (buttons == ButtonsOkCancel || buttons == ButtonsOk)) return ResultOk;
    if ((w == "c" || w == "cancel") && buttons != ButtonsYesNo && buttons != ButtonsOk) return ResultCancel;
  }
}

std::string PhaseText(const WipeProgress& p, char letter, int passes) {
  const std::string d = std::string(1, letter) + ":";
  switch (p.phase) {
    case WP_OVERWRITE:
      return "Wipe Progress on Drive " + d + "  Overwrite " + std::to_string(p.passNumber) + " of " +
             std::to_string(passes);
    case WP_VERIFY: return "Verification Progress on Drive " + d;
    case WP_FORMAT: return "Format Progress on Drive " + d;
    case WP_ERASE_FILES:
      return "Erasing files on Drive " + d + "  Overwrite " + std::to_string(p.passNumber) + " of " +
             std::to_string(passes);
    case WP_CLEANUP: return "Cleaning up";
    default: return {};
  }
}

// The window's side of the run.
class Console {
 public:
  Console(char letter, int passes) : letter_(letter), passes_(passes), tty_(isatty(2) == 1) {}

  void Progress(const WipeProgress& p, uint64_t totalBytes) {
    const auto now = platform::RateMeter::Clock::now();
    if (p.phase != phase_ || p.passNumber != pass_) {
      if (tty_ && !line_.empty()) std::fputc('\n', stderr);
      phase_ = p.phase;
      pass_ = p.passNumber;
      rate_.Start(totalBytes, now);
    }
    std::string line = PhaseText(p, letter_, passes_);
    if (line.empty()) line = line_;  // an unknown phase: only the figure changes
    char figures[64];
    std::snprintf(figures, sizeof figures, "  %3d%%", static_cast<int>(p.percent));
    line += figures;
    // The speed and time left of a pass or read-back, as under the window's bar.
    if (p.phase == WP_OVERWRITE || p.phase == WP_VERIFY) {
      rate_.Update(static_cast<uint64_t>(static_cast<double>(totalBytes) * p.percent / 100.0), now);
      if (!rate_.Text().empty()) line += "  " + rate_.Text();
    }
    line_ = line;
    if (tty_) {
      std::fprintf(stderr, "\r%s\033[K", line.c_str());
    } else {
      std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
  }

  void EndLine() {
    if (tty_ && !line_.empty()) std::fputc('\n', stderr);
    line_.clear();
  }

 private:
  char letter_;
  int passes_;
  bool tty_;
  int phase_ = -1;
  int32_t pass_ = -1;
  platform::RateMeter rate_;
  std::string line_;
};

void PrintMessage(const WipeMessageText& m, uint32_t code) {
  std::fprintf(stderr, "%s (error %u): %s\n", m.title.c_str(), code, m.text.c_str());
}

bool Confirm(char letter, int step) {
  // Under the letter, what it stands for: the node or image, its size, the
  // device's maker and model.
  const std::string text = "Confirmation " + std::to_string(step) +
                           " of 2\nYou have selected to wipe\nDrive " + std::string(1, letter) + ":\n" +
                           platform::DescribeDriveLetter(letter) +
                           "\nAll the data stored on this disk will be permanently erased and will not be "
                           "recoverable!\nAre you sure you want to proceed?";
  return AskOnTerminal(text, "Nullifex", ButtonsYesNo) == ResultYes;
}

int RunWipe(const std::vector<std::string>& args) {
  Options o;
  std::string error;
  if (!Parse(args, o, error)) {
    std::fprintf(stderr, "nullifex-cli wipe: %s\nusage: nullifex-cli %s\n", error.c_str(), kUsage);
    return kExitFailed;
  }

  // The system drive is refused before anything is opened, by the same rule
  // as the wipe window's: the root file system's letter, or C: without one.
  char system = platform::DriveTable::Load().SystemDrive();
  if (system == 0) system = 'C';
  if (std::toupper(static_cast<unsigned char>(system)) == o.letter) {
    PrintMessage(StartErrorMessage(WIPE_ERR_SYSTEM_DRIVE), WIPE_ERR_SYSTEM_DRIVE);
    return kExitFailed;
  }
  if (!o.yes && (!Confirm(o.letter, 1) || !Confirm(o.letter, 2))) {
    std::fprintf(stderr, "Nothing was written to drive %c:.\n", o.letter);
    return kExitCancelled;
  }

  const bool yes = o.yes;
  cli::EngineSession session([yes](const std::string& text, const std::string& title, int buttons, int /*icon*/) {
    if (!yes) return AskOnTerminal(text, title, buttons);
    const int answer = AgreeingAnswer(buttons);
    std::fprintf(stderr, "\n%s: %s -> %s\n", title.c_str(), text.c_str(),
                 answer == ResultYes ? "Yes" : answer == ResultOk ? "Ok" : "go on");
    return answer;
  });
  platform::EventLoop& loop = session.loop;

  Console console(o.letter, o.passes);
  int stage = 0;
  std::optional<uint32_t> endMessage;
  uintptr_t endWParam = 0;
  intptr_t endLParam = 0;
  std::unique_ptr<DriveWipeThread> thread;

  platform::LoopMessageTarget window(loop, [&](uint32_t message, uintptr_t wParam, intptr_t lParam) -> intptr_t {
    switch (message) {
      case WM_WIPE_PROGRESS:
        console.Progress(*reinterpret_cast<const WipeProgress*>(wParam), thread ? thread->GetTotalBytes() : 0);
        break;
      case WM_WIPE_STAGE:
        ++stage;
        break;
      case WM_WIPE_FINISHED:
      case WM_WIPE_FAILED:
        if (!endMessage) {
          endMessage = message;
          endWParam = wParam;
          endLParam = lParam;
        }
        break;
      default:
        break;
    }
    return 0;
  });

  FormatWhenFinished = o.format;
  thread = std::make_unique<DriveWipeThread>(&window, true, o.passes, o.label ? o.label->c_str() : nullptr,
                                             o.fileSystem, o.letter);
  if (const int32_t code = thread->GetErrorCode(); code != 0) {
    thread.reset();
    PrintMessage(StartErrorMessage(static_cast<uint32_t>(code)), static_cast<uint32_t>(code));
    return kExitFailed;
  }

  cli::InterruptCatcher interrupt;

  thread->Resume();
  // Ctrl-C is the window's Cancel: only while the drive is being
  // overwritten, with the same question, the worker parked while it is asked.
  auto handleInterrupt = [&] {
    if (!interrupt.Interrupted()) return;
    interrupt.Clear();
    if (stage != 1 || endMessage) {
      console.EndLine();
      std::fprintf(stderr, "The wipe cannot be cancelled at this stage.\n");
      return;
    }
    thread->Suspend();
    console.EndLine();
    if (platform::AskUser(kCancelQuestionText, "Warning", ButtonsYesNo, IconCaution) == ResultYes) {
      thread->Terminate();
    }
    thread->Resume();
  };
  // The run is over when the worker has returned; the end message comes
  // first, and anything it sends after that is still answered.
  loop.RunUntil([&] {
    handleInterrupt();
    return thread->Finished();
  });
  loop.ProcessPending();
  thread->WaitFor();
  interrupt.Restore();
  console.EndLine();

  const uint32_t code = static_cast<uint32_t>(thread->GetErrorCode());
  const uint32_t errors = thread->GetSectorErrorCount();
  thread.reset();

  if (!endMessage) {
    PrintMessage(WipeFailedMessage(code), code);
    return kExitFailed;
  }
  if (*endMessage == WM_WIPE_FAILED) {
    // As the window does, the code is the thread's, not the message's.
    PrintMessage(WipeFailedMessage(code), code);
    return kExitFailed;
  }
  if (endWParam != 0) {
    std::fprintf(stderr, "The wipe of drive %c: was stopped.\n", o.letter);
    return kExitCancelled;
  }
  if (endLParam != 0) {
    std::fprintf(stderr, "Finished. %s (error %ld, %u sector errors)\n", kWipeMayNotBeCleanText,
                 static_cast<long>(endLParam), errors);
    return kExitMayNotBeClean;
  }
  std::fprintf(stderr, "Finished. %s\n", kWipeCleanText);
  return kExitClean;
}

}  // namespace

NFX_CLI_COMMAND(wipe, "wipe", kUsage, RunWipe)
