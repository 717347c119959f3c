// One overwrite pass through the wipe thread against dd on the same image in
// the same run. A 1 GiB image, fully allocated, is written with zeros by the
// thread (headless message target, no format, no log) and by
// `dd if=/dev/zero of=IMG bs=1M oflag=direct conv=notrunc`, twice each,
// alternating; the best of each is kept. The thread's figure is the pass
// itself, from its 0 % to its 100 % message, which includes the flush that
// makes the pass durable. Prints both rates and their ratio (thread / dd).
//
//   wipe_bench [IMAGE_DIR] [SIZE_MIB]
//
// With --desktop (as root), the two ways a wipe reaches a stick, and dd, in
// one run: a loop device on a fully allocated scratch image, a private system
// bus with the storage service and polkit granting one unprivileged user, and
// then, alternating, twice each: a pass by this process, which opens the node
// itself; a pass by a copy of this program run as that user, whose
// descriptor comes from the storage service (`--device NODE`); and dd with
// O_DIRECT on the node, made durable at its end as the wipe's pass is
// (conv=fsync). Prints the three rates and the service's ratio to each of
// the others.
//
//   wipe_bench --desktop [IMAGE_DIR] [SIZE_MIB]
//   wipe_bench --device NODE      (one pass over NODE; prints bytes/s)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/linux/LinuxBackend.h"
#include "tests/fixtures/DesktopServices.h"
#include "settings/CSettings.h"
#include "tests/fixtures/Fixtures.h"
#include "wipe/DriveWipeThread.h"

namespace {

using Clock = std::chrono::steady_clock;

// The window, reduced to what the benchmark needs: when the pass began and
// ended. Sends return at once, as a window that draws nothing would.
class PassClock : public platform::MessageTarget {
 public:
  void Post(uint32_t, uintptr_t, intptr_t) override {}
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t) override {
    if (message != WM_WIPE_PROGRESS) return 0;
    ++progressMessages;
    const auto* p = reinterpret_cast<const WipeProgress*>(wParam);
    if (p->phase == WP_OVERWRITE && p->percent == 0.0f) begin = Clock::now();
    if (p->phase == WP_OVERWRITE && p->percent == 100.0f) end = Clock::now();
    return 0;
  }
  Clock::time_point begin, end;
  int progressMessages = 0;
};

double WipePass(const std::string& image, uint64_t size, int& messages) {
  PassClock window;
  DriveWipeThread::Environment env;
  env.backends = [image](char) { return platform::MakeLinuxBackend(image); };
  env.notifyShell = [](char) {};
  DriveWipeThread thread(&window, true, 1, "BENCH", WIPE_FS_FAT, 'w', env);
  if (thread.GetErrorCode() != 0) {
    std::fprintf(stderr, "wipe_bench: cannot open the image (error %d)\n", thread.GetErrorCode());
    return 0;
  }
  thread.Resume();
  thread.WaitFor();
  if (thread.GetErrorCode() != 0 || thread.GetSectorErrorCount() != 0) {
    std::fprintf(stderr, "wipe_bench: the pass failed (error %d)\n", thread.GetErrorCode());
    return 0;
  }
  messages = window.progressMessages;
  const double seconds = std::chrono::duration<double>(window.end - window.begin).count();
  return seconds > 0 ? static_cast<double>(size) / seconds : 0;
}

// `flush`: dd also makes its pass durable before it ends, as the wipe does;
// on a loop device O_DIRECT only reaches the backing file's page cache.
double DdPass(const std::string& image, uint64_t size, bool flush = false) {
  const auto start = Clock::now();
  const auto r = fixtures::RunTool({"dd", "if=/dev/zero", "of=" + image, "bs=1M",
                                    "count=" + std::to_string(size >> 20), "oflag=direct",
                                    flush ? "conv=notrunc,fsync" : "conv=notrunc"});
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!r.ok()) {
    std::fprintf(stderr, "wipe_bench: dd failed: %s\n", r.output.c_str());
    return 0;
  }
  return static_cast<double>(size) / seconds;
}

// The rate the user's copy printed ("bytes/s N"), or 0.
double UserPass(const fixtures::TestUser& user, const std::string& program, const std::string& bus,
                const std::string& node, const std::string& home) {
  const auto r = fixtures::RunTool({"setpriv", "--reuid=" + std::to_string(user.uid),
                                    "--regid=" + std::to_string(user.gid), "--clear-groups", "env", "-i",
                                    "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=" + home,
                                    "DBUS_SYSTEM_BUS_ADDRESS=" + bus, program, "--device", node});
  const auto at = r.output.find("bytes/s ");
  if (!r.ok() || at == std::string::npos || r.output.find("through the storage service") == std::string::npos) {
    std::fprintf(stderr, "wipe_bench: the user's pass did not go through the storage service: %s\n",
                 r.output.c_str());
    return 0;
  }
  return std::strtod(r.output.c_str() + at + 8, nullptr);
}

int Desktop(const std::string& folder, uint64_t size) {
  std::string error;
  fixtures::TestUser user;
  if (!fixtures::EnsureTestUser("nfx-desktop-test", user, error)) {
    std::fprintf(stderr, "wipe_bench: %s\n", error.c_str());
    return 1;
  }
  fixtures::TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  const std::string image = folder + "/nullifex-wipe-bench-" + std::to_string(::getpid()) + ".img";
  const int fd = ::open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const bool made = fd >= 0 && ::posix_fallocate(fd, 0, static_cast<off_t>(size)) == 0;
  if (fd >= 0) ::close(fd);
  if (!made) {
    std::fprintf(stderr, "wipe_bench: cannot make a %llu MiB image in %s\n",
                 static_cast<unsigned long long>(size >> 20), folder.c_str());
    ::unlink(image.c_str());
    return 1;
  }
  auto attach = fixtures::LoopDevice::AttachImage(image, false);
  std::unique_ptr<fixtures::DesktopServices> services;
  if (attach.device) {
    auto start = fixtures::DesktopServices::Launch(
        "polkit.addRule(function(action, subject) {\n"
        "  if (action.id.indexOf(\"org.freedesktop.udisks2.\") == 0 && subject.user == \"" + user.name +
        "\")\n    return polkit.Result.YES;\n});\n");
    services = std::move(start.services);
    error = start.message;
  } else {
    error = attach.message;
  }
  int result = 1;
  if (services && services->Settle(attach.device->node(), error)) {
    const std::string node = attach.device->node();
    const std::string program = dir.File("wipe_bench");
    std::filesystem::copy_file("/proc/self/exe", program);
    ::chmod(program.c_str(), 0755);
    double direct = 0, service = 0, dd = 0;
    int messages = 0;
    for (int round = 0; round < 2; ++round) {
      direct = std::max(direct, WipePass(node, size, messages));
      service = std::max(service, UserPass(user, program, services->busAddress(), node, dir.path()));
      dd = std::max(dd, DdPass(node, size, true));
    }
    if (direct > 0 && service > 0 && dd > 0) {
      std::printf("one pass over a %llu MiB loop device: opened directly %.1f MB/s, descriptor from the storage "
                  "service %.1f MB/s, dd %.1f MB/s; service / direct %.2f, service / dd %.2f\n",
                  static_cast<unsigned long long>(size >> 20), direct / 1e6, service / 1e6, dd / 1e6,
                  service / direct, service / dd);
      result = 0;
    }
  } else {
    std::fprintf(stderr, "wipe_bench: %s\n", error.c_str());
  }
  services.reset();  // the service lets go of the device before it is detached
  attach.device.reset();
  ::unlink(image.c_str());
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const bool device = argc > 2 && std::string(argv[1]) == "--device";
  const bool desktop = argc > 1 && std::string(argv[1]) == "--desktop";
  if (desktop) {
    ++argv;
    --argc;
  }
  const std::string folder = argc > 1 ? argv[1] : "/tmp";
  const uint64_t size = (argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024) << 20;
  fixtures::TempDir scratch;  // the configuration: logging off, no format
  ::setenv("XDG_CONFIG_HOME", scratch.path().c_str(), 1);
  {
    CSettings settings;
    settings.SetLogEnabled(false);
  }
  FormatWhenFinished = false;

  if (device) {
    const std::string node = argv[2];
    const uint64_t bytes = platform::MakeLinuxBackend(node)->DeviceSize();
    double best = 0;
    int messages = 0;
    for (int round = 0; round < 2 && bytes != 0; ++round) best = std::max(best, WipePass(node, bytes, messages));
    if (best == 0) return 1;
    // Whether this user could open the node itself, or the descriptor came
    // from the storage service.
    std::printf("one pass over %s (%llu MiB, %s): bytes/s %.0f (%d progress messages)\n", node.c_str(),
                static_cast<unsigned long long>(bytes >> 20),
                ::access(node.c_str(), W_OK) == 0 ? "opened directly" : "through the storage service", best,
                messages);
    return 0;
  }
  if (desktop) return Desktop(folder, size);

  const std::string image = folder + "/nullifex-wipe-bench-" + std::to_string(::getpid()) + ".img";
  const int fd = ::open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || ::posix_fallocate(fd, 0, static_cast<off_t>(size)) != 0) {
    std::fprintf(stderr, "wipe_bench: cannot make a %llu MiB image in %s\n",
                 static_cast<unsigned long long>(size >> 20), folder.c_str());
    if (fd >= 0) ::close(fd);
    ::unlink(image.c_str());
    return 1;
  }
  ::close(fd);

  double bestWipe = 0, bestDd = 0;
  int messages = 0;
  for (int round = 0; round < 2; ++round) {
    bestDd = std::max(bestDd, DdPass(image, size));
    bestWipe = std::max(bestWipe, WipePass(image, size, messages));
  }
  ::unlink(image.c_str());
  if (bestWipe == 0 || bestDd == 0) return 1;

  std::printf("one pass over %llu MiB: wipe thread %.1f MB/s, dd %.1f MB/s, ratio %.2f (%d progress messages)\n",
              static_cast<unsigned long long>(size >> 20), bestWipe / 1e6, bestDd / 1e6, bestWipe / bestDd,
              messages);
  return 0;
}
