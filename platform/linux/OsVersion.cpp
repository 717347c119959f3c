#include <sys/utsname.h>

#include <cstdio>
#include <fstream>

#include "platform/OsVersion.h"

namespace platform {

// Linux gives raw volume access, which is the NT family's way; the version
// numbers are the kernel's.
OsVersionInfo SystemVersionInfo() {
  OsVersionInfo info;
  info.platformId = kPlatformNT;
  utsname u{};
  if (uname(&u) == 0) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(u.release, "%u.%u", &major, &minor) == 2) {
      info.majorVersion = major;
      info.minorVersion = minor;
    }
  }
  return info;
}

std::string RealSystemName() {
  std::string pretty;
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("PRETTY_NAME=", 0) == 0) {
        pretty = line.substr(12);
        if (pretty.size() >= 2 && (pretty.front() == '"' || pretty.front() == '\'')) {
          pretty = pretty.substr(1, pretty.size() - 2);
        }
        break;
      }
    }
    if (!pretty.empty()) break;
  }
  if (pretty.empty()) pretty = "Linux";
  utsname u{};
  if (uname(&u) == 0) pretty += std::string(", kernel ") + u.release;
  return pretty;
}

}  // namespace platform
