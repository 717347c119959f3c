#pragma once
// Runs a verification the way the window does: a DriveVerifyThread posting
// to a message target on this thread's event loop, every message recorded.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/MemoryBackend.h"
#include "verify/DriveVerifyThread.h"

namespace verifytest {

struct Message {
  uintptr_t code;
  intptr_t value;
  std::string text;  // VN_FS_TYPE and VN_VOLUME_LABEL
};

struct RunResult {
  bool opened = false;
  std::vector<Message> messages;
  std::unique_ptr<CDirtyBitmap> dirty;
  uint32_t dirtyCount = 0;
  uint32_t errorCount = 0;
  uint32_t dirtySectors = 0;  // the VN_DIRTY_SECTORS value
  bool cancelled = false;
  std::string fsType;          // the last VN_FS_TYPE text
  int64_t lastProgress = -1;
  int progressMessages = 0;

  std::vector<uintptr_t> Codes() const {
    std::vector<uintptr_t> out;
    for (const auto& m : messages) out.push_back(m.code);
    return out;
  }
  bool Saw(uintptr_t code, intptr_t value) const {
    for (const auto& m : messages) {
      if (m.code == code && m.value == value) return true;
    }
    return false;
  }
  // Sectors covered by the dirty set (clusters expanded).
  bool SectorDirty(uint64_t sector, uint32_t sectorsPerCluster) const {
    if (!dirty) return false;
    return dirty->UnitsAreSectors() ? dirty->IsDirty(sector) : dirty->IsDirty(sector / sectorsPerCluster);
  }
};

struct RunOptions {
  bool quick = false;
  bool terminateBeforeStart = false;
  std::string cleanSamplePath = "/nonexistent/CleanData.dat";
};

// An image file as an in-memory disk, read in one piece (quick even in a
// debug build).
inline std::shared_ptr<platform::MemoryDisk> LoadImage(const std::string& path) {
  auto disk = std::make_shared<platform::MemoryDisk>();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return disk;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  if (size > 0) {
    disk->bytes.resize(static_cast<size_t>(size));
    if (std::fread(disk->bytes.data(), 1, disk->bytes.size(), f) != disk->bytes.size()) disk->bytes.clear();
  }
  std::fclose(f);
  return disk;
}

inline CDriveController::BackendFactory MemoryFactory(std::shared_ptr<platform::MemoryDisk> disk) {
  return [disk](char) { return platform::MakeMemoryBackend(disk); };
}

inline RunResult RunVerify(CDriveController::BackendFactory factory, const RunOptions& options = {}) {
  RunResult result;
  platform::EventLoop loop;
  platform::SetMainThreadDispatcher(&loop);
  bool finished = false;
  platform::LoopMessageTarget target(loop, [&](uint32_t message, uintptr_t code, intptr_t value) -> intptr_t {
    if (message != WM_VERIFY_NOTIFY) return 0;
    Message m{code, value, {}};
    if (code == VN_FS_TYPE || code == VN_VOLUME_LABEL) m.text = reinterpret_cast<const char*>(value);
    if (code == VN_FS_TYPE) result.fsType = m.text;
    if (code == VN_PROGRESS) {
      result.lastProgress = value;
      ++result.progressMessages;
    }
    if (code == VN_DIRTY_SECTORS) result.dirtySectors = static_cast<uint32_t>(value);
    if (code == VN_FINISHED) {
      result.dirty.reset(reinterpret_cast<CDirtyBitmap*>(value));
      finished = true;
    }
    result.messages.push_back(m);
    return 0;
  });
  {
    DriveVerifyThread thread(true, options.quick, 'E', &target, std::move(factory));
    result.opened = thread.Opened();
    if (result.opened) {
      thread.SetRetryPause(std::chrono::milliseconds(0));
      thread.SetCleanSamplePath(options.cleanSamplePath);
      if (options.terminateBeforeStart) thread.Terminate();
      thread.Resume();
      loop.RunUntil([&] { return finished; }, 120000);
      thread.WaitFor();
      result.dirtyCount = thread.DirtyCount();
      result.errorCount = thread.ErrorCount();
      result.cancelled = thread.Cancelled();
    }
  }
  platform::SetMainThreadDispatcher(nullptr);
  return result;
}

inline RunResult RunVerify(std::shared_ptr<platform::MemoryDisk> disk, const RunOptions& options = {}) {
  return RunVerify(MemoryFactory(std::move(disk)), options);
}

}  // namespace verifytest
