// The overwrite phase: the raw passes of the NT family, the three-pass
// read-back, and the pattern buffers both families write.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>

#include "wipe/DriveWipeThread.h"

namespace {

// A run is 64 clusters, but one controller call moves several runs at once:
// the medium is fastest with transfers of a megabyte or more. A transfer
// that fails is written again run by run, so failures are still counted and
// skipped one run at a time.
constexpr uint32_t kTransferTarget = 1u << 20;

// Errors after which nothing more can reach the medium: going on would only
// spend two tries and their pauses on every run left of every pass.
bool MediumUnusable(uint32_t code) {
  return code == errc::kWriteProtect || code == errc::kNotReady || code == errc::kNoMediaInDrive;
}

// Offset of the first pair (i, i + 1) with byte i + 1 != byte i XOR 0xFF,
// or `size` when every pair is clean. Eight bytes at a time: in a
// little-endian word w, (w ^ (w >> 8)) holds each pair's XOR in its even bytes.
size_t FirstDirtyPair(const uint8_t* data, size_t size) {
  constexpr uint64_t kMask = 0x00FF00FF00FF00FFull;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t w;
    std::memcpy(&w, data + i, 8);
    if (((w ^ (w >> 8)) & kMask) != kMask) break;
  }
  for (; i + 1 < size; i += 2) {
    if (data[i + 1] != static_cast<uint8_t>(data[i] ^ 0xFF)) return i;
  }
  return size;
}

}  // namespace

// Each run adds the step to the percent. Counted from the runs done rather
// than added up in a float, so that on a drive of terabytes, where one
// step is far below a float's resolution near 50, the figure still moves.
float DriveWipeThread::PercentAfter(uint64_t runs) const {
  return static_cast<float>(stepExact_ * static_cast<double>(runs));
}

bool DriveWipeThread::MakePatternBuffers(int32_t passCount, uint32_t length) {
  FreePatternBuffers();
  zeroBuffer_ = platform::AlignedBuffer(length);
  if (!zeroBuffer_) return false;
  zeroBuffer_.fill(0x00);
  if (passCount > 1) {
    onesBuffer_ = platform::AlignedBuffer(length);
    if (!onesBuffer_) return false;
    onesBuffer_.fill(0xFF);
  }
  if (passCount == 3) {
    randomBuffer_ = platform::AlignedBuffer(length);
    if (!randomBuffer_) return false;
    // One run of pairs, repeated: every run of pass 3 is the same block.
    const uint32_t block = std::min(runLength_ ? runLength_ : length, length);
    std::minstd_rand random(static_cast<uint32_t>(std::time(nullptr)));
    uint8_t* p = randomBuffer_.data();
    for (uint32_t i = 0; i + 1 < block; i += 2) {
      const uint8_t b = static_cast<uint8_t>(random());
      p[i] = b;
      p[i + 1] = static_cast<uint8_t>(b ^ 0xFF);
    }
    for (uint32_t at = block; at < length; at += block) std::memcpy(p + at, p, std::min(block, length - at));
  }
  readBuffer_ = platform::AlignedBuffer(length);
  return static_cast<bool>(readBuffer_);
}

void DriveWipeThread::FreePatternBuffers() {
  zeroBuffer_ = {};
  onesBuffer_ = {};
  randomBuffer_ = {};
  readBuffer_ = {};
}

const uint8_t* DriveWipeThread::PatternForPass(int32_t passNumber) const {
  if (passCount_ == 3 && passNumber == 3) return randomBuffer_.data();
  return (passNumber % 2 == 1) ? zeroBuffer_.data() : onesBuffer_.data();
}

bool DriveWipeThread::OverwritePhase(int32_t passCount) {
  uint64_t volume = 0;
  (void)controller_.GetVolumeSizeBytes(volume);
  const uint32_t fullRun = 64 * controller_.GetClusterSize();
  runLength_ = volume < fullRun ? static_cast<uint32_t>(volume) : fullRun;
  step_ = volume ? static_cast<float>(99.0 * fullRun / static_cast<double>(volume)) : 0.0f;
  stepExact_ = volume ? 99.0 * fullRun / static_cast<double>(volume) : 0.0;
  totalBytes_ = volume;
  if (runLength_ == 0) return false;
  // As many runs per transfer as fit in the target, but never so many that
  // a whole percent of the volume goes by without a progress report.
  uint64_t runsPerTransfer = std::max<uint32_t>(1, kTransferTarget / runLength_);
  runsPerTransfer = std::min<uint64_t>(runsPerTransfer, std::max<uint64_t>(1, volume / 100 / runLength_));
  transferLength_ = static_cast<uint32_t>(runsPerTransfer * runLength_);

  if (!MakePatternBuffers(passCount, transferLength_)) {
    FreePatternBuffers();
    errorCode_ = static_cast<int32_t>(errc::kNotEnoughMemory);
    return false;
  }

  bool result = false;
  if (ntFlag_) {
    for (passIndex_ = 0; passIndex_ < passCount && !Terminated(); ++passIndex_) {
      controller_.Rewind();
      const uint8_t* buffer = PatternForPass(passIndex_ + 1);
      percent_ = 0;
      ReportProgress(WP_OVERWRITE, passIndex_ + 1, 0);
      remainingBytes_ = totalBytes_;
      result = OverwritePass(buffer, runLength_);
      if (Terminated()) {
        FreePatternBuffers();
        return false;
      }
      percent_ = 100;
      ReportProgress(WP_OVERWRITE, passIndex_ + 1, 100);
      SleepMs(1000);
      if (!result && MediumUnusable(static_cast<uint32_t>(errorCode_.load()))) {
        // The passes left could not write a byte either.
        ++passIndex_;
        break;
      }
    }
  } else {
    controller_.Rewind();
    result = FillFilePasses(driveLetter_, passCount, runLength_);
    if (Terminated()) {
      FreePatternBuffers();
      return false;
    }
  }
  if (!result) {
    FreePatternBuffers();
    return false;
  }

  if (passCount == 3 && passIndex_ >= 3) {
    percent_ = 0;
    ReportProgress(WP_VERIFY, 0, 0);
    result = ntFlag_ ? VerifyPass(runLength_) : VerifyFilledArea(runLength_);
    percent_ = 100;
    ReportProgress(WP_VERIFY, 0, 100);
    SleepMs(1000);
  }
  FreePatternBuffers();
  return result;
}

bool DriveWipeThread::OverwritePass(const uint8_t* buffer, uint32_t runLength) {
  bool ok = true;
  bool mediumGone = false;
  // Writes `bytes` (at most one transfer) at the position; a failed run is
  // counted and skipped. Returns the result of its last run.
  auto writeRun = [&](uint32_t bytes) {
    uint32_t written = 0;
    if (controller_.WriteSectors(buffer, bytes, written)) return true;
    const uint32_t code = controller_.GetLastErrorCode();
    if (code != 0) {
      errorCode_ = static_cast<int32_t>(code);
      if (MediumUnusable(code)) {
        mediumGone = true;
        ReportError(code);
      }
    }
    sectorErrors_.fetch_add(1);
    // Go on after the failed run so the pass still reaches the end of the
    // volume; the run itself stays unwritten in this pass.
    (void)controller_.SkipBytes(bytes);
    return false;
  };

  uint64_t runsDone = 0;
  while (remainingBytes_ > 0) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(transferLength_, remainingBytes_));
    uint32_t written = 0;
    const uint32_t runs = (n + runLength - 1) / runLength;
    if (n <= runLength) {
      ok = writeRun(n);
    } else if (controller_.WriteSectors(buffer, n, written)) {
      ok = true;
    } else {
      for (uint32_t done = 0; done < n && !mediumGone; done += runLength) {
        ok = writeRun(std::min(runLength, n - done));
      }
    }
    remainingBytes_ -= n;
    runsDone += runs;
    percent_ = PercentAfter(runsDone);
    ReportProgress(WP_OVERWRITE, passIndex_ + 1, std::min(percent_, 99.99f));
    if (mediumGone || Terminated()) break;
  }

  // The pass is only done once it is on the medium; an error that surfaces
  // only here is a write error of this pass.
  if (!controller_.Flush()) {
    const uint32_t code = controller_.GetLastErrorCode();
    if (code != 0) errorCode_ = static_cast<int32_t>(code);
    sectorErrors_.fetch_add(1);
    if (code == errc::kWriteProtect && !mediumGone) ReportError(code);
    ok = false;
  }
  if (IsTerminateRequested()) return false;
  return ok && !mediumGone;
}

bool DriveWipeThread::VerifyPass(uint32_t runLength) {
  controller_.Rewind();
  remainingBytes_ = totalBytes_;
  bool ok = true;
  bool leave = false;
  uint8_t* buffer = readBuffer_.data();

  // Checks `bytes` (at most one transfer) at the position. Returns whether
  // the read succeeded; sets `leave` when the check must not go on.
  auto checkRun = [&](uint32_t bytes, bool counted) {
    uint32_t got = 0;
    if (!controller_.ReadSectors(buffer, bytes, got)) {
      if (counted) sectorErrors_.fetch_add(1);
      const uint32_t code = controller_.GetLastErrorCode();
      if (MediumUnusable(code)) {
        ReportError(code);
        leave = true;
      }
      if (got == 0) (void)controller_.SkipBytes(bytes);
      return false;
    }
    const size_t dirty = FirstDirtyPair(buffer, got);
    if (dirty < got) {
      ReportError(WIPE_ERR_VERIFY_DIRTY);
      leave = true;
    } else if (got < bytes) {
      leave = true;
    }
    return true;
  };

  uint64_t runsDone = 0;
  while (remainingBytes_ > 0 && !Terminated()) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(transferLength_, remainingBytes_));
    const uint32_t runs = (n + runLength - 1) / runLength;
    if (n <= runLength) {
      ok = checkRun(n, true);
    } else {
      const uint64_t start = controller_.GetPosition();
      ok = checkRun(n, false);
      if (!ok && !leave) {
        // Find the unreadable runs of the transfer one by one.
        if (controller_.GetPosition() != start) (void)controller_.SeekToSector(start);
        for (uint32_t done = 0; done < n && !leave; done += runLength) {
          ok = checkRun(std::min(runLength, n - done), true);
        }
      }
    }
    remainingBytes_ -= n;
    if (leave) break;
    runsDone += runs;
    percent_ = PercentAfter(runsDone);
    ReportProgress(WP_VERIFY, 0, std::min(percent_, 99.99f));
  }
  return ok;
}

bool DriveWipeThread::IsLabelEntry(const uint8_t* entry) {
  if ((entry[11] & 0x08) == 0) return false;
  for (int i = 26; i < 32; ++i) {
    if (entry[i] != 0) return false;
  }
  return true;
}

bool DriveWipeThread::IsDeletedFillEntry(const uint8_t* entry) {
  if (entry[0] != 0xE5) return false;
  for (int i = 1; i < 8; ++i) {
    if (entry[i] < '0' || entry[i] > '9') return false;
  }
  return entry[8] == '0' && entry[9] == '0' && entry[10] == '0';
}

bool DriveWipeThread::VerifyFilledArea(uint32_t runLength) {
  uint64_t freeBytes = 0;
  if (!controller_.GetFreeSpace(driveLetter_, freeBytes) || freeBytes == 0) {
    errorCode_ = static_cast<int32_t>(controller_.GetLastErrorCode());
    return false;
  }
  uint64_t remaining = freeBytes;
  if (!controller_.SeekToSector(controller_.GetFirstDataSector())) {
    errorCode_ = static_cast<int32_t>(controller_.GetLastErrorCode());
    return false;
  }
  uint8_t* buffer = readBuffer_.data();
  bool result = true;
  do {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(runLength, remaining));
    uint32_t got = 0;
    if (!controller_.ReadSectors(buffer, n, got)) {
      sectorErrors_.fetch_add(1);
      result = false;
      break;
    }
    size_t at = 0;
    while (at + 1 < got) {
      const size_t dirty = at + FirstDirtyPair(buffer + at, got - at);
      if (dirty >= got) {
        at = got;
        break;
      }
      // The root directory of FAT32 lies in the data area: its label entry
      // and the deleted fill-file entries are all it may hold.
      if (dirty + 32 <= got && (IsLabelEntry(buffer + dirty) || IsDeletedFillEntry(buffer + dirty))) {
        at = dirty + 32;
        continue;
      }
      result = false;
      errorCode_ = static_cast<int32_t>(WIPE_ERR_VERIFY_DIRTY);
      at = dirty;
      break;
    }
    remaining -= n;
    percent_ = static_cast<float>(99.0 * static_cast<double>(freeBytes - remaining) / static_cast<double>(freeBytes));
    ReportProgress(WP_VERIFY, 0, percent_);
    if (at < n) break;
  } while (remaining > 0 && result && !Terminated());
  return result;
}
