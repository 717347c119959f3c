#include "platform/AskUser.h"

#include <mutex>

namespace platform {
namespace {
std::mutex g_mutex;
AskUserFunction g_ask;
}  // namespace

void SetAskUser(AskUserFunction ask) {
  std::lock_guard lock(g_mutex);
  g_ask = std::move(ask);
}

int AskUser(const std::string& text, const std::string& title, int buttons, int icon) {
  AskUserFunction ask;
  {
    std::lock_guard lock(g_mutex);
    ask = g_ask;
  }
  if (ask) return ask(text, title, buttons, icon);
  return (buttons == ButtonsYesNo || buttons == ButtonsYesAllNoAbort) ? ResultNo : ResultCancel;
}

}  // namespace platform
