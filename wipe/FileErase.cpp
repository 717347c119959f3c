// The file-erase phase of the 95/98/ME family: the drive is erased through
// its file system. Every file goes, then each pass fills the free space with
// fill files that, with the volume label, take every root-directory entry
// and every free cluster; at the end the fill files are emptied and deleted.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/DriveTable.h"
#include "platform/FileIo.h"
#include "wipe/DriveWipeThread.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::directory_entry> ListFolder(const std::string& folder, std::error_code& ec) {
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
  return entries;
}

}  // namespace

std::string DriveWipeThread::DrivePath(const std::string& name) const {
  std::string root = env_.rootFolder;
  if (root.empty()) {
    const auto entry = platform::DriveTable::Load().Find(
        static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter_))));
    if (entry) root = entry->mountPoint;
  }
  if (root.empty()) return {};
  if (name.empty()) return root;
  return root + "/" + name;
}

int32_t DriveWipeThread::CountEntries(const std::string& folder) {
  std::error_code ec;
  const auto entries = ListFolder(folder, ec);
  if (ec) return 0;
  int32_t count = 0;
  for (const auto& e : entries) {
    ++count;
    std::error_code statError;
    if (e.symlink_status(statError).type() == fs::file_type::directory) count += CountEntries(e.path().string());
  }
  return count;
}

bool DriveWipeThread::DeleteTree(const std::string& folder) {
  std::error_code ec;
  const auto entries = ListFolder(folder, ec);
  if (ec || Terminated()) return true;
  bool result = true;
  for (const auto& e : entries) {
    const std::string path = e.path().string();
    std::error_code statError;
    const auto status = e.symlink_status(statError);
    if (status.type() == fs::file_type::directory) {
      result = DeleteTree(path) && result;
      if (rmdir(path.c_str()) != 0) {
        lastFileError_ = platform::FileErrorCode(errno);
        result = false;
      }
    } else {
      // A read-only file is refused as the Windows drive refuses it: the
      // user protected it, and the phase must say so rather than erase it.
      if (status.type() == fs::file_type::regular && (status.permissions() & fs::perms::all & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) == fs::perms::none) {
        lastFileError_ = errc::kAccessDenied;
        result = false;
      } else if (unlink(path.c_str()) != 0) {
        lastFileError_ = platform::FileErrorCode(errno);
        result = false;
      }
    }
    percent_ += step_;
    ReportProgress(WP_ERASE_FILES, passIndex_ + 1, percent_);
    if (Terminated()) break;
  }
  return IsTerminateRequested() ? true : result;
}

bool DriveWipeThread::WriteFillFile(const std::string& path, uint64_t size, const uint8_t* buffer,
                                    uint32_t writeLength) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | platform::kOpenFlags, 0644);
  if (fd < 0) {
    lastFileError_ = platform::FileErrorCode(errno);
    return false;
  }
  platform::SetHiddenAttribute(fd, path);
  uint64_t due = size;
  int stalled = 0;
  while (due > 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(due, writeLength));
    const ssize_t wrote = write(fd, buffer, chunk);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      // Failed or moved nothing: an error each time, and after a few in a
      // row the rest of this file is given up rather than spun on.
      sectorErrors_.fetch_add(1);
      if (++stalled >= kMaxStalledWrites) break;
      continue;
    }
    stalled = 0;
    due -= static_cast<uint64_t>(wrote);
  }
  // Each pass must be on the medium before the next one overwrites it.
  if (!platform::SyncFileData(fd)) sectorErrors_.fetch_add(1);
  close(fd);
  return true;
}

bool DriveWipeThread::FillFilePasses(char letter, int32_t passCount, uint32_t runLength) {
  const std::string root = DrivePath("");
  if (root.empty()) {
    ReportError(errc::kPathNotFound);
    return false;
  }

  // 1. The drive's own files and folders go first.
  filesFound_ = CountEntries(root);
  if (Terminated()) return false;
  if (filesFound_ > 0) {
    step_ = 99.0f / static_cast<float>(filesFound_);
    percent_ = 0;
    lastFileError_ = 0;
    if (!DeleteTree(root)) {
      ReportError(lastFileError_ ? lastFileError_ : errc::kAccessDenied);
      return false;
    }
    percent_ = 100;
    ReportProgress(WP_ERASE_FILES, 1, 100);
    SleepMs(300);
  }
  if (Terminated()) return false;

  // 2. The fill files: one per root-directory entry but the label's, equal
  // whole clusters each, the last one also taking what is left over.
  const uint32_t cluster = controller_.GetClusterSize();
  int64_t count = controller_.GetRootEntryCount() != 0 ? controller_.GetRootEntryCount() : cluster / 32;
  count -= 1;
  if (count < 1) count = 1;
  uint64_t freeBytes = 0;
  if (!controller_.GetFreeSpace(letter, freeBytes)) {
    ReportError(controller_.GetLastErrorCode());
    return false;
  }
  const uint64_t fileSize = freeBytes / static_cast<uint64_t>(count) / cluster * cluster;
  const uint64_t remainder = freeBytes - fileSize * static_cast<uint64_t>(count);
  const uint32_t writeLength = (fileSize != 0 && fileSize < runLength) ? static_cast<uint32_t>(fileSize) : runLength;

  // 3. The passes.
  for (passIndex_ = 0; passIndex_ < passCount && !Terminated(); ++passIndex_) {
    step_ = 99.0f / static_cast<float>(count);
    percent_ = 0;
    ReportProgress(WP_OVERWRITE, passIndex_ + 1, 0);
    const uint8_t* buffer = PatternForPass(passIndex_ + 1);
    for (int64_t i = 0; i < count; ++i) {
      if (Terminated()) return false;
      char name[32];
      std::snprintf(name, sizeof name, "%.8u.000", static_cast<unsigned>(i));
      const uint64_t size = fileSize + (i == count - 1 ? remainder : 0);
      lastFileError_ = 0;
      if (!WriteFillFile(root + "/" + name, size, buffer, writeLength)) {
        ReportError(lastFileError_);
        return false;
      }
      percent_ += step_;
      ReportProgress(WP_OVERWRITE, passIndex_ + 1, std::min(percent_, 99.99f));
    }
  }
  // A stop between passes leaves the fill files, like a stop between files.
  if (Terminated()) return false;
  percent_ = 100;
  ReportProgress(WP_OVERWRITE, passCount, 100);
  SleepMs(300);

  // 4. Clean up: empty each fill file, so its directory entry stays behind
  // as a deleted entry with its number still readable, then delete it.
  step_ = 99.0f / static_cast<float>(count);
  percent_ = 0;
  ReportProgress(WP_CLEANUP, 0, 0);
  std::error_code ec;
  const auto entries = ListFolder(root, ec);
  if (ec) {
    ReportError(platform::FileErrorCode(ec.value()));
    return false;
  }
  bool result = true;
  for (const auto& e : entries) {
    const std::string path = e.path().string();
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | platform::kOpenFlags);
    if (fd < 0) {
      result = false;
      ReportError(platform::FileErrorCode(errno));
      break;
    }
    close(fd);
    if (unlink(path.c_str()) != 0) {
      ReportError(platform::FileErrorCode(errno));
      result = false;
    }
    percent_ += step_;
    ReportProgress(WP_CLEANUP, 0, std::min(percent_, 99.99f));
    if (Terminated()) break;
  }
  return IsTerminateRequested() ? false : result;
}
