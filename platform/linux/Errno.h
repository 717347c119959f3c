#pragma once
#include <cstdint>

namespace platform {

// What the failing call was doing: the same errno means different things on
// an open, a read and a write (EIO is a data error on a read, a write fault
// on a write; EACCES on a write means a read-only medium).
enum class IoOp { Open, Read, Write, Flush, Other };

// errno -> the Windows code the rest of the program keys its messages on.
// Never returns 0 and never passes an errno value through.
uint32_t ErrnoToCode(int error, IoOp op);

}  // namespace platform
