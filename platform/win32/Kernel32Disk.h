#pragma once
#include <map>
#include <memory>
#include <string>

#include "platform/win32api/Win32Disk.h"

namespace platform::win32api {

// The disk services served by kernel32 itself. Two things are added on the
// way, both invisible to the protocols above:
//  - a drive letter the user's drive map gives to an image file: its volume
//    path "\\.\E:" opens that file, so an image can be wiped and verified
//    like a drive;
//  - a drive geometry the system does not serve (a volume backed by a file,
//    as under Wine): the geometry is made from the volume's length, one
//    512-byte sector per cylinder, so the size it gives is the true one.
struct Kernel32Options {
  std::map<char, std::string> images;  // upper-case letter -> image file
  // Writes fail with 19 (write-protected), as on a read-only medium.
  bool readOnly = false;
};

std::shared_ptr<Win32Disk> MakeKernel32Disk(Kernel32Options options);

}  // namespace platform::win32api
