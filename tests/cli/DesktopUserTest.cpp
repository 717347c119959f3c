// nullifex-cli run by an unprivileged user on a stick: a loop device on the
// test's own random-filled image, reached only through the real storage
// service (udisksd) with polkit deciding by the test's own rule, on a
// private system bus. The user cannot open the device node, so everything
// the program does to it goes through the service.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/fixtures/DesktopServices.h"
#include "tests/fixtures/Fixtures.h"

namespace {

constexpr uint64_t kSize = 16ull << 20;
constexpr uint32_t kSeed = 1515;
const char kUser[] = "nfx-desktop-test";
const char kSecret[] = "NULLIFEX-DESKTOP-SECRET-7f3a";

// polkit's answer to the test user for every action of the storage
// service: "YES", "NO", or "AUTH_SELF" (the user's own password).
std::string Rule(const std::string& result) {
  return std::string("polkit.addRule(function(action, subject) {\n"
                     "  if (action.id.indexOf(\"org.freedesktop.udisks2.\") == 0 && subject.user == \"") +
         kUser + "\")\n    return polkit.Result." + result + ";\n});\n";
}

bool Mounted(const std::string& mountPoint) {
  return fixtures::ReadFile("/proc/self/mountinfo").find(" " + mountPoint + " ") != std::string::npos;
}

// Runs `argv` on a terminal of its own and types `answer` each time its
// output has shown `cue` and then stayed quiet for a while (a prompt that
// flushed what came early). Returns everything it wrote; the run is killed
// after two minutes.
std::string OnTerminal(const std::vector<std::string>& argv, const std::string& cue, const std::string& answer,
                       int& exitCode) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  std::string output;
  if (pid < 0) return "forkpty failed";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  size_t answeredAt = std::string::npos;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    const int ready = ::poll(&p, 1, 1000);
    if (ready > 0) {
      char buf[4096];
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;  // EIO: the terminal's last user is gone
      output.append(buf, static_cast<size_t>(n));
      continue;
    }
    const size_t at = output.rfind(cue);
    if (ready == 0 && at != std::string::npos && (answeredAt == std::string::npos || answeredAt == at)) {
      (void)!::write(master, answer.data(), answer.size());
      answeredAt = at;
    }
  }
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    output += "\n[killed after two minutes]";
  }
  ::close(master);
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

class DesktopUser : public ::testing::Test {
 protected:
  // A stick holding random bytes, the user's drive map naming it E:, and
  // the services with a rule that answers the user with `result`.
  void Prepare(const std::string& result, uint64_t size = kSize, const std::string& type = "removable") {
    std::string error;
    ASSERT_TRUE(fixtures::EnsureTestUser(kUser, user, error)) << error;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    image = dir.File("stick.img");
    ASSERT_TRUE(fixtures::MakeZeroImage(image, size));
    ASSERT_TRUE(fixtures::FillRandom(image, 0, size, kSeed));
    original = fixtures::ReadFile(image);
    ASSERT_EQ(original.size(), size);

    attach = fixtures::LoopDevice::AttachImage(image, false);
    if (!attach.device && attach.unavailable) GTEST_SKIP() << attach.message;
    ASSERT_TRUE(attach.device) << attach.message;
    auto start = fixtures::DesktopServices::Launch(Rule(result));
    if (!start.services && start.unavailable) GTEST_SKIP() << start.message;
    ASSERT_TRUE(start.services) << start.message;
    services = std::move(start.services);
    ASSERT_TRUE(services->Settle(node(), error)) << error;

    // The user's own folders, and a copy of the program it may run
    // wherever the build tree lives.
    home = dir.File("home");
    std::filesystem::create_directories(home + "/config/Ostrand");
    std::filesystem::create_directories(home + "/data");
    ASSERT_TRUE(fixtures::WriteFile(home + "/config/Ostrand/drives.conf", "E: " + type + " " + node() + "\n"));
    ASSERT_TRUE(fixtures::RunTool({"chown", "-R", std::to_string(user.uid) + ":" + std::to_string(user.gid), home})
                    .ok());
    cli = dir.File("nullifex-cli");
    std::filesystem::copy_file(NFX_CLI_PATH, cli);
    ASSERT_EQ(::chmod(cli.c_str(), 0755), 0);
    ASSERT_NE(::access(node().c_str(), R_OK), -1);  // root reads it; the user must not
    const auto probe = AsUser({"sh", "-c", "exec 3<" + node()}, services->busAddress());
    ASSERT_NE(probe.exitCode, 0) << "the test user can open " << node() << " without the service";
  }

  const std::string& node() const { return attach.device->node(); }

  fixtures::ToolResult AsUser(std::vector<std::string> command, const std::string& bus) {
    return fixtures::RunTool(UserArgv(std::move(command), bus));
  }
  std::vector<std::string> UserArgv(std::vector<std::string> command, const std::string& bus) const {
    std::vector<std::string> argv{"setpriv",
                                  "--reuid=" + std::to_string(user.uid),
                                  "--regid=" + std::to_string(user.gid),
                                  "--clear-groups",
                                  "env",
                                  "-i",
                                  "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                  "HOME=" + home,
                                  "XDG_CONFIG_HOME=" + home + "/config",
                                  "XDG_DATA_HOME=" + home + "/data",
                                  "DBUS_SYSTEM_BUS_ADDRESS=" + bus};
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
  }
  fixtures::ToolResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), cli);
    return AsUser(args, services->busAddress());
  }

  // 4 KiB blocks of the image that still hold what they held at the start.
  int OldBlocks() const {
    const std::string now = fixtures::ReadFile(image);
    int same = 0;
    for (uint64_t at = 0; at + 4096 <= kSize; at += 4096) {
      if (now.compare(at, 4096, original, at, 4096) == 0) ++same;
    }
    return same;
  }

  fixtures::TempDir dir;
  fixtures::TestUser user;
  std::string image, original, home, cli;
  fixtures::LoopDevice::Attach attach;
  std::unique_ptr<fixtures::DesktopServices> services;  // stopped before the loop device goes
};

// The desktop case: the stick carries a file system the desktop mounted,
// with a file on it. Busy, it stops the wipe before anything is written;
// free, the wipe unmounts it, overwrites every sector and formats with the
// label, all through the service; verify and view then read it as the user.
TEST_F(DesktopUser, WipesFormatsVerifiesAndViewsAStickThroughTheService) {
  Prepare("YES");
  if (IsSkipped() || HasFatalFailure()) return;
  ASSERT_GT(OldBlocks(), 4000);

  // ext2: a file system every kernel here can mount (some lack vfat). No
  // discard, which would zero the whole stick before the wipe does.
  ASSERT_TRUE(fixtures::RunTool({"mkfs.ext2", "-q", "-F", "-E", "nodiscard", "-L", "OLDSTICK", node()}).ok());
  const std::string mountPoint = dir.File("media");
  std::filesystem::create_directories(mountPoint);
  ASSERT_TRUE(fixtures::RunTool({"mount", node(), mountPoint}).ok());
  ASSERT_TRUE(fixtures::WriteFile(mountPoint + "/SECRET.TXT", std::string(8192, 'x') + kSecret));
  ::sync();
  const int blocksBefore = OldBlocks();
  ASSERT_GT(blocksBefore, 3000);

  {
    // A file open on the volume: the user's unmount is refused as busy.
    const int held = ::open((mountPoint + "/SECRET.TXT").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    const auto busy = Cli({"wipe", "E:", "--yes", "--label", "WIPED"});
    ::close(held);
    EXPECT_EQ(busy.exitCode, 2) << busy.output;
    EXPECT_NE(busy.output.find("Format Error (error 20003): The formatting process did not complete successfully."),
              std::string::npos)
        << busy.output;
    EXPECT_TRUE(Mounted(mountPoint));
    EXPECT_EQ(OldBlocks(), blocksBefore) << "the refused wipe wrote to the stick";
  }

  // Without the format, which unmounts for itself: the wipe's own unmount
  // is what takes the file system away before the passes.
  const auto wipe = Cli({"wipe", "E:", "--yes", "--no-format"});
  const bool stillMounted = Mounted(mountPoint);
  if (stillMounted) (void)::umount2(mountPoint.c_str(), MNT_DETACH);
  ASSERT_EQ(wipe.exitCode, 0) << wipe.output;
  EXPECT_NE(wipe.output.find("Finished. Your drive is now clean."), std::string::npos) << wipe.output;
  EXPECT_FALSE(stillMounted) << "the wipe ran under a mounted file system";
  EXPECT_EQ(OldBlocks(), 0);
  EXPECT_EQ(fixtures::ReadFile(image).find(kSecret), std::string::npos);

  const auto formatted = Cli({"wipe", "E:", "--yes", "--label", "WIPED"});
  ASSERT_EQ(formatted.exitCode, 0) << formatted.output;
  const auto label = fixtures::RunTool({"blkid", "-p", "-o", "value", "-s", "LABEL", image});
  EXPECT_EQ(label.output, "WIPED\n");

  // The drive list reads label and file system the user may not read
  // from the device, as the service found them.
  const auto drives = Cli({"drives", "E:"});
  EXPECT_EQ(drives.exitCode, 0) << drives.output;
  EXPECT_NE(drives.output.find("E:     removable  WIPED        FAT          16,777,216"), std::string::npos)
      << drives.output;

  const auto verify = Cli({"verify", "E:"});
  EXPECT_EQ(verify.exitCode, 0) << verify.output;
  EXPECT_NE(verify.output.find("Dirty Sectors:  0\n"), std::string::npos) << verify.output;
  EXPECT_NE(verify.output.find("Progress:       100% (Finished)"), std::string::npos) << verify.output;

  const auto view = Cli({"view", "E:", "0"});
  EXPECT_EQ(view.exitCode, 0) << view.output;
  EXPECT_NE(view.output.find("View Sectors on Drive E:  Viewing Sector: 0 of 32,767"), std::string::npos)
      << view.output;
  EXPECT_NE(view.output.find("WIPED"), std::string::npos) << view.output;
}

// Refused by polkit, or no service on the bus at all: access denied at
// once, and the stick is untouched.
TEST_F(DesktopUser, RefusedOrWithoutTheServiceTheWipeIsAccessDeniedAndWritesNothing) {
  Prepare("NO");
  if (IsSkipped() || HasFatalFailure()) return;

  const auto refused = Cli({"wipe", "E:", "--yes"});
  EXPECT_EQ(refused.exitCode, 2) << refused.output;
  EXPECT_NE(refused.output.find("(error 5)"), std::string::npos) << refused.output;

  const auto started = std::chrono::steady_clock::now();
  const auto noService =
      AsUser({cli, "wipe", "E:", "--yes"}, "unix:path=" + dir.File("no-bus-here.sock"));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(noService.exitCode, 2) << noService.output;
  EXPECT_NE(noService.output.find("(error 5)"), std::string::npos) << noService.output;
  EXPECT_LT(seconds, 10.0);

  EXPECT_EQ(fixtures::ReadFile(image), original);
}

// The service's format fails (no NTFS fits on half a mebibyte): the
// formatter's attempts run out as they do for root, and the wipe ends with
// the format error after its pass.
TEST_F(DesktopUser, AFormatTheServiceCannotMakeEndsWithTheFormatError) {
  Prepare("YES", 512 * 1024, "fixed");
  if (IsSkipped() || HasFatalFailure()) return;
  const auto run = Cli({"wipe", "E:", "--yes", "--fs", "ntfs"});
  EXPECT_EQ(run.exitCode, 2) << run.output;
  // The service's words, which carry the tool's, go to the output.
  EXPECT_NE(run.output.find("Device is too small"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Format Error (error 20003): The formatting process did not complete successfully."),
            std::string::npos)
      << run.output;
  EXPECT_EQ(fixtures::FirstByteNotEqual(image, 0, 512 * 1024, 0x00), -1);  // the pass itself was done
}

// On a terminal with no desktop agent, nullifex-cli starts polkit's text
// agent and the question comes there; a wrong password is a refusal: access
// denied, nothing written.
TEST_F(DesktopUser, OnATerminalTheTextAgentAsksAndAWrongPasswordIsAccessDenied) {
  Prepare("AUTH_SELF");
  if (IsSkipped() || HasFatalFailure()) return;
  int exitCode = -1;
  const std::string output = OnTerminal(UserArgv({cli, "wipe", "E:", "--yes"}, services->busAddress()), "Password:",
                                        "not-the-password\n", exitCode);
  EXPECT_NE(output.find("AUTHENTICATING FOR org.freedesktop.udisks2.open-device"), std::string::npos) << output;
  EXPECT_EQ(exitCode, 2) << output;
  EXPECT_NE(output.find("(error 5)"), std::string::npos) << output;
  EXPECT_EQ(fixtures::ReadFile(image), original);
}

}  // namespace
