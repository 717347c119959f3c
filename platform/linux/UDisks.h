#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The system's storage service (udisks2) on the system bus, for a user who
// may not open a device node or run the formatter on it. The service asks
// polkit, which shows the desktop's own authorisation dialog, so every call
// that needs authorisation waits for the person's answer: none has a short
// time-out. Each call uses a connection of its own, so any thread may call.
// Never used for image files: only for block device nodes.
namespace platform::udisks {

// A block device node whose permission bits keep this process from opening
// it so: only the service can give it. Image files never are.
bool OnlyThroughService(const std::string& path, bool forWrite);

// Whether the service answers on the system bus. False at once when there
// is no bus or nobody owns the service's name.
bool Available();

// A descriptor on `node` from Block.OpenDevice: mode "r" or "rw", `flags`
// the open(2) flags the service may add (O_DIRECT, O_EXCL). The descriptor
// belongs to the caller. -1 when the service is missing or refused (the
// person dismissed the dialog); `error` then says why, and `refused` is set
// when polkit said no (rather than the device, say, being busy).
int OpenDevice(const std::string& node, bool write, int flags, std::string* error = nullptr,
               bool* refused = nullptr);

// Unmounts every file system the service knows mounted from `node`.
enum class UnmountResult { kDone, kBusy, kDenied, kFailed };
UnmountResult Unmount(const std::string& node, std::string* error = nullptr);

// Block.Format with "vfat" or "ntfs", the label, and `mkfsArgs` when the
// service takes them (MkfsArgsSupported). `percent` gets the job's progress
// while it runs and may return false to cancel it. True on success; on
// failure `error` holds the service's words.
bool Format(const std::string& node, const std::string& type, const std::string& label,
            const std::vector<std::string>& mkfsArgs, const std::function<bool(uint32_t)>& percent,
            std::string* error);
// "mkfs-args" came with version 2.10 of the service; older ones choose the
// FAT type by size themselves.
bool MkfsArgsSupported();

// What the service knows of the drive holding `node`.
struct DriveInfo {
  bool known = false;      // the service has the device
  std::string vendor;
  std::string model;
  bool system = false;     // the service calls it a system device
  bool readOnly = false;
  std::string idType;      // file system found on it ("vfat", "ntfs"), may be empty
  std::string idVersion;   // "FAT32", "FAT16"...
  std::string idLabel;
};
DriveInfo Describe(const std::string& node);

// Called once, before the first request that may need authorisation: a
// terminal program starts a text agent there when no desktop one answers.
void SetBeforeAuthorisation(std::function<void()> hook);

}  // namespace platform::udisks
