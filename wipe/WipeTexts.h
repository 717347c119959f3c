#pragma once
#include <cstdint>
#include <string>

// The texts the wipe shows the user, in one place so the window, the CLI
// and the tests agree on them word for word.
struct WipeMessageText {
  std::string title;
  std::string text;
};

// The wipe thread's questions.
WipeMessageText PreFormatQuestion(char driveLetter);
WipeMessageText FinalFormatQuestion(char driveLetter);
WipeMessageText ErrorQuestion(uint32_t code);

// The window's report of a run stopped by an error (WM_WIPE_FAILED).
WipeMessageText WipeFailedMessage(uint32_t code);
// The wizard's report of a refused start.
WipeMessageText StartErrorMessage(uint32_t code);

// The result line of a run that reached its end.
inline constexpr const char kWipeCleanText[] = "Your drive is now clean.";
inline constexpr const char kWipeMayNotBeCleanText[] = "There was an error and your drive may not be clean.";
inline constexpr const char kCancelQuestionText[] = "Are you sure you want to cancel this operation?";
