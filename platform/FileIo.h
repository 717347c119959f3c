#pragma once
#include <cstddef>
#include <string>

namespace platform {

// Writes all of `size` bytes to `fd`, going on after a short write or an
// interrupted one; false (errno tells why) when a write fails.
[[nodiscard]] bool WriteAll(int fd, const void* data, size_t size);
[[nodiscard]] inline bool WriteAll(int fd, const std::string& text) { return WriteAll(fd, text.data(), text.size()); }

}  // namespace platform
