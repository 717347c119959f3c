#include "platform/FileIo.h"

#include <unistd.h>

#include <cerrno>

#include "platform/ErrorCodes.h"

namespace platform {

bool WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

uint32_t FileErrorCode(int error) {
  switch (error) {
    case ENOENT: return errc::kFileNotFound;
    case ENOTDIR: return errc::kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EBUSY:
#ifdef ETXTBSY
    case ETXTBSY:
#endif
    case ENOTEMPTY: return errc::kAccessDenied;
    case EROFS: return errc::kWriteProtect;
    case ENOSPC: return errc::kDiskFull;
    case EIO: return errc::kWriteFault;
#ifdef ENOMEDIUM
    case ENOMEDIUM: return errc::kNoMediaInDrive;
#endif
    case ENXIO:
    case ENODEV: return errc::kNotReady;
    default: return errc::kGenFailure;
  }
}

}  // namespace platform
