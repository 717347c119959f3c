#pragma once
#include <cstdint>

namespace platform {

inline constexpr uint32_t WM_USER = 0x0400;

// A window, as the engine sees it: something numbered messages are posted to
// (returns at once) or sent to (returns when the receiver has handled it).
// The Qt bridge turns these into custom events on the window's thread.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  virtual void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  virtual intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace platform
