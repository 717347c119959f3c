#pragma once
#include <string>

namespace platform {

// Tells the system that a drive's contents changed under it, so file
// managers and the kernel's view of the volume refresh: a udev "change"
// event for a block device; nothing for an image file, which nobody watches.
// True when an event was raised.
bool NotifyDriveChanged(char letter);
bool NotifyDeviceChanged(const std::string& devicePath);

}  // namespace platform
