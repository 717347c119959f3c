#pragma once
#include <cstdint>
#include <string>

#include "platform/SectorBackend.h"

namespace platform {

// Recognises the file system on an open file or device with libblkid, as
// the system's volume information would: vfat with VERSION FAT32 is "FAT32",
// any other vfat "FAT", ntfs "NTFS"; another file system keeps libblkid's
// name. False when no file system is recognised (or two are, ambiguously).
// `size` 0 means the whole of `fd`.
[[nodiscard]] bool ProbeVolume(int fd, uint64_t size, VolumeInformation& info);
[[nodiscard]] bool ProbeVolumePath(const std::string& path, VolumeInformation& info);

// The same for bytes held in memory (the in-memory test backend).
[[nodiscard]] bool ProbeVolumeBytes(const uint8_t* data, size_t size, VolumeInformation& info);

}  // namespace platform
