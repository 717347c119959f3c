#pragma once
// An NTFS image of the test's own mounted through FUSE by ntfs-3g, for the
// leftovers only a file system driver makes (folders, deletions, renames).
// ntfs-3g runs in the foreground as a child of the test, so unmounting ends
// with its last write on the image: the test waits for that process, by its
// own id, before it reads the image.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/fixtures/Fixtures.h"

extern char** environ;

namespace verifytest {

class NtfsMount {
 public:
  NtfsMount(const std::string& image, const std::string& mountPoint) : dir_(mountPoint) {
    const char* argv[] = {"ntfs-3g", "-o", "no_detach", image.c_str(), mountPoint.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid_, "ntfs-3g", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      pid_ = -1;
      error_ = "ntfs-3g could not be started";
      return;
    }
    // Mounted once the folder lies on another device than its parent.
    for (int i = 0; i < 200 && !mounted_; ++i) {
      struct stat self {}, parent {};
      if (stat(dir_.c_str(), &self) == 0 && stat((dir_ + "/..").c_str(), &parent) == 0 &&
          self.st_dev != parent.st_dev) {
        mounted_ = true;
        break;
      }
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        error_ = "ntfs-3g ended without mounting (FUSE needs root and /dev/fuse)";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!mounted_) error_ = "ntfs-3g did not mount within 10 s";
  }
  ~NtfsMount() { (void)Unmount(); }
  NtfsMount(const NtfsMount&) = delete;
  NtfsMount& operator=(const NtfsMount&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Unmounts and waits for ntfs-3g to finish writing the image.
  bool Unmount() {
    if (pid_ <= 0) return true;
    if (mounted_) (void)fixtures::RunTool({"umount", dir_});
    mounted_ = false;
    for (int i = 0; i < 200; ++i) {
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGTERM);
    (void)waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return false;
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace verifytest
