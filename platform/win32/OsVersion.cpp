#include <windows.h>

#include <cstdio>

#include "platform/OsVersion.h"

namespace platform {
namespace {
OSVERSIONINFOA Query() {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExA(&v)) v = OSVERSIONINFOA{};
  return v;
}
}  // namespace

OsVersionInfo SystemVersionInfo() {
  const OSVERSIONINFOA v = Query();
  OsVersionInfo info;
  info.platformId = v.dwPlatformId;
  info.majorVersion = v.dwMajorVersion;
  info.minorVersion = v.dwMinorVersion;
  info.buildNumber = v.dwBuildNumber;
  info.csdVersion = v.szCSDVersion;
  return info;
}

// The version numbers themselves: the log's name table knows the systems up
// to Windows Server 2003 only and would call every later one by an old name.
std::string RealSystemName() {
  const OSVERSIONINFOA v = Query();
  char text[200];
  std::snprintf(text, sizeof text, "Windows %lu.%lu (build %lu)%s%s", v.dwMajorVersion, v.dwMinorVersion,
                v.dwBuildNumber & 0xFFFF, v.szCSDVersion[0] ? " " : "", v.szCSDVersion);
  return text;
}

}  // namespace platform
