#pragma once
#include <memory>
#include <string>

#include "platform/SectorBackend.h"

namespace platform {

struct LinuxBackendOptions {
  // Open for reading only: every write fails with 19. The drive table uses
  // it for the system drive, which the program must never write.
  bool readOnly = false;
  // Use O_DIRECT when the device allows it (transfers reach the medium,
  // reads bypass the page cache). Off only to measure the difference.
  bool direct = true;
};

// The backend for an image file or a block device node. Transfers go to the
// medium with O_DIRECT where the device takes it (through an aligned bounce
// buffer when the caller's buffer is not aligned), otherwise through the
// page cache, which Flush then writes back and drops. A write-protected
// medium (read-only open, BLKROGET) fails writes with 19; errno values are
// translated into the program's codes.
std::unique_ptr<SectorBackend> MakeLinuxBackend(const std::string& path,
                                                LinuxBackendOptions options = {});

}  // namespace platform
