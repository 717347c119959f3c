// Full verification speed beside dd reading the same image with direct I/O
// in the same run, on a 1 GiB zero-filled FAT32 image and a 1 GiB NTFS
// image; then the peak memory of full verifications of 64 GiB sparse FAT32
// and NTFS images. Images go to the folder given as the first argument
// (default: the current one), which must be on a disk file system that takes
// O_DIRECT.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/LinuxBackend.h"
#include "verify/DriveVerifyThread.h"

extern char** environ;

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs a tool from an argument list; its exit status (127: not started).
int Run(const std::vector<std::string>& args, bool quiet = true) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return 127;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return 127;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool WriteZeros(const std::string& path, uint64_t bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<char> block(1 << 20, 0);
  for (uint64_t done = 0; done < bytes; done += block.size()) {
    if (std::fwrite(block.data(), 1, block.size(), f) != block.size()) {
      std::fclose(f);
      return false;
    }
  }
  const bool ok = std::fflush(f) == 0 && fsync(fileno(f)) == 0;
  return std::fclose(f) == 0 && ok;
}

struct Verified {
  double seconds = 0;
  uint32_t dirty = 0;
  uint32_t errors = 0;
  bool ok = false;
};

Verified VerifyImage(const std::string& path) {
  Verified v;
  const auto start = std::chrono::steady_clock::now();
  DriveVerifyThread thread(true, false, 'E', nullptr, [path](char) {
    platform::LinuxBackendOptions options;
    options.readOnly = true;
    return platform::MakeLinuxBackend(path, options);
  });
  if (!thread.Opened()) return v;
  thread.Resume();
  thread.WaitFor();
  v.seconds = Seconds(std::chrono::steady_clock::now() - start);
  v.dirty = thread.DirtyCount();
  v.errors = thread.ErrorCount();
  v.ok = true;
  return v;
}

double DdSeconds(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  if (Run({"dd", "if=" + path, "of=/dev/null", "bs=1M", "iflag=direct"}) != 0) return -1;
  return Seconds(std::chrono::steady_clock::now() - start);
}

bool Compare(const char* name, const std::string& path) {
  // dd first and last around the verification, the better of the two kept,
  // so a passing disturbance on the machine does not favour either side.
  const double dd1 = DdSeconds(path);
  const Verified v = VerifyImage(path);
  const double dd2 = DdSeconds(path);
  if (dd1 < 0 || dd2 < 0 || !v.ok) {
    std::printf("%s: could not be measured\n", name);
    return false;
  }
  const double dd = std::min(dd1, dd2);
  const double mib = 1024.0;
  std::printf("%-28s verify %6.2f s (%7.1f MiB/s, %u dirty, %u errors)   dd %6.2f s (%7.1f MiB/s)   ratio %.2f\n",
              name, v.seconds, mib / v.seconds, v.dirty, v.errors, dd, mib / dd, dd / v.seconds);
  return true;
}

// The verification runs in a child of its own, whose peak resident size the
// kernel reports when it ends.
bool PeakMemory(const char* name, const std::string& image, const std::vector<std::string>& format) {
  std::remove(image.c_str());
  if (Run({"truncate", "-s", "64G", image}) != 0 || Run(format) != 0) {
    std::printf("%s: image could not be made\n", name);
    std::remove(image.c_str());
    return false;
  }
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    const Verified v = VerifyImage(image);
    std::printf("%-28s verify %6.2f s (%u dirty, %u errors)\n", name, v.seconds, v.dirty, v.errors);
    std::fflush(stdout);
    _exit(v.ok ? 0 : 1);
  }
  int st = 0;
  struct rusage usage {};
  const bool ok = child > 0 && wait4(child, &st, 0, &usage) == child && WIFEXITED(st) && WEXITSTATUS(st) == 0;
  if (ok) {
    std::printf("%-28s peak memory of the full verify: %.1f MiB\n", name, usage.ru_maxrss / 1024.0);
  } else {
    std::printf("%s: verify failed\n", name);
  }
  std::remove(image.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  // Settings (the log switch) from a folder of the benchmark's own.
  const std::string config = folder + "/verify-bench-config";
  Run({"mkdir", "-p", config});
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);

  const uint64_t gib = 1ull << 30;
  const std::string fat = folder + "/verify-bench-fat32.img";
  const std::string ntfs = folder + "/verify-bench-ntfs.img";
  const std::string sparse = folder + "/verify-bench-64g.img";
  int status = 0;

  if (WriteZeros(fat, gib) && Run({"mkfs.fat", "-F", "32", "-n", "BENCH", fat}) == 0) {
    if (!Compare("FAT32, 1 GiB, zero-filled", fat)) status = 1;
  } else {
    std::printf("FAT32 image could not be made\n");
    status = 1;
  }
  if (WriteZeros(ntfs, gib) && Run({"mkntfs", "-F", "-Q", "-L", "BENCH", ntfs}) == 0) {
    if (!Compare("NTFS, 1 GiB, zero-filled", ntfs)) status = 1;
  } else {
    std::printf("NTFS image could not be made\n");
    status = 1;
  }
  std::remove(fat.c_str());
  std::remove(ntfs.c_str());

  // Peak memory of full verifications of a 64 GiB sparse FAT32 and NTFS
  // volume: NTFS's whole $MFT is judged, a buffer at a time, never held.
  if (!PeakMemory("FAT32, 64 GiB, sparse", sparse, {"mkfs.fat", "-F", "32", "-n", "BIG", sparse})) status = 1;
  if (!PeakMemory("NTFS, 64 GiB, sparse", sparse, {"mkntfs", "-F", "-Q", "-L", "BIG", sparse})) status = 1;
  Run({"rm", "-rf", config});
  return status;
}
