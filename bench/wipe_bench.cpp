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
// With --device, one pass over a block device the caller made for it (a loop
// device on a scratch image), best of two, with no dd beside it: run once as
// root, which opens the node itself, and once as a user, whose descriptor
// comes from the storage service, the two figures compare the two ways in.
//
//   wipe_bench --device NODE
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/linux/LinuxBackend.h"
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

double DdPass(const std::string& image, uint64_t size) {
  const auto start = Clock::now();
  const auto r = fixtures::RunTool({"dd", "if=/dev/zero", "of=" + image, "bs=1M",
                                    "count=" + std::to_string(size >> 20), "oflag=direct", "conv=notrunc"});
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!r.ok()) {
    std::fprintf(stderr, "wipe_bench: dd failed: %s\n", r.output.c_str());
    return 0;
  }
  return static_cast<double>(size) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const bool device = argc > 2 && std::string(argv[1]) == "--device";
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
    std::printf("one pass over %s (%llu MiB): wipe thread %.1f MB/s (%d progress messages)\n", node.c_str(),
                static_cast<unsigned long long>(bytes >> 20), best / 1e6, messages);
    return 0;
  }

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
