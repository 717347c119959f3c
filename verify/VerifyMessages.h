#pragma once
#include <cstdint>

#include "platform/MessageTarget.h"

// The one message the verify thread posts to its window; the code is in
// wParam, the value in lParam.
inline constexpr uint32_t WM_VERIFY_NOTIFY = platform::WM_USER + 3;  // 1027

enum VerifyNotify : uintptr_t {
  VN_PROGRESS = 0,       // percent done (may pass 100 on a tiny volume)
  VN_FINISHED = 1,       // CDirtyBitmap* (may be null); the window owns it
  VN_UNREADABLE = 2,     // -1: no readable reference; 0: stopped after a log failure
  VN_ERROR_COUNT = 3,    // unreadable sectors so far
  VN_DIRTY_SECTORS = 4,  // DirtySectorsSoFar(), once before VN_FINISHED
  VN_FS_TYPE = 5,        // const char*: "NTFS", "FAT12", "FAT16", "FAT32", "Unknown"
  VN_CANCELLED = 6,      // 0, before VN_DIRTY_SECTORS when cancelled
  VN_TOTAL_SECTORS = 7,  // the volume's sector count as the scan sees it
  VN_CLUSTER_SIZE = 8,   // bytes per cluster (FAT and NTFS scans only)
  VN_VOLUME_LABEL = 9,   // const char*, "N/A" when unreadable
};
