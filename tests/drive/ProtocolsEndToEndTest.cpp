// One FAT image verified, wiped at level 3 and verified again through each
// Windows access protocol over the emulated services (the NT volume handle,
// 98's int 21h 7305h, 95's int 25h/26h) and through the Linux backend: the
// same bytes on the medium (cmp) and the same verify reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <thread>
#include <ctime>

#include "platform/linux/LinuxBackend.h"
#include "tests/drive/ProtocolTestSupport.h"
#include "tests/fixtures/Fixtures.h"
#include "tests/verify/VerifyHarness.h"
#include "tests/wipe/WipeTestSupport.h"
#include "wipe/DriveWipeThread.h"

using namespace protocoltest;

namespace {

// Speaks one protocol whatever family the controller decides. The wipe
// engine writes raw sectors only on the NT family (95/98/ME erase through
// files); pinned, its raw passes go through the 95/98/ME calls unchanged.
class PinnedProtocol final : public platform::SectorBackend {
 public:
  PinnedProtocol(std::unique_ptr<platform::SectorBackend> inner, uint16_t family) : inner_(std::move(inner)) {
    inner_->SetOsFamily(family);
  }
  void SetOsFamily(uint16_t) override {}
  uint32_t Open() override { return inner_->Open(); }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  uint32_t Read(void* b, uint32_t n, uint32_t& done) override { return inner_->Read(b, n, done); }
  uint32_t Write(const void* b, uint32_t n, uint32_t& done) override { return inner_->Write(b, n, done); }
  uint32_t SetPosition(uint64_t s) override { return inner_->SetPosition(s); }
  uint32_t Skip(uint64_t s) override { return inner_->Skip(s); }
  uint64_t Position() const override { return inner_->Position(); }
  uint32_t ReadAt(uint64_t s, void* b, uint32_t n) override { return inner_->ReadAt(s, b, n); }
  uint64_t DeviceSize() override { return inner_->DeviceSize(); }
  uint32_t FreeSpace(uint64_t& f) override { return inner_->FreeSpace(f); }
  bool GetVolumeInformation(platform::VolumeInformation& i) override { return inner_->GetVolumeInformation(i); }
  uint32_t Flush() override { return inner_->Flush(); }

 private:
  std::unique_ptr<platform::SectorBackend> inner_;
};

struct Route {
  std::string name;
  std::string image;
  std::shared_ptr<Win32DiskEmulator> emulator;  // null: the Linux backend
  platform::OsVersionInfo version;              // the verify's system
  uint16_t family = 0;                          // the protocol the wipe is pinned to, 0: as decided
  std::set<uint32_t> allowedCalls;              // VWIN32 control codes this route may issue

  CDriveController::BackendFactory Backends() const {
    if (!emulator) {
      return [path = image](char) { return platform::MakeLinuxBackend(path); };
    }
    if (family == 0) return EmulatedProtocols(emulator);
    return [e = emulator, f = family](char letter) -> std::unique_ptr<platform::SectorBackend> {
      return std::make_unique<PinnedProtocol>(platform::win32api::MakeWindowsDiskBackend(e, letter), f);
    };
  }
};

// Everything a verification reported, with the dirty set byte for byte.
std::string Report(const verifytest::RunResult& r) {
  std::ostringstream out;
  out << "opened " << r.opened << " fs " << r.fsType << " dirty " << r.dirtyCount << " errors " << r.errorCount
      << " dirtySectors " << r.dirtySectors << " cancelled " << r.cancelled << "\n";
  for (const auto& m : r.messages) {
    // Texts and the dirty set travel as pointers: their contents count.
    const bool pointer = m.code == VN_FINISHED || m.code == VN_FS_TYPE || m.code == VN_VOLUME_LABEL;
    out << m.code << ":" << (pointer ? 0 : m.value) << ":" << m.text << " ";
  }
  out << "\nset";
  if (r.dirty) {
    out << " units " << r.dirty->BitCount() << " sectors " << r.dirty->UnitsAreSectors() << " count "
        << r.dirty->DirtyCount() << " dirty";
    for (uint64_t i = 0; i < r.dirty->BitCount(); ++i) {
      if (r.dirty->GetBit(i)) out << ' ' << i;
    }
  }
  return out.str();
}

class ProtocolsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    TheLogger().Close();
    const std::string original = dir.File("original.img");
    fixtures::ImageOptions options;
    options.label = "PROTOCOLS";
    options.sectorsPerCluster = 1;  // many runs per transfer in the wipe
    std::string error;
    ASSERT_TRUE(fixtures::MakeImage(original, 16u << 20, fixtures::FileSystem::FAT16, options, &error)) << error;
    const std::string host = dir.File("letter.txt");
    ASSERT_TRUE(fixtures::WriteFile(host, std::string(70000, 'x')));
    ASSERT_TRUE(fixtures::FillRandom(host, 0, 70000, 23));
    ASSERT_TRUE(fixtures::CopyIn(original, fixtures::FileSystem::FAT16, host, "LETTER.TXT", &error)) << error;
    // What a deleted file leaves in free clusters.
    ASSERT_TRUE(fixtures::FillRandom(original, 9u << 20, 300u << 10, 17));

    auto route = [&](std::string name, platform::OsVersionInfo version, uint16_t family,
                     std::set<uint32_t> calls, bool emulated) {
      Route r{name, dir.File(name + ".img"), nullptr, version, family, std::move(calls)};
      std::filesystem::copy_file(original, r.image);
      if (emulated) {
        r.emulator = std::make_shared<Win32DiskEmulator>();
        r.emulator->MapDrive('E', r.image);
      }
      routes.push_back(r);
    };
    route("linux", kWinXp, 0, {}, false);
    route("nt", kWinXp, 0, {}, true);
    route("win98", kWin98, 2, {6, 1}, true);
    route("win95", kWin95, 1, {2, 3, 1}, true);
  }

  void TearDown() override {
    FormatWhenFinished = true;
    for (const Route& r : routes) {
      if (!r.emulator) continue;
      SCOPED_TRACE(r.name);
      EXPECT_EQ(r.emulator->Violations(), std::vector<std::string>{});
      EXPECT_EQ(r.emulator->OpenHandles(), 0u);
      std::set<uint32_t> used;
      for (const auto& call : r.emulator->Calls()) used.insert(call.code);
      EXPECT_EQ(used, r.allowedCalls) << "the route's own calls, and all of them";
    }
  }

  // A full verification of each route's image under the route's system.
  std::vector<std::string> VerifyAll() {
    std::vector<std::string> reports;
    for (const Route& r : routes) {
      InjectedVersion version(r.version);
      reports.push_back(Report(verifytest::RunVerify(r.Backends())));
    }
    return reports;
  }

  // The level-3 wipe of every image at once, so that the pass-3 pattern,
  // which the wipe draws from the clock's second, is the same for all.
  void WipeAll() {
    FormatWhenFinished = false;
    std::vector<std::unique_ptr<wipetest::RecordingTarget>> windows;
    std::vector<std::unique_ptr<DriveWipeThread>> threads;
    for (const Route& r : routes) {
      DriveWipeThread::Environment env;
      env.backends = r.Backends();
      env.notifyShell = [](char) {};
      env.rootFolder = dir.path();
      windows.push_back(std::make_unique<wipetest::RecordingTarget>());
      threads.push_back(
          std::make_unique<DriveWipeThread>(windows.back().get(), true, 3, "WIPED", WIPE_FS_FAT, 'e', env));
      threads.back()->Controller().SetRetryPause(std::chrono::milliseconds(0));
    }
    // Each opened its drive; all start early in the same second.
    const time_t start = std::time(nullptr);
    while (std::time(nullptr) == start) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    for (auto& t : threads) t->Resume();
    for (size_t i = 0; i < threads.size(); ++i) {
      SCOPED_TRACE(routes[i].name);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      while (!threads[i]->Finished() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      ASSERT_TRUE(threads[i]->Finished());
      threads[i]->WaitFor();
      EXPECT_EQ(threads[i]->GetSectorErrorCount(), 0u);
      EXPECT_EQ(windows[i]->Count(WM_WIPE_FINISHED), 1);
      EXPECT_EQ(windows[i]->Count(WM_WIPE_FAILED), 0);
      EXPECT_FALSE(windows[i]->Progress(WP_VERIFY).empty()) << "level 3 reads the last pass back";
    }
  }

  fixtures::TempDir dir;
  std::vector<Route> routes;
};

TEST_F(ProtocolsEndToEnd, SameBytesAndSameVerdictsThroughEveryProtocol) {
  const std::vector<std::string> before = VerifyAll();
  EXPECT_NE(before[0].find("fs FAT16"), std::string::npos) << before[0];
  EXPECT_EQ(before[0].find("dirty 0 "), std::string::npos) << "the file and the old data are dirty";
  for (size_t i = 1; i < routes.size(); ++i) EXPECT_EQ(before[i], before[0]) << routes[i].name;

  {
    InjectedVersion version(kWinXp);  // the raw passes of the NT family
    // Should the runs straddle a second after all, their pass-3 patterns
    // differ from the first bytes on; that alone is run again.
    for (int attempt = 0; attempt < 3; ++attempt) {
      WipeAll();
      if (HasFailure()) return;
      std::set<std::string> firstBytes;
      for (const Route& r : routes) firstBytes.insert(fixtures::ReadBytes(r.image, 0, 16));
      if (firstBytes.size() == 1) break;
    }
  }
  const std::string pairs = fixtures::ReadBytes(routes[0].image, 0, 2);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(static_cast<uint8_t>(pairs[1]), static_cast<uint8_t>(pairs[0] ^ 0xFF)) << "the last pass: random pairs";
  for (size_t i = 1; i < routes.size(); ++i) {
    const fixtures::ToolResult cmp = fixtures::RunTool({"cmp", routes[0].image, routes[i].image});
    EXPECT_TRUE(cmp.ok()) << routes[i].name << ": " << cmp.output;
  }

  const std::vector<std::string> after = VerifyAll();
  EXPECT_NE(after[0], before[0]);
  for (size_t i = 1; i < routes.size(); ++i) EXPECT_EQ(after[i], after[0]) << routes[i].name;
}

}  // namespace
