#pragma once
#include <functional>
#include <string>

// Questions a worker or the engine asks. The GUI binds them to the skinned
// message box; the CLI and the tests bind them to scripted answers.
enum MessageButtons : int {
  ButtonsOk = 0,
  ButtonsOkCancel = 1,
  ButtonsYesNo = 2,
  ButtonsYesAllNoAbort = 3,
  ButtonsAbortRetryIgnore = 4,
  ButtonsRetryCancel = 5,
};

enum MessageIcon : int {
  IconInfo = 0,
  IconCaution = 1,
  IconError = 2,
  IconQuestion = 3,
};

enum ModalResult : int {
  ResultNone = 0,
  ResultOk = 1,
  ResultCancel = 2,
  ResultAbort = 3,
  ResultRetry = 4,
  ResultIgnore = 5,
  ResultYes = 6,
  ResultNo = 7,
  ResultYesToAll = 8,
};

namespace platform {

// (text, title, buttons, icon) -> ModalResult. Called on the main thread.
using AskUserFunction =
    std::function<int(const std::string& text, const std::string& title, int buttons, int icon)>;

// The process-wide binding; until one is set every question is answered
// with the box's Escape result (No for Yes/No sets, Cancel otherwise).
void SetAskUser(AskUserFunction ask);
int AskUser(const std::string& text, const std::string& title, int buttons, int icon);

}  // namespace platform
