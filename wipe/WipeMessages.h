#pragma once
#include <cstdint>

#include "platform/MessageTarget.h"

// Messages from the wipe thread to its window. All are posted except the
// progress message, which is sent: the thread waits until the window has
// drawn it.
inline constexpr uint32_t WM_WIPE_FINISHED = platform::WM_USER + 1;  // wParam 0 ran to its end, 1 stopped early; lParam the error code
inline constexpr uint32_t WM_WIPE_FAILED = platform::WM_USER + 2;    // wParam the error code
inline constexpr uint32_t WM_WIPE_PROGRESS = platform::WM_USER + 3;  // wParam a const WipeProgress*
inline constexpr uint32_t WM_WIPE_STAGE = platform::WM_USER + 4;
inline constexpr uint32_t WM_WIPE_TOGGLE_ANIMATION = platform::WM_USER + 6;

// What the progress message is about.
enum WipePhase : uint8_t {
  WP_OVERWRITE = 0,    // passNumber: the 1-based pass
  WP_VERIFY = 1,       // passNumber 0
  WP_FORMAT = 2,       // passNumber 0
  WP_ERASE_FILES = 3,  // passNumber: pass index + 1
  WP_CLEANUP = 4,      // passNumber 0
};

struct WipeProgress {
  uint8_t phase;  // a WipePhase, padded to 32 bits
  int32_t passNumber;
  float percent;
};

// File systems a wipe leaves behind.
inline constexpr int32_t WIPE_FS_NTFS = 1;
inline constexpr int32_t WIPE_FS_FAT = 32;
