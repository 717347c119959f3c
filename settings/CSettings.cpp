#include "settings/CSettings.h"

#include <cmath>
#include <ctime>
#include <limits>
#include <mutex>

#include "platform/AskUser.h"
#include "platform/OsVersion.h"

namespace {

using platform::RegRead;

// The maker's addresses. Only the paths are fixed; the host is the maker's.
constexpr char kMakerHost[] = "http://www.ostrand.example";
constexpr char kDefaultSiteName[] = "www.ostrand.example";
constexpr char kDefaultHelpPage[] = "http://www.ostrand.example/nullifex/help.html";

std::mutex g_mutex;
std::function<int64_t()> g_now;
DontShowAgainPresenter g_presenter;

struct DontShowAgainEntry {
  const char* title;
  const char* body;
};
constexpr DontShowAgainEntry kDontShowAgain[CSettings::kDontShowAgainMessageCount] = {
    {"Sector Viewer",
     "The sector viewer allows you to see the raw data stored on each disk sector.  Some clean "
     "sectors on your drive will contain data.  This data is part of the drive format and is "
     "used by Windows to store your files.  The Nullifex disk verify operation knows about this "
     "data and is able to dectect when these sectors are clean."},
};

bool ReadFlag(platform::RegistryKey& key, const char* name) {
  uint32_t value = 0;
  return key.ReadDword(name, value) == RegRead::kOk && value != 0;
}

std::string ReadText(platform::RegistryKey& key, const char* name) {
  std::string value;
  if (key.ReadString(name, value) != RegRead::kOk) return {};
  return value;
}

// The registry keeps times as 32-bit integers.
int32_t Now32() { return static_cast<int32_t>(CurrentTimeSeconds()); }

}  // namespace

int64_t CurrentTimeSeconds() {
  std::function<int64_t()> now;
  {
    std::lock_guard lock(g_mutex);
    now = g_now;
  }
  return now ? now() : static_cast<int64_t>(std::time(nullptr));
}

void SetTimeSourceForTests(std::function<int64_t()> now) {
  std::lock_guard lock(g_mutex);
  g_now = std::move(now);
}

bool CSettings::GetLogEnabled() {
  bool result = key_.OpenOrCreate(kSettingsKey) && ReadFlag(key_, "LogEnabled");
  key_.Close();
  return result;
}

void CSettings::SetLogEnabled(bool enabled) {
  if (key_.OpenOrCreate(kSettingsKey)) (void)key_.WriteDword("LogEnabled", enabled ? 1 : 0);
  key_.Close();
}

std::string CSettings::GetLogLocation() {
  std::string result = key_.OpenOrCreate(kSettingsKey) ? ReadText(key_, "LogLoc") : "";
  key_.Close();
  return result;
}

void CSettings::SetLogLocation(const std::string& folder) {
  if (key_.OpenOrCreate(kSettingsKey)) (void)key_.WriteString("LogLoc", folder);
  key_.Close();
}

std::string CSettings::GetInstallFolder() {
  std::string result = key_.OpenOrCreate(kSettingsKey) ? ReadText(key_, "UIL") : "";
  key_.Close();
  return result;
}

std::string CSettings::GetBuildStamp() {
  std::string result = key_.OpenOrCreate(kSettingsKey) ? ReadText(key_, "Dliubruc") : "";
  key_.Close();
  return result;
}

bool CSettings::GetAutoUpdate() {
  bool result = key_.OpenOrCreate(kSettingsKey) && ReadFlag(key_, "Update");
  key_.Close();
  return result;
}

void CSettings::SetAutoUpdate(bool enabled) {
  // Saving the choice always starts a fresh 7-day period, on or off.
  if (key_.OpenOrCreate(kSettingsKey) && key_.WriteDword("Update", enabled ? 1 : 0) &&
      key_.WriteDword("UpdateTime", kUpdatePeriod)) {
    (void)key_.WriteDword("LastCheck", static_cast<uint32_t>(Now32()));
  }
  key_.Close();
}

void CSettings::SetLastCheck(int32_t time) {
  if (key_.OpenOrCreate(kSettingsKey)) (void)key_.WriteDword("LastCheck", static_cast<uint32_t>(time));
  key_.Close();
}

void CSettings::EnsureUpdateDefaults() {
  // Values that exist are left alone, whatever they hold. The first failed
  // write ends the sequence.
  if (key_.OpenOrCreate(kSettingsKey) &&
      (key_.ValueExists("Update") || key_.WriteDword("Update", 1)) &&
      (key_.ValueExists("UpdateTime") || key_.WriteDword("UpdateTime", kUpdatePeriod))) {
    if (!key_.ValueExists("LastCheck")) {
      // Backdated by 10 s more than the period, so the first check is due
      // at once.
      const int64_t backdated = static_cast<int64_t>(Now32()) - kFirstCheckBackdate;
      (void)key_.WriteDword("LastCheck", static_cast<uint32_t>(static_cast<int32_t>(backdated)));
    }
  }
  key_.Close();
}

bool CSettings::IsUpdateCheckDue() {
  EnsureUpdateDefaults();
  bool due = false;
  uint32_t update = 0, updateTime = 0, lastCheck = 0;
  if (key_.OpenOrCreate(kSettingsKey) && key_.ReadDword("Update", update) == RegRead::kOk) {
    const int64_t now = CurrentTimeSeconds();
    if (key_.ReadDword("UpdateTime", updateTime) == RegRead::kOk &&
        key_.ReadDword("LastCheck", lastCheck) == RegRead::kOk) {
      // The difference is taken in floating point and truncated toward zero
      // to 32 bits. A stored time far from now (a hand-edited value, or the
      // 2038 wrap) would not fit, so it is clamped rather than converted out
      // of range.
      double difference = std::trunc(static_cast<double>(now) -
                                     static_cast<double>(static_cast<int32_t>(lastCheck)));
      constexpr double kMax = std::numeric_limits<int32_t>::max();
      constexpr double kMin = std::numeric_limits<int32_t>::min();
      const int32_t elapsed =
          static_cast<int32_t>(difference > kMax ? kMax : difference < kMin ? kMin : difference);
      const int64_t remaining = static_cast<int64_t>(updateTime) - elapsed;
      due = update != 0 && remaining <= 0;
    }
  }
  key_.Close();
  return due;
}

std::string CSettings::GetVersionFileUrl() const {
  return std::string(kMakerHost) + "/Nullifex/version.dat";
}

std::string CSettings::GetUpdatePageUrl() const {
  return std::string(kMakerHost) + "/nullifex_update.php";
}

void CSettings::ShowDontShowAgainMessage(int index, void* owner) {
  if (index < 0 || index >= kDontShowAgainMessageCount) return;
  const uint32_t bit = 1u << index;
  uint32_t flags = 0;
  // An unreadable word shows the message, as if nothing had been ticked.
  if (key_.OpenOrCreate(kSettingsKey) && key_.ReadDword("DNS", flags) != RegRead::kOk) flags = 0;
  if (flags & bit) {
    key_.Close();
    return;
  }
  DontShowAgainPresenter presenter;
  {
    std::lock_guard lock(g_mutex);
    presenter = g_presenter;
  }
  const std::string title = kDontShowAgain[index].title;
  const std::string body = kDontShowAgain[index].body;
  bool ticked = false;
  if (presenter) {
    ticked = presenter(index, title, body, owner);
  } else {
    (void)platform::AskUser(body, title, ButtonsOk, IconInfo);
  }
  if (ticked && key_.IsOpen()) {
    // The window may have been open for a while: take the word as it is now,
    // so a bit set meanwhile by another window or process is kept.
    uint32_t current = 0;
    if (key_.ReadDword("DNS", current) == RegRead::kOk) flags = current;
    (void)key_.WriteDword("DNS", flags | bit);
  }
  key_.Close();
}

void SetDontShowAgainPresenter(DontShowAgainPresenter presenter) {
  std::lock_guard lock(g_mutex);
  g_presenter = std::move(presenter);
}

std::string DontShowAgainTitle(int index) {
  if (index < 0 || index >= CSettings::kDontShowAgainMessageCount) return {};
  return kDontShowAgain[index].title;
}

std::string DontShowAgainBody(int index) {
  if (index < 0 || index >= CSettings::kDontShowAgainMessageCount) return {};
  return kDontShowAgain[index].body;
}

std::string GetBrandingText(int kind) {
  const char* name = nullptr;
  std::string fallback;
  switch (kind) {
    case kBrandingSiteName:
      name = "Local2";
      fallback = kDefaultSiteName;
      break;
    case kBrandingHelpPage:
      name = "Local4";
      fallback = kDefaultHelpPage;
      break;
    case kBrandingHelpNote:
      name = "Local5";
      break;
    default:
      return {};
  }
  // Only reads: branding never creates the key.
  platform::RegistryKey key;
  if (!key.OpenReadOnly(kSettingsKey)) return fallback;
  uint32_t size = 0;
  std::vector<uint8_t> bytes;
  if (key.ValueSize(name, size) != RegRead::kOk || key.ReadRaw(name, bytes) != RegRead::kOk) {
    return fallback;
  }
  key.Close();
  std::string text;
  for (uint8_t b : bytes) {
    const char c = static_cast<char>(b ^ kBrandingMask);
    if (c == 0) break;  // the masked terminator, when it was stored
    text += c;
  }
  return text;
}

std::vector<uint8_t> MaskBrandingText(const std::string& text, bool withTerminator) {
  std::vector<uint8_t> bytes;
  for (char c : text) bytes.push_back(static_cast<uint8_t>(static_cast<uint8_t>(c) ^ kBrandingMask));
  if (withTerminator) bytes.push_back(kBrandingMask);
  return bytes;
}

bool IsWindowsNT() { return platform::GetVersionInfo().platformId == platform::kPlatformNT; }
