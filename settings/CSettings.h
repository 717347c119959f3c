#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/RegistryStore.h"

// The per-user key of every setting.
inline constexpr const char kSettingsKey[] = "Software\\Ostrand\\NF1";

// The program's persistent settings. Never cached: every call opens the key
// (creating it when missing), does its reads or writes and closes it again,
// so a change made by one window is seen at once by every other window and
// by the workers. Make one on the stack wherever a setting is needed, on any
// thread; each object belongs to the thread that made it. Nothing here
// reports an error: an unreadable setting gives its default and a failed
// write is dropped.
class CSettings {
 public:
  static constexpr uint32_t kUpdatePeriod = 604800;          // 7 days
  static constexpr uint32_t kFirstCheckBackdate = 604810;    // due at once
  static constexpr int kDontShowAgainMessageCount = 1;

  CSettings() = default;
  ~CSettings() = default;
  CSettings(const CSettings&) = delete;
  CSettings& operator=(const CSettings&) = delete;

  bool GetLogEnabled();
  void SetLogEnabled(bool enabled);
  std::string GetLogLocation();
  void SetLogLocation(const std::string& folder);  // stored unchanged
  std::string GetInstallFolder();
  std::string GetBuildStamp();

  bool GetAutoUpdate();
  // Also restarts the period: "UpdateTime" = 7 days, "LastCheck" = now.
  void SetAutoUpdate(bool enabled);
  void SetLastCheck(int32_t time);
  void EnsureUpdateDefaults();
  bool IsUpdateCheckDue();

  std::string GetVersionFileUrl() const;
  std::string GetUpdatePageUrl() const;

  // Shows don't-show-again message `index` (owned by the opaque window
  // `owner`) unless its bit in "DNS" is set, and sets the bit when the user
  // ticks "Don't show me this again".
  void ShowDontShowAgainMessage(int index, void* owner);

 private:
  platform::RegistryKey key_;
};

// Shows a don't-show-again message and returns whether its check box was
// ticked when it closed. The GUI binds the message window; unbound, the text
// goes through platform::AskUser with an Ok button and counts as unticked.
using DontShowAgainPresenter = std::function<bool(
    int index, const std::string& title, const std::string& body, void* owner)>;
void SetDontShowAgainPresenter(DontShowAgainPresenter presenter);
// The message table ("" past its end).
std::string DontShowAgainTitle(int index);
std::string DontShowAgainBody(int index);

// Branding kinds of GetBrandingText.
enum BrandingKind : int {
  kBrandingSiteName = 1,
  kBrandingHelpPage = 3,
  kBrandingHelpNote = 4,
};
// Every stored branding byte is XORed with this; whoever brands the product
// must use the same mask.
inline constexpr uint8_t kBrandingMask = 0xA5;
// The branding value of `kind` from the settings key (never created here),
// or its built-in default. Unknown kinds give empty text.
std::string GetBrandingText(int kind);
// Masks `text` and its terminator the way GetBrandingText unmasks it.
std::vector<uint8_t> MaskBrandingText(const std::string& text, bool withTerminator = true);

// True when the system reports the NT platform family.
bool IsWindowsNT();

// Seconds since 1970 UTC. Tests inject a clock to pin boundaries; an empty
// function restores the real one.
int64_t CurrentTimeSeconds();
void SetTimeSourceForTests(std::function<int64_t()> now);
