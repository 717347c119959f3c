#include "platform/linux/Errno.h"

#include <cerrno>

#include "platform/ErrorCodes.h"

namespace platform {

uint32_t ErrnoToCode(int error, IoOp op) {
  switch (error) {
    case EROFS:
      return errc::kWriteProtect;
    case EACCES:
    case EPERM:
      // A write refused on a device opened read-only (BLKROSET, a locked SD
      // card) is the write-protect case; anywhere else it is a permission.
      return op == IoOp::Write ? errc::kWriteProtect : errc::kAccessDenied;
    case ENOMEDIUM:
      return errc::kNoMediaInDrive;
    case ENXIO:
    case ENODEV:
    case ENOENT:
    case ESHUTDOWN:
    case ENOTCONN:
    case EAGAIN:
    case EBUSY:
    case ETIMEDOUT:
      return errc::kNotReady;
    case EIO:
    case EREMOTEIO:
      if (op == IoOp::Read) return errc::kCrc;
      if (op == IoOp::Write || op == IoOp::Flush) return errc::kWriteFault;
      return errc::kGenFailure;
    case ENOSPC:
    case EFBIG:
    case EOVERFLOW:
      return errc::kSectorNotFound;
    case EBADF:
      return errc::kInvalidHandle;
    case EINVAL:
      return errc::kInvalidParameter;
    case ENOMEM:
      return errc::kNotEnoughMemory;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return errc::kPathNotFound;
    case EISDIR:
      return errc::kAccessDenied;
    case EMEDIUMTYPE:
      return errc::kUnrecognizedVolume;
    default:
      return errc::kGenFailure;
  }
}

}  // namespace platform
