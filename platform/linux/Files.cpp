#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/FileIo.h"

namespace platform {

bool SyncFileData(int fd) { return fdatasync(fd) == 0; }

// On a FAT mount the kernel keeps the DOS attributes; elsewhere the ioctl
// fails and there is nothing to do.
void SetHiddenAttribute(int fd, const std::string&) {
  uint32_t attributes = 0;
  if (ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attributes) == 0) {
    attributes |= ATTR_HIDDEN;
    (void)ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &attributes);
  }
}

}  // namespace platform
