#pragma once
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Flags every open(2) of the program's files adds: the descriptor is not
// inherited by the formatter's child processes, and on Windows the file is
// opened in binary mode, so bytes reach it exactly as given (text mode would
// put a CR before every LF of a pattern, a log line or a key file).
#ifdef _WIN32
inline constexpr int kOpenFlags = O_BINARY | O_NOINHERIT;
#else
inline constexpr int kOpenFlags = O_CLOEXEC;
#endif

// Writes all of `size` bytes to `fd`, going on after a short write or an
// interrupted one; false (errno tells why) when a write fails.
[[nodiscard]] bool WriteAll(int fd, const void* data, size_t size);
[[nodiscard]] inline bool WriteAll(int fd, const std::string& text) { return WriteAll(fd, text.data(), text.size()); }

// The errno of a failed file call in the codes the program reports.
uint32_t FileErrorCode(int error);

// Makes the file's data written so far durable on the medium; false when
// that fails (errno tells why).
[[nodiscard]] bool SyncFileData(int fd);

// Gives the file the hidden attribute where its file system has one (FAT),
// as the fill files of the file-erase phase have on Windows; elsewhere
// nothing happens.
void SetHiddenAttribute(int fd, const std::string& path);

}  // namespace platform
