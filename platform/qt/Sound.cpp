#include "platform/qt/Sound.h"

#include <canberra.h>

#include <mutex>

namespace platform {

std::string SoundThemeName(const std::string& alias) {
  if (alias == "SystemQuestion") return "dialog-question";
  if (alias == "SystemHand") return "dialog-error";
  if (alias == "SystemExclamation") return "dialog-warning";
  // "Default", and any alias the system does not know, play the default
  // sound, as the alias lookup does when no sound is set for a name.
  return "bell";
}

namespace {
std::mutex g_mutex;
ca_context* g_context = nullptr;
bool g_failed = false;

ca_context* Context() {
  if (g_context || g_failed) return g_context;
  if (ca_context_create(&g_context) != CA_SUCCESS) {
    g_context = nullptr;
    g_failed = true;
    return nullptr;
  }
  ca_context_change_props(g_context, CA_PROP_APPLICATION_NAME, "Nullifex",
                          CA_PROP_APPLICATION_ID, "nullifex", nullptr);
  return g_context;
}
}  // namespace

namespace {
std::function<void(const std::string&)>& Listener() {
  static std::function<void(const std::string&)> listener;
  return listener;
}
}  // namespace

void SetSoundListener(std::function<void(const std::string& alias)> listener) { Listener() = std::move(listener); }

void PlaySystemSound(const std::string& alias) {
  if (Listener()) Listener()(alias);
  const std::string id = SoundThemeName(alias);
  std::lock_guard lock(g_mutex);
  ca_context* ctx = Context();
  if (!ctx) return;
  // ca_context_play returns once the sound is queued; it is played by the
  // sound server (or libcanberra's own thread), so callers do not wait.
  (void)ca_context_play(ctx, 0, CA_PROP_EVENT_ID, id.c_str(), CA_PROP_EVENT_DESCRIPTION,
                        alias.c_str(), nullptr);
}

}  // namespace platform
