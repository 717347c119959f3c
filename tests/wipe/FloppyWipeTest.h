#pragma once
// The set-up the wipe thread's tests share: a freshly formatted 1.44 MB
// floppy held in memory as drive Q:, a recording window, a scripted
// formatter, and threads made on them.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/MemoryBackend.h"
#include "settings/CLogger.h"
#include "tests/fixtures/Fixtures.h"
#include "tests/wipe/WipeTestSupport.h"
#include "wipe/DriveWipeThread.h"

namespace wipetest {

class FloppyWipeTest : public ::testing::Test {
 protected:
  // A derived SetUp calls this first and returns on HasFatalFailure().
  void SetUp() override {
    TheLogger().Close();
    FormatWhenFinished = true;
    ASSERT_TRUE(fixtures::MakeFloppy(image));
    disk = platform::MemoryDisk::FromImage(image);
    ASSERT_TRUE(disk);
  }
  void TearDown() override {
    TheLogger().Close();
    FormatWhenFinished = true;
  }

  std::unique_ptr<DriveWipeThread> MakeThread(int passes, const char* label = "TEST", int fileSystem = WIPE_FS_FAT) {
    DriveWipeThread::Environment env;
    env.backends = [d = disk](char) { return platform::MakeMemoryBackend(d); };
    env.notifyShell = [this](char letter) { notified.push_back(letter); };
    env.rootFolder = root.path();
    auto thread = std::make_unique<DriveWipeThread>(&window, true, passes, label, fileSystem, 'q', env);
    thread->Controller().SetRetryPause(std::chrono::milliseconds(1));
    return thread;
  }

  // The messages without the progress, as "S" stage, "F0,0" finished, "X19" failed.
  std::string Ends() {
    std::string out;
    for (const auto& m : window.Messages()) {
      if (m.id == WM_WIPE_STAGE) out += "S ";
      if (m.id == WM_WIPE_FINISHED) out += "F" + std::to_string(m.wParam) + "," + std::to_string(m.lParam) + " ";
      if (m.id == WM_WIPE_FAILED) out += "X" + std::to_string(m.wParam) + " ";
    }
    return out;
  }

  fixtures::TempDir dir;
  fixtures::TempDir root;  // stands for the drive's root folder
  std::string image = dir.File("floppy.img");
  fixtures::DriveMap map{{{'Q', "removable", image}}};
  std::shared_ptr<platform::MemoryDisk> disk;
  RecordingTarget window;
  ScriptedFormatter formatter;
  FormatterGuard formatterGuard{&formatter};
  std::vector<char> notified;  // letters the thread asked the shell to re-read
};

}  // namespace wipetest
