#include "platform/linux/UDisks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform::udisks {
namespace {

constexpr const char kService[] = "org.freedesktop.UDisks2";
constexpr const char kManagerPath[] = "/org/freedesktop/UDisks2/Manager";
constexpr const char kManager[] = "org.freedesktop.UDisks2.Manager";
constexpr const char kBlock[] = "org.freedesktop.UDisks2.Block";
constexpr const char kFilesystem[] = "org.freedesktop.UDisks2.Filesystem";
constexpr const char kDrive[] = "org.freedesktop.UDisks2.Drive";
constexpr const char kJob[] = "org.freedesktop.UDisks2.Job";
// A person may take minutes over the password dialog: calls that can ask
// for authorisation wait for the answer however long it takes.
constexpr uint64_t kNoTimeout = UINT64_MAX;

struct Bus {
  sd_bus* bus = nullptr;
  ~Bus() {
    if (bus) sd_bus_flush_close_unref(bus);
  }
  // The system bus; DBUS_SYSTEM_BUS_ADDRESS names another one when set.
  bool Open() { return sd_bus_open_system(&bus) >= 0; }
};

struct Message {
  sd_bus_message* m = nullptr;
  ~Message() { sd_bus_message_unref(m); }
};

struct Error {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  ~Error() { sd_bus_error_free(&e); }
  std::string Text(int r) const {
    if (e.message) return e.message;
    return std::strerror(r < 0 ? -r : r);
  }
};

std::mutex g_hookMutex;
std::function<void()> g_hook;
bool g_hookRan = false;

void BeforeAuthorisation() {
  std::function<void()> hook;
  {
    std::lock_guard lock(g_hookMutex);
    if (g_hookRan || !g_hook) return;
    g_hookRan = true;
    hook = g_hook;
  }
  hook();
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// The service's object for a device node ("" when it has none).
std::string ObjectFor(sd_bus* bus, const std::string& node, std::string* error) {
  Error err;
  Message reply;
  int r = sd_bus_call_method(bus, kService, kManagerPath, kManager, "ResolveDevice", &err.e, &reply.m,
                             "a{sv}a{sv}", 1, "path", "s", node.c_str(), 0);
  if (r < 0) {
    SetError(error, err.Text(r));
    return {};
  }
  const char* path = nullptr;
  if (sd_bus_message_enter_container(reply.m, 'a', "o") > 0 && sd_bus_message_read(reply.m, "o", &path) > 0 &&
      path) {
    return path;
  }
  SetError(error, "the storage service does not know " + node);
  return {};
}

// A method call that may ask the person for authorisation.
int CallInteractive(sd_bus* bus, sd_bus_message* m, Error& err, Message& reply) {
  BeforeAuthorisation();
  (void)sd_bus_message_set_allow_interactive_authorization(m, 1);
  return sd_bus_call(bus, m, kNoTimeout, &err.e, &reply.m);
}

std::string StringProperty(sd_bus* bus, const std::string& path, const char* iface, const char* name) {
  char* value = nullptr;
  Error err;
  if (sd_bus_get_property_string(bus, kService, path.c_str(), iface, name, &err.e, &value) < 0 || !value) return {};
  std::string out(value);
  std::free(value);
  return out;
}

bool BoolProperty(sd_bus* bus, const std::string& path, const char* iface, const char* name) {
  int value = 0;
  Error err;
  if (sd_bus_get_property_trivial(bus, kService, path.c_str(), iface, name, &err.e, 'b', &value) < 0) return false;
  return value != 0;
}

std::string ObjectProperty(sd_bus* bus, const std::string& path, const char* iface, const char* name) {
  Error err;
  Message reply;
  if (sd_bus_get_property(bus, kService, path.c_str(), iface, name, &err.e, &reply.m, "o") < 0) return {};
  // The reply comes positioned inside the variant.
  const char* value = nullptr;
  if (sd_bus_message_read(reply.m, "o", &value) < 0 || !value) return {};
  return value;
}

bool StartsWith(const char* s, const char* prefix) { return s && std::strncmp(s, prefix, std::strlen(prefix)) == 0; }

// A running Block.Format: the reply, and the progress of the job the
// service made for it.
struct FormatRun {
  std::string block;
  const std::function<bool(uint32_t)>* percent = nullptr;
  std::string job;
  bool done = false;
  bool ok = false;
  bool cancelled = false;
  uint32_t last = UINT32_MAX;
  std::string error;
};

void CancelJob(sd_bus* bus, FormatRun& run) {
  if (run.cancelled || run.job.empty()) return;
  run.cancelled = true;
  (void)sd_bus_call_method_async(bus, nullptr, kService, run.job.c_str(), kJob, "Cancel", nullptr, nullptr,
                                 "a{sv}", 0);
}

void ShowProgress(sd_bus* bus, FormatRun& run, double progress) {
  if (!run.percent || !*run.percent || progress < 0 || progress > 1) return;
  const auto value = static_cast<uint32_t>(progress * 100.0);
  if (value == run.last) return;
  run.last = value;
  if (!(*run.percent)(value)) CancelJob(bus, run);
}

// Reads a job's a{sv} of properties: whether it works on our block device,
// and its progress when it has one.
void ReadJobProperties(sd_bus_message* m, bool& ours, double& progress, bool& progressValid,
                       const std::string& block) {
  if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return;
  while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read(m, "s", &key) < 0) return;
    if (std::strcmp(key, "Objects") == 0 && sd_bus_message_enter_container(m, 'v', "ao") > 0) {
      if (sd_bus_message_enter_container(m, 'a', "o") > 0) {
        const char* object = nullptr;
        while (sd_bus_message_read(m, "o", &object) > 0) {
          if (block == object) ours = true;
        }
        sd_bus_message_exit_container(m);
      }
      sd_bus_message_exit_container(m);
    } else if (std::strcmp(key, "Progress") == 0) {
      (void)sd_bus_message_read(m, "v", "d", &progress);
    } else if (std::strcmp(key, "ProgressValid") == 0) {
      int valid = 0;
      if (sd_bus_message_read(m, "v", "b", &valid) >= 0) progressValid = valid != 0;
    } else {
      sd_bus_message_skip(m, "v");
    }
    sd_bus_message_exit_container(m);
  }
  sd_bus_message_exit_container(m);
}

int OnJobAdded(sd_bus_message* m, void* data, sd_bus_error*) {
  auto& run = *static_cast<FormatRun*>(data);
  const char* path = nullptr;
  if (sd_bus_message_read(m, "o", &path) < 0 || !path) return 0;
  if (sd_bus_message_enter_container(m, 'a', "{sa{sv}}") <= 0) return 0;
  while (sd_bus_message_enter_container(m, 'e', "sa{sv}") > 0) {
    const char* iface = nullptr;
    if (sd_bus_message_read(m, "s", &iface) < 0) return 0;
    if (iface && std::strcmp(iface, kJob) == 0 && run.job.empty()) {
      bool ours = false, valid = false;
      double progress = 0;
      ReadJobProperties(m, ours, progress, valid, run.block);
      if (ours) {
        run.job = path;
        if (valid) ShowProgress(sd_bus_message_get_bus(m), run, progress);
      }
    } else {
      sd_bus_message_skip(m, "a{sv}");
    }
    sd_bus_message_exit_container(m);
  }
  return 0;
}

int OnJobChanged(sd_bus_message* m, void* data, sd_bus_error*) {
  auto& run = *static_cast<FormatRun*>(data);
  const char* path = sd_bus_message_get_path(m);
  const char* iface = nullptr;
  if (run.job.empty() || !path || run.job != path) return 0;
  if (sd_bus_message_read(m, "s", &iface) < 0 || !iface || std::strcmp(iface, kJob) != 0) return 0;
  bool ours = true, valid = true;
  double progress = -1;
  ReadJobProperties(m, ours, progress, valid, run.block);
  if (valid) ShowProgress(sd_bus_message_get_bus(m), run, progress);
  return 0;
}

int OnFormatReply(sd_bus_message* m, void* data, sd_bus_error*) {
  auto& run = *static_cast<FormatRun*>(data);
  run.done = true;
  if (sd_bus_message_is_method_error(m, nullptr)) {
    const sd_bus_error* e = sd_bus_message_get_error(m);
    run.error = e && e->message ? e->message : "the storage service could not format the drive";
    return 0;
  }
  run.ok = !run.cancelled;
  return 0;
}

}  // namespace

void SetBeforeAuthorisation(std::function<void()> hook) {
  std::lock_guard lock(g_hookMutex);
  g_hook = std::move(hook);
  g_hookRan = false;
}

bool OnlyThroughService(const std::string& path, bool forWrite) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
         ::faccessat(AT_FDCWD, path.c_str(), forWrite ? (R_OK | W_OK) : R_OK, AT_EACCESS) != 0;
}

bool Available() {
  Bus bus;
  if (!bus.Open()) return false;
  Error err;
  Message reply;
  int owned = 0;
  if (sd_bus_call_method(bus.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", &err.e, &reply.m, "s", kService) < 0 ||
      sd_bus_message_read(reply.m, "b", &owned) < 0) {
    return false;
  }
  if (owned) return true;
  // Not running yet, but the bus starts it on the first call.
  Message names;
  Error err2;
  if (sd_bus_call_method(bus.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "ListActivatableNames", &err2.e, &names.m, "") < 0) {
    return false;
  }
  if (sd_bus_message_enter_container(names.m, 'a', "s") <= 0) return false;
  const char* name = nullptr;
  while (sd_bus_message_read(names.m, "s", &name) > 0) {
    if (name && std::strcmp(name, kService) == 0) return true;
  }
  return false;
}

int OpenDevice(const std::string& node, bool write, int flags, std::string* error, bool* refused) {
  if (refused) *refused = false;
  if (!Available()) {
    SetError(error, "the storage service is not on the system bus");
    return -1;
  }
  Bus bus;
  if (!bus.Open()) return -1;
  const std::string object = ObjectFor(bus.bus, node, error);
  if (object.empty()) return -1;
  Message call;
  if (sd_bus_message_new_method_call(bus.bus, &call.m, kService, object.c_str(), kBlock, "OpenDevice") < 0 ||
      sd_bus_message_append(call.m, "sa{sv}", write ? "rw" : "r", 1, "flags", "i", flags) < 0) {
    return -1;
  }
  Error err;
  Message reply;
  const int r = CallInteractive(bus.bus, call.m, err, reply);
  if (r < 0) {
    SetError(error, err.Text(r));
    if (refused) *refused = StartsWith(err.e.name, "org.freedesktop.UDisks2.Error.NotAuthorized");
    return -1;
  }
  int fd = -1;
  if (sd_bus_message_read(reply.m, "h", &fd) < 0 || fd < 0) return -1;
  // The message owns the descriptor it carried.
  return ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

UnmountResult Unmount(const std::string& node, std::string* error) {
  if (!Available()) {
    SetError(error, "the storage service is not on the system bus");
    return UnmountResult::kFailed;
  }
  Bus bus;
  if (!bus.Open()) return UnmountResult::kFailed;
  const std::string object = ObjectFor(bus.bus, node, error);
  if (object.empty()) return UnmountResult::kFailed;
  Message call;
  if (sd_bus_message_new_method_call(bus.bus, &call.m, kService, object.c_str(), kFilesystem, "Unmount") < 0 ||
      sd_bus_message_append(call.m, "a{sv}", 0) < 0) {
    return UnmountResult::kFailed;
  }
  Error err;
  Message reply;
  const int r = CallInteractive(bus.bus, call.m, err, reply);
  if (r >= 0) return UnmountResult::kDone;
  SetError(error, err.Text(r));
  if (StartsWith(err.e.name, "org.freedesktop.UDisks2.Error.NotMounted")) return UnmountResult::kDone;
  if (StartsWith(err.e.name, "org.freedesktop.UDisks2.Error.DeviceBusy")) return UnmountResult::kBusy;
  if (StartsWith(err.e.name, "org.freedesktop.UDisks2.Error.NotAuthorized")) return UnmountResult::kDenied;
  return UnmountResult::kFailed;
}

bool MkfsArgsSupported() {
  Bus bus;
  if (!bus.Open()) return false;
  const std::string version = StringProperty(bus.bus, kManagerPath, kManager, "Version");
  unsigned major = 0, minor = 0;
  if (std::sscanf(version.c_str(), "%u.%u", &major, &minor) != 2) return false;
  return major > 2 || (major == 2 && minor >= 10);
}

bool Format(const std::string& node, const std::string& type, const std::string& label,
            const std::vector<std::string>& mkfsArgs, const std::function<bool(uint32_t)>& percent,
            std::string* error) {
  if (!Available()) {
    SetError(error, "the storage service is not on the system bus");
    return false;
  }
  Bus bus;
  if (!bus.Open()) return false;
  FormatRun run;
  run.block = ObjectFor(bus.bus, node, error);
  run.percent = &percent;
  if (run.block.empty()) return false;

  sd_bus_slot* added = nullptr;
  sd_bus_slot* changed = nullptr;
  sd_bus_slot* pending = nullptr;
  (void)sd_bus_match_signal(bus.bus, &added, kService, nullptr, "org.freedesktop.DBus.ObjectManager",
                            "InterfacesAdded", OnJobAdded, &run);
  (void)sd_bus_match_signal(bus.bus, &changed, kService, nullptr, "org.freedesktop.DBus.Properties",
                            "PropertiesChanged", OnJobChanged, &run);

  Message call;
  int r = sd_bus_message_new_method_call(bus.bus, &call.m, kService, run.block.c_str(), kBlock, "Format");
  if (r >= 0) r = sd_bus_message_append(call.m, "s", type.c_str());
  if (r >= 0) r = sd_bus_message_open_container(call.m, 'a', "{sv}");
  if (r >= 0) r = sd_bus_message_append(call.m, "{sv}", "label", "s", label.c_str());
  if (r >= 0 && !mkfsArgs.empty()) {
    r = sd_bus_message_open_container(call.m, 'e', "sv");
    if (r >= 0) r = sd_bus_message_append(call.m, "s", "mkfs-args");
    if (r >= 0) r = sd_bus_message_open_container(call.m, 'v', "as");
    if (r >= 0) r = sd_bus_message_open_container(call.m, 'a', "s");
    for (const auto& a : mkfsArgs) {
      if (r >= 0) r = sd_bus_message_append(call.m, "s", a.c_str());
    }
    for (int i = 0; i < 3 && r >= 0; ++i) r = sd_bus_message_close_container(call.m);
  }
  if (r >= 0) r = sd_bus_message_close_container(call.m);
  if (r >= 0) {
    BeforeAuthorisation();
    (void)sd_bus_message_set_allow_interactive_authorization(call.m, 1);
    r = sd_bus_call_async(bus.bus, &pending, call.m, OnFormatReply, &run, kNoTimeout);
  }
  if (r < 0) run.error = std::strerror(-r);
  while (r >= 0 && !run.done) {
    r = sd_bus_process(bus.bus, nullptr);
    if (r > 0) continue;
    if (r == 0) r = sd_bus_wait(bus.bus, kNoTimeout);
    if (r == -EINTR) r = 0;
    if (r < 0) run.error = std::strerror(-r);
  }
  sd_bus_slot_unref(pending);
  sd_bus_slot_unref(changed);
  sd_bus_slot_unref(added);
  if (!run.ok) SetError(error, run.cancelled && run.error.empty() ? "the format was cancelled" : run.error);
  return run.ok;
}

DriveInfo Describe(const std::string& node) {
  DriveInfo info;
  if (!Available()) return info;
  Bus bus;
  if (!bus.Open()) return info;
  const std::string block = ObjectFor(bus.bus, node, nullptr);
  if (block.empty()) return info;
  info.known = true;
  info.system = BoolProperty(bus.bus, block, kBlock, "HintSystem");
  info.readOnly = BoolProperty(bus.bus, block, kBlock, "ReadOnly");
  info.idType = StringProperty(bus.bus, block, kBlock, "IdType");
  info.idVersion = StringProperty(bus.bus, block, kBlock, "IdVersion");
  info.idLabel = StringProperty(bus.bus, block, kBlock, "IdLabel");
  const std::string drive = ObjectProperty(bus.bus, block, kBlock, "Drive");
  if (!drive.empty() && drive != "/") {
    info.vendor = StringProperty(bus.bus, drive, kDrive, "Vendor");
    info.model = StringProperty(bus.bus, drive, kDrive, "Model");
  }
  return info;
}

}  // namespace platform::udisks
