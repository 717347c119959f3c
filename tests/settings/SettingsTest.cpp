#include <vector>

#include "TempConfig.h"
#include "platform/RegistryStore.h"

using platform::RegistryKey;
using platform::RegRead;

namespace {
constexpr int64_t kNow = 1796825100;  // Wednesday, 09 Dec 2026 14:05 UTC

uint32_t ReadDwordOrFail(const char* name) {
  RegistryKey key;
  uint32_t d = 0xdeadbeef;
  EXPECT_TRUE(key.OpenReadOnly(kSettingsKey));
  EXPECT_EQ(key.ReadDword(name, d), RegRead::kOk) << name;
  return d;
}
}  // namespace

class SettingsTest : public TempConfigTest {
 protected:
  void SetUp() override {
    TempConfigTest::SetUp();
    SetTimeSourceForTests([this] { return now_; });
  }
  // A key opened for writing the way an installer or a person would.
  RegistryKey& Key() {
    if (!key_.IsOpen()) {
      EXPECT_TRUE(key_.OpenOrCreate(kSettingsKey));
    }
    return key_;
  }
  int64_t now_ = kNow;
  RegistryKey key_;
};

TEST_F(SettingsTest, AMissingKeyGivesEveryDefaultAndIsLeftBehind) {
  {
    CSettings settings;
    EXPECT_FALSE(settings.GetLogEnabled());
  }
  // The first operation made the key, with nothing in it.
  EXPECT_EQ(ReadFile(KeyFile()), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Ostrand\\NF1]\n");
  CSettings settings;
  EXPECT_EQ(settings.GetLogLocation(), "");
  EXPECT_EQ(settings.GetInstallFolder(), "");
  EXPECT_EQ(settings.GetBuildStamp(), "");
  EXPECT_FALSE(settings.GetAutoUpdate());
  std::vector<platform::RegistryValue> values;
  EXPECT_TRUE(platform::ParseRegistryText(ReadFile(KeyFile()), values));
  EXPECT_TRUE(values.empty());
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeReadAsDefaults) {
  ASSERT_TRUE(Key().WriteString("LogEnabled", "1"));
  ASSERT_TRUE(Key().WriteDword("LogLoc", 5));
  ASSERT_TRUE(Key().WriteDword("UIL", 1));
  ASSERT_TRUE(Key().WriteRaw("Dliubruc", platform::kRegBinary, {'3', '1'}));
  ASSERT_TRUE(Key().WriteString("Update", "1"));
  CSettings settings;
  EXPECT_FALSE(settings.GetLogEnabled());
  EXPECT_EQ(settings.GetLogLocation(), "");
  EXPECT_EQ(settings.GetInstallFolder(), "");
  EXPECT_EQ(settings.GetBuildStamp(), "");
  EXPECT_FALSE(settings.GetAutoUpdate());
}

TEST_F(SettingsTest, StoredValuesAreReadBackAndAnyNonZeroIsTrue) {
  ASSERT_TRUE(Key().WriteDword("LogEnabled", 2));
  ASSERT_TRUE(Key().WriteString("UIL", "/opt/Ostrand/Nullifex"));
  ASSERT_TRUE(Key().WriteString("Dliubruc", "3.1.0042"));
  CSettings settings;
  EXPECT_TRUE(settings.GetLogEnabled());
  EXPECT_EQ(settings.GetInstallFolder(), "/opt/Ostrand/Nullifex");
  EXPECT_EQ(settings.GetBuildStamp(), "3.1.0042");

  settings.SetLogEnabled(true);
  EXPECT_EQ(ReadDwordOrFail("LogEnabled"), 1u);
  settings.SetLogEnabled(false);
  EXPECT_EQ(ReadDwordOrFail("LogEnabled"), 0u);
  EXPECT_FALSE(settings.GetLogEnabled());

  // The folder goes in exactly as given: no trimming, no check.
  for (const std::string folder : {"", " /tmp/with space/ ", "/no/such/folder\\", "C:\\Logs"}) {
    settings.SetLogLocation(folder);
    EXPECT_EQ(settings.GetLogLocation(), folder);
  }
}

TEST_F(SettingsTest, TheFirstUpdateCheckCreatesItsDefaultsAndIsDue) {
  CSettings settings;
  EXPECT_FALSE(settings.GetAutoUpdate());
  EXPECT_TRUE(settings.IsUpdateCheckDue());
  EXPECT_TRUE(settings.GetAutoUpdate());
  EXPECT_EQ(ReadDwordOrFail("Update"), 1u);
  EXPECT_EQ(ReadDwordOrFail("UpdateTime"), 604800u);
  EXPECT_EQ(ReadDwordOrFail("LastCheck"), static_cast<uint32_t>(kNow - 604810));
}

TEST_F(SettingsTest, EnsureUpdateDefaultsLeavesExistingValuesAlone) {
  ASSERT_TRUE(Key().WriteDword("Update", 0));
  ASSERT_TRUE(Key().WriteString("UpdateTime", "weekly"));
  CSettings settings;
  settings.EnsureUpdateDefaults();
  EXPECT_EQ(ReadDwordOrFail("Update"), 0u);
  std::string text;
  EXPECT_EQ(Key().ReadString("UpdateTime", text), RegRead::kOk);
  EXPECT_EQ(text, "weekly");
  EXPECT_EQ(ReadDwordOrFail("LastCheck"), static_cast<uint32_t>(kNow - 604810));
}

TEST_F(SettingsTest, TheWeeklyDecision) {
  struct Case {
    const char* what;
    uint32_t update;
    uint32_t updateTime;
    int64_t lastCheck;  // relative to now
    bool due;
  };
  const Case cases[] = {
      {"exactly the period back", 1, 604800, -604800, true},
      {"one second short of the period", 1, 604800, -604799, false},
      {"long ago", 1, 604800, -10000000, true},
      {"checked just now", 1, 604800, 0, false},
      {"in the future (clock set back)", 1, 604800, +3600, false},
      {"due, but switched off", 0, 604800, -604800, false},
      {"any non-zero switch is on", 7, 604800, -604800, true},
      {"a zero period", 1, 0, 0, true},
      {"a period beyond 2^31 seconds is never due", 1, 0xffffffffu, -2000000000, false},
      {"a stored time from before 1902 does not overflow", 1, 604800, -kNow - 0x7fffffffLL, true},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Key().WriteDword("Update", c.update));
    ASSERT_TRUE(Key().WriteDword("UpdateTime", c.updateTime));
    ASSERT_TRUE(Key().WriteDword("LastCheck", static_cast<uint32_t>(static_cast<int32_t>(kNow + c.lastCheck))));
    CSettings settings;
    EXPECT_EQ(settings.IsUpdateCheckDue(), c.due) << c.what;
  }
  // A future "LastCheck" becomes due once the clock passes it by the period.
  ASSERT_TRUE(Key().WriteDword("LastCheck", static_cast<uint32_t>(kNow + 3600)));
  now_ = kNow + 3600 + 604799;
  EXPECT_FALSE(CSettings().IsUpdateCheckDue());
  now_ = kNow + 3600 + 604800;
  EXPECT_TRUE(CSettings().IsUpdateCheckDue());
}

TEST_F(SettingsTest, AnUnreadableUpdateValueNeverPromptsACheck) {
  for (const char* name : {"Update", "UpdateTime", "LastCheck"}) {
    ASSERT_TRUE(Key().DeleteValue("Update") && Key().DeleteValue("UpdateTime") &&
                Key().DeleteValue("LastCheck"));
    ASSERT_TRUE(Key().WriteString(name, "garbage"));
    EXPECT_FALSE(CSettings().IsUpdateCheckDue()) << name;
  }
}

TEST_F(SettingsTest, SavingTheAutoUpdateChoiceRestartsTheSevenDayPeriod) {
  ASSERT_TRUE(Key().WriteDword("UpdateTime", 60));
  CSettings settings;
  settings.SetAutoUpdate(false);
  EXPECT_FALSE(settings.GetAutoUpdate());
  EXPECT_EQ(ReadDwordOrFail("UpdateTime"), 604800u);
  now_ += 1000;
  settings.SetAutoUpdate(true);
  EXPECT_TRUE(settings.GetAutoUpdate());
  EXPECT_EQ(ReadDwordOrFail("LastCheck"), static_cast<uint32_t>(now_));
  const int64_t saved = now_;
  now_ = saved + 604799;
  EXPECT_FALSE(settings.IsUpdateCheckDue());
  now_ = saved + 604800;
  EXPECT_TRUE(settings.IsUpdateCheckDue());

  settings.SetLastCheck(-5);
  EXPECT_EQ(ReadDwordOrFail("LastCheck"), 0xfffffffbu);
}

TEST_F(SettingsTest, FixedAddressesEndInTheirPaths) {
  CSettings settings;
  const std::string version = settings.GetVersionFileUrl();
  const std::string page = settings.GetUpdatePageUrl();
  EXPECT_EQ(version.substr(0, 7), "http://");
  EXPECT_EQ(version.substr(version.size() - 21), "/Nullifex/version.dat");
  EXPECT_EQ(page.substr(page.size() - 20), "/nullifex_update.php");
  EXPECT_NE(version.find(".example/"), std::string::npos);  // a reserved name, not a real host
}

TEST_F(SettingsTest, BrandingTexts) {
  const std::string siteDefault = GetBrandingText(kBrandingSiteName);
  const std::string helpDefault = GetBrandingText(kBrandingHelpPage);
  EXPECT_FALSE(siteDefault.empty());
  EXPECT_EQ(helpDefault.substr(0, 7), "http://");
  EXPECT_EQ(GetBrandingText(kBrandingHelpNote), "");
  EXPECT_EQ(GetBrandingText(2), "");
  // Branding only reads: it never makes the key.
  EXPECT_FALSE(std::filesystem::exists(KeyFile()));

  struct Case {
    const char* name;
    int kind;
    std::vector<uint8_t> stored;
    uint32_t type;
    std::string expected;
  };
  std::vector<uint8_t> trailing = MaskBrandingText("Ostrand");
  trailing.push_back(0x41 ^ kBrandingMask);  // bytes after the terminator are not text
  const Case cases[] = {
      {"Local2", kBrandingSiteName, MaskBrandingText("www.brand.example", true), platform::kRegBinary,
       "www.brand.example"},
      {"Local2", kBrandingSiteName, MaskBrandingText("www.brand.example", false), platform::kRegBinary,
       "www.brand.example"},
      {"Local4", kBrandingHelpPage, MaskBrandingText("http://help.example/x"), platform::kRegString,
       "http://help.example/x"},
      {"Local5", kBrandingHelpNote, trailing, platform::kRegDword, "Ostrand"},
      {"Local5", kBrandingHelpNote, {}, platform::kRegBinary, ""},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Key().WriteRaw(c.name, c.type, c.stored));
    EXPECT_EQ(GetBrandingText(c.kind), c.expected) << c.name;
  }
  // Unmasked bytes come out masked: the mask is applied to every byte.
  ASSERT_TRUE(Key().WriteRaw("Local2", platform::kRegBinary, {'A'}));
  EXPECT_EQ(GetBrandingText(kBrandingSiteName), std::string(1, static_cast<char>('A' ^ kBrandingMask)));
  ASSERT_TRUE(Key().DeleteValue("Local2"));
  EXPECT_EQ(GetBrandingText(kBrandingSiteName), siteDefault);
  EXPECT_EQ(GetBrandingText(kBrandingHelpPage), "http://help.example/x");
}

TEST_F(SettingsTest, IsWindowsNTFollowsThePlatformFamily) {
  EXPECT_TRUE(IsWindowsNT());  // this system gives raw volume access
  platform::InjectVersionInfo(platform::OsVersionInfo{platform::kPlatformWindows, 4, 10, 2222, " A "});
  EXPECT_FALSE(IsWindowsNT());
  platform::InjectVersionInfo(platform::OsVersionInfo{platform::kPlatformNT, 5, 1, 2600, "Service Pack 2"});
  EXPECT_TRUE(IsWindowsNT());
  platform::InjectVersionInfo(platform::OsVersionInfo{platform::kPlatformWin32s, 3, 10, 0, ""});
  EXPECT_FALSE(IsWindowsNT());
}

class DontShowAgainTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    SetDontShowAgainPresenter([this](int index, const std::string& title, const std::string& body,
                                     void* owner) {
      shown_.push_back(index);
      lastTitle_ = title;
      lastBody_ = body;
      lastOwner_ = owner;
      return tick_;
    });
  }
  std::vector<int> shown_;
  std::string lastTitle_, lastBody_;
  void* lastOwner_ = nullptr;
  bool tick_ = false;
};

TEST_F(DontShowAgainTest, TickingTheBoxHidesTheMessageForGood) {
  int owner = 0;
  CSettings settings;
  settings.ShowDontShowAgainMessage(0, &owner);
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(lastTitle_, "Sector Viewer");
  EXPECT_EQ(lastBody_.substr(0, 30), "The sector viewer allows you t");
  EXPECT_NE(lastBody_.find("dectect"), std::string::npos);
  EXPECT_EQ(lastOwner_, &owner);
  // Not ticked: nothing written, shown again.
  EXPECT_FALSE(Key().ValueExists("DNS"));
  settings.ShowDontShowAgainMessage(0, &owner);
  EXPECT_EQ(shown_.size(), 2u);

  tick_ = true;
  settings.ShowDontShowAgainMessage(0, &owner);
  EXPECT_EQ(shown_.size(), 3u);
  EXPECT_EQ(ReadDwordOrFail("DNS"), 1u);
  settings.ShowDontShowAgainMessage(0, &owner);
  EXPECT_EQ(shown_.size(), 3u);
}

TEST_F(DontShowAgainTest, OnlyTheMessagesOwnBitCounts) {
  struct Case {
    const char* what;
    bool isString;
    uint32_t stored;
    bool shown;
    uint32_t afterTick;  // the word after ticking, when shown
  };
  const Case cases[] = {
      {"other bits set", false, 0xfffffffeu, true, 0xffffffffu},
      {"installer bits kept", false, 0x6, true, 0x7},
      {"its bit among others", false, 0x81, false, 0x81},
      {"stored as text", true, 0, true, 1},
  };
  tick_ = true;
  for (const Case& c : cases) {
    shown_.clear();
    ASSERT_TRUE(c.isString ? Key().WriteString("DNS", "1") : Key().WriteDword("DNS", c.stored));
    CSettings().ShowDontShowAgainMessage(0, nullptr);
    EXPECT_EQ(shown_.size(), c.shown ? 1u : 0u) << c.what;
    EXPECT_EQ(ReadDwordOrFail("DNS"), c.afterTick) << c.what;
  }
  // Indices outside the table show nothing and write nothing.
  ASSERT_TRUE(Key().DeleteValue("DNS"));
  shown_.clear();
  for (int index : {-1, 1, 31, 32, 1000}) CSettings().ShowDontShowAgainMessage(index, nullptr);
  EXPECT_TRUE(shown_.empty());
  EXPECT_FALSE(Key().ValueExists("DNS"));
}

TEST_F(DontShowAgainTest, ABitSetWhileTheWindowWasOpenIsKept) {
  tick_ = true;
  SetDontShowAgainPresenter([this](int, const std::string&, const std::string&, void*) {
    EXPECT_TRUE(Key().WriteDword("DNS", 0x10));  // another window, meanwhile
    return true;
  });
  CSettings().ShowDontShowAgainMessage(0, nullptr);
  EXPECT_EQ(ReadDwordOrFail("DNS"), 0x11u);
}

TEST_F(DontShowAgainTest, WithoutAWindowTheMessageGoesThroughAskUser) {
  SetDontShowAgainPresenter({});
  std::vector<std::string> asked;
  platform::SetAskUser([&](const std::string& text, const std::string& title, int buttons, int icon) {
    asked.push_back(title + "|" + std::to_string(buttons) + "|" + std::to_string(icon) + "|" +
                    text.substr(0, 17));
    return ResultOk;
  });
  CSettings().ShowDontShowAgainMessage(0, nullptr);
  CSettings().ShowDontShowAgainMessage(0, nullptr);
  EXPECT_EQ(asked, (std::vector<std::string>(2, "Sector Viewer|0|0|The sector viewer")));
  EXPECT_FALSE(Key().ValueExists("DNS"));
}
