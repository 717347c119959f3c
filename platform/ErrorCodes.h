#pragma once
#include <cstdint>

// The 32-bit error codes every drive and wipe operation keeps. They are the
// Windows codes the rest of the program was designed around (its messages and
// log lines key on them), plus the program's own from 20001 on. The Linux
// backends translate errno into these; no raw errno value leaves platform/.
namespace errc {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kInvalidFunction = 1;
inline constexpr uint32_t kFileNotFound = 2;
inline constexpr uint32_t kPathNotFound = 3;
inline constexpr uint32_t kAccessDenied = 5;
inline constexpr uint32_t kInvalidHandle = 6;   // no drive open
inline constexpr uint32_t kNotEnoughMemory = 8;
inline constexpr uint32_t kWriteProtect = 19;
inline constexpr uint32_t kNotReady = 21;
inline constexpr uint32_t kCrc = 23;            // data error reading the medium
inline constexpr uint32_t kSectorNotFound = 27; // transfer past the end
inline constexpr uint32_t kWriteFault = 29;
inline constexpr uint32_t kReadFault = 30;
inline constexpr uint32_t kGenFailure = 31;
inline constexpr uint32_t kInvalidParameter = 87;
inline constexpr uint32_t kDiskFull = 112;
inline constexpr uint32_t kNoMediaInDrive = 1112;
inline constexpr uint32_t kUnrecognizedVolume = 1785;

inline constexpr uint32_t kWipeSystemDrive = 20001;  // WIPE_ERR_SYSTEM_DRIVE
inline constexpr uint32_t kWipeVerifyDirty = 20002;  // WIPE_ERR_VERIFY_DIRTY
inline constexpr uint32_t kWipeFormatFailed = 20003; // WIPE_ERR_FORMAT_FAILED
}  // namespace errc

inline constexpr uint32_t WIPE_ERR_SYSTEM_DRIVE = errc::kWipeSystemDrive;
inline constexpr uint32_t WIPE_ERR_VERIFY_DIRTY = errc::kWipeVerifyDirty;
inline constexpr uint32_t WIPE_ERR_FORMAT_FAILED = errc::kWipeFormatFailed;
