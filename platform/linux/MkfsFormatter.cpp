// The formatter: mkfs.fat for FAT12/16/32, mkntfs for NTFS, each run as a
// child process from an argument list with its output read back line by line.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Formatter.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/UDisks.h"

extern char** environ;

namespace platform {
namespace {

// The tools live in sbin, which an ordinary user's PATH often lacks.
std::string FindTool(const char* name) {
  std::vector<std::string> dirs;
  if (const char* path = std::getenv("PATH")) {
    std::string all(path);
    size_t start = 0;
    while (start <= all.size()) {
      size_t end = all.find(':', start);
      if (end == std::string::npos) end = all.size();
      if (end > start) dirs.push_back(all.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const char* d : {"/usr/sbin", "/sbin", "/usr/local/sbin", "/usr/bin", "/bin"}) dirs.emplace_back(d);
  for (const auto& d : dirs) {
    std::string candidate = d + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

const char* ToolFor(FormatKind kind) { return kind == FormatKind::kNtfs ? "mkntfs" : "mkfs.fat"; }

uint64_t TargetSize(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  // A user who may not open the device still learns its size from sysfs;
  // the FAT type's arguments depend on it.
  if (fd < 0) return SysfsSize(path);
  uint64_t size = 0;
  struct stat st {};
  if (fstat(fd, &st) == 0) {
    if (S_ISBLK(st.st_mode)) {
      if (ioctl(fd, BLKGETSIZE64, &size) != 0) size = 0;
    } else {
      size = static_cast<uint64_t>(st.st_size);
    }
  }
  close(fd);
  return size;
}

// Splits the tool's output into lines the way a terminal would show them:
// CR and LF end a line, a backspace takes back the character before it (mkntfs
// redraws its percentage with backspaces). Every "NN%" seen is a percentage.
class OutputReader {
 public:
  explicit OutputReader(FormatObserver& observer) : observer_(observer) {}

  // False once the observer asked to abandon the format.
  bool Feed(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      const char c = data[i];
      if (c == '\n' || c == '\r') {
        EmitLine();
      } else if (c == '\b') {
        if (!line_.empty()) line_.pop_back();
      } else {
        line_.push_back(c);
        if (c == '%') ReadPercent();
      }
    }
    return goOn_;
  }
  bool Finish() {
    EmitLine();
    return goOn_;
  }

 private:
  void EmitLine() {
    size_t first = line_.find_first_not_of(" \t");
    if (first != std::string::npos && goOn_) goOn_ = observer_.Text(line_.substr(first));
    line_.clear();
  }
  void ReadPercent() {
    size_t end = line_.size() - 1;  // the '%'
    size_t begin = end;
    while (begin > 0 && line_[begin - 1] >= '0' && line_[begin - 1] <= '9' && end - begin < 3) --begin;
    if (begin == end) return;
    uint32_t value = static_cast<uint32_t>(std::strtoul(line_.substr(begin, end - begin).c_str(), nullptr, 10));
    if (value > 100 || value == last_) return;
    last_ = value;
    if (goOn_) goOn_ = observer_.Percent(value);
  }

  FormatObserver& observer_;
  std::string line_;
  uint32_t last_ = UINT32_MAX;
  bool goOn_ = true;
};

class MkfsFormatter : public Formatter {
 public:
  bool Available(FormatKind kind) const override { return !FindTool(ToolFor(kind)).empty(); }

  void Format(const FormatRequest& request, FormatObserver& observer) override {
    const std::string tool = FindTool(ToolFor(request.kind));
    if (tool.empty()) {
      observer.Text(std::string(ToolFor(request.kind)) + " is not installed");
      observer.Done(false);
      return;
    }
    // A block device the user may not write: the storage service formats it,
    // with the person's authorisation. Image files are always formatted here.
    if (udisks::OnlyThroughService(request.devicePath, true)) return FormatThroughService(request, observer);
    // The Windows format library dismounts the volume itself; a mounted
    // volume here would keep its cached view of the old file system.
    if (!request.mountPoint.empty() && umount2(request.mountPoint.c_str(), 0) != 0 && errno != EINVAL) {
      observer.Text("cannot unmount " + request.mountPoint + ": " + std::strerror(errno));
      observer.Done(false);
      return;
    }

    const std::string label = FitLabel(request.kind, request.label);
    std::vector<std::string> args{tool};
    if (request.kind == FormatKind::kNtfs) {
      // -F: the target may be an image file or a whole device. Without -Q
      // mkntfs zeroes the volume first: the full format.
      args.push_back("-F");
      if (request.quick) args.push_back("-Q");
      if (!label.empty()) args.insert(args.end(), {"-L", label});
    } else {
      // -I: the drive is a logical volume chosen by the user, which may be a
      // whole device without a partition table; that is intended here.
      args.insert(args.end(), {"-I", "-F"});
      const std::vector<std::string> fat = FatArgs(request);
      args.insert(args.end(), fat.begin(), fat.end());
      if (!label.empty()) args.insert(args.end(), {"-n", label});
    }
    args.push_back(request.devicePath);

    const bool ok = Run(args, observer);
    observer.Done(ok);
  }

 private:
  // The FAT type, and what the size needs with it: mkfs.fat's own cluster
  // size for FAT16 leaves too few clusters below 16 MiB and it refuses;
  // one-sector clusters give a valid FAT16 there, as the Windows library's
  // default does.
  static std::vector<std::string> FatArgs(const FormatRequest& request) {
    std::vector<std::string> args{request.kind == FormatKind::kFat12   ? "12"
                                  : request.kind == FormatKind::kFat16 ? "16"
                                                                       : "32"};
    if (request.kind == FormatKind::kFat16 && TargetSize(request.devicePath) < (16ull << 20)) {
      args.insert(args.end(), {"-s", "1"});
    }
    return args;
  }

  static void FormatThroughService(const FormatRequest& request, FormatObserver& observer) {
    std::string error;
    if (!request.mountPoint.empty()) {
      const udisks::UnmountResult unmounted = udisks::Unmount(request.devicePath, &error);
      if (unmounted != udisks::UnmountResult::kDone) {
        observer.Text("cannot unmount " + request.mountPoint + ": " + error);
        observer.Done(false);
        return;
      }
    }
    // The service's mkntfs is always the quick one; the passes before it
    // have written every sector already.
    std::vector<std::string> mkfsArgs;
    // Older versions of the service take no arguments for the tool: mkfs.fat
    // then picks the FAT type by the size, as it does with no -F.
    if (request.kind != FormatKind::kNtfs && udisks::MkfsArgsSupported()) {
      mkfsArgs = FatArgs(request);
      mkfsArgs.insert(mkfsArgs.begin(), "-F");
    }
    bool goOn = true;
    const bool ok = udisks::Format(
        request.devicePath, request.kind == FormatKind::kNtfs ? "ntfs" : "vfat", FitLabel(request.kind, request.label),
        mkfsArgs, [&](uint32_t percent) { return goOn = observer.Percent(percent); }, &error);
    if (!ok && goOn && !error.empty()) observer.Text(error);
    observer.Done(ok && goOn);
  }

  static bool Run(const std::vector<std::string>& args, FormatObserver& observer) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
      observer.Text(std::string("cannot start the formatter: ") + std::strerror(errno));
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group, so abandoning the format stops the whole tool.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    // Untranslated messages, so what the tool prints is the same everywhere.
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
      if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "LANG=", 5) != 0) env.emplace_back(*e);
    }
    env.emplace_back("LC_ALL=C");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pipeFds[1]);
    if (spawnError != 0) {
      close(pipeFds[0]);
      observer.Text("cannot start " + args[0] + ": " + std::strerror(spawnError));
      return false;
    }

    OutputReader reader(observer);
    bool abandoned = false;
    char buffer[4096];
    for (;;) {
      ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      if (!reader.Feed(buffer, static_cast<size_t>(got)) && !abandoned) {
        abandoned = true;
        kill(-pid, SIGTERM);
      }
    }
    if (!reader.Finish()) abandoned = true;
    close(pipeFds[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return false;
    }
    // mkfs.fat(8) and mkntfs(8): exit status 0 on success; any other status
    // (1 for an error, 2 or more for bad usage) or a signal is a failure.
    if (abandoned) return false;
    if (!WIFEXITED(status)) {
      observer.Text(args[0] + " was stopped by signal " + std::to_string(WTERMSIG(status)));
      return false;
    }
    return WEXITSTATUS(status) == 0;
  }
};

}  // namespace

Formatter& SystemFormatter() {
  static MkfsFormatter mkfs;
  return mkfs;
}

}  // namespace platform
