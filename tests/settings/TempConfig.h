#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/AskUser.h"
#include "platform/Dispatcher.h"
#include "platform/OsVersion.h"
#include "platform/Paths.h"
#include "settings/CLogger.h"
#include "settings/CSettings.h"

// Every test gets a fresh, empty configuration folder of its own and leaves
// the process-wide bindings as it found them, so no test sees another's
// settings and none can reach the real user's.
class TempConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::filesystem::temp_directory_path().string() + "/nfx-settings-XXXXXX";
    ASSERT_NE(mkdtemp(base.data()), nullptr);
    root_ = base;
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    ResetBindings();
  }
  void TearDown() override {
    ResetBindings();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  static void ResetBindings() {
    TheLogger().Close();
    SetTimeSourceForTests({});
    SetDontShowAgainPresenter({});
    platform::SetAskUser({});
    platform::SetMainThreadDispatcher(nullptr);
    platform::InjectVersionInfo(std::nullopt);
  }

  std::string KeyFile() const { return platform::ConfigDir() + "/NF1.reg"; }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  std::string root_;
};
