#include <io.h>
#include <windows.h>

#include "platform/FileIo.h"

namespace platform {

bool SyncFileData(int fd) { return _commit(fd) == 0; }

void SetHiddenAttribute(int, const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) (void)SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

}  // namespace platform
