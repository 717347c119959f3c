#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <unordered_set>

#include "drive/CDriveController.h"
#include "platform/AlignedBuffer.h"
#include "platform/MessageTarget.h"
#include "verify/CBitmap.h"
#include "verify/CNumberSet.h"
#include "verify/CleanTest.h"
#include "verify/FatLayout.h"
#include "verify/NtfsLayout.h"

struct CScanReaders;  // the read-ahead workers of a scan (CCleanScan.cpp)

// The clean scans of one verification run: they read the volume through the
// run's controller, mark every dirty unit (a sector on raw and FAT volumes, a
// cluster on NTFS) in the dirty set, count unreadable sectors and post
// WM_VERIFY_NOTIFY messages to the window. The verify thread owns one per
// run; the fuzz target and the tests drive one directly.
class CCleanScan {
 public:
  using TerminateCheck = std::function<bool()>;

  // Sectors read per request by the full scans. The clean rules judge 64
  // sectors at a time; reading 2048 (1 MiB) in one aligned request keeps a
  // direct-I/O scan near the medium's speed. A request that fails is read
  // again 64 sectors at a time so the bad-sector lists stay exact.
  static constexpr uint32_t kReadSectors = 2048;
  static constexpr uint32_t kJudgeSectors = 64;
  static constexpr uint32_t kQuickStride = 640;
  static constexpr uint32_t kMaxReferenceAttempts = 65535;
  static constexpr uint32_t kSystemRecords = 32;

  CCleanScan(CDriveController& drive, platform::MessageTarget* window, TerminateCheck terminated,
             bool quick);
  CCleanScan(const CCleanScan&) = delete;
  CCleanScan& operator=(const CCleanScan&) = delete;

  // One bit per unit, units 0 to unitCount inclusive. False when the set
  // cannot be allocated.
  [[nodiscard]] bool CreateDirtySet(uint64_t unitCount, bool unitsAreSectors);
  // Opens another controller on the scan's drive for reading ahead (null
  // when it cannot). Without one, the scan reads ahead on its own controller.
  using ReaderFactory = std::function<std::unique_ptr<CDriveController>()>;
  void SetReaderFactory(ReaderFactory factory) { readerFactory_ = std::move(factory); }
  // NTFS runs only; the sample must outlive the scan.
  void SetCleanSample(const CCleanSample* sample) { sample_ = sample; }

  void ScanRaw();
  void ScanFat(uint8_t kind);
  // `boot` must describe a valid geometry (NtfsGeometryOf(boot).valid).
  void ScanNtfs(const NtfsBoot& boot);
  void CheckSystemRecords();
  // False when the cluster walk was skipped (no volume bitmap, fewer than two
  // extent numbers, or no readable reference).
  bool ScanNtfsClusters();

  bool IsCleanBlock(std::span<const uint8_t> block, bool pairMode, uint8_t referenceByte) const {
    return ::IsCleanBlock(block, pairMode, referenceByte, sample_);
  }
  bool MatchesCleanSample(std::span<const uint8_t> block) const {
    return sample_ != nullptr && sample_->Matches(block);
  }
  // Counts a unit the first time it is found dirty and marks it.
  void MarkUnitDirty(uint64_t unit);
  // After a failed read: every sector the controller could not read is an
  // error and makes its unit dirty; then VN_ERROR_COUNT is posted.
  void RecordReadErrors();
  // Sectors the volume claims that lie past the end of the medium: each
  // counts as a sector that could not be read.
  void RecordMissingSectors(uint64_t count);

  // Readable from any thread while the scan runs.
  uint32_t DirtyCount() const { return dirtyCount_.load(std::memory_order_relaxed); }
  uint32_t ErrorCount() const { return errorCount_.load(std::memory_order_relaxed); }
  bool HasDirtySet() const { return hasDirtySet_.load(); }
  bool UnitsAreSectors() const { return unitsAreSectors_.load(); }

  // 512-byte sectors in one unit of the dirty set.
  uint32_t SectorsPerUnit() const { return sectorsPerUnit_; }
  bool Cancelled() const { return cancelled_; }
  bool Unreadable() const { return unreadable_; }
  const ReferencePattern& Pattern() const { return pattern_; }

  CDirtyBitmap* DirtySet() { return dirty_.get(); }
  std::unique_ptr<CDirtyBitmap> TakeDirtySet();
  const CBitmap* VolumeBitmap() const { return bitmap_.get(); }
  uint64_t VolumeBitmapBitCount() const { return bitmapBitCount_; }
  const CNumberSet* SystemExtents() const { return extents_.get(); }
  // The volume bitmap and the system extents.
  void ReleaseNtfsState();

 private:
  void Post(uintptr_t code, intptr_t value);
  void PostProgress(uint64_t done, uint64_t whole, float scale);
  bool StopRequested();
  void GiveUpUnreadable();

  // Raw and FAT: the first readable sector from `first` (up to `last`).
  bool FindSectorReference(uint64_t first, uint64_t last);
  // Reads `count` sectors at `first` and calls judge(sector, bytes) for every
  // sector of a successful read; unreadable pieces go to RecordReadErrors.
  template <typename Judge>
  void ReadAndJudge(uint64_t first, uint32_t count, Judge&& judge);
  // Judges a run already read into `buf` (readOk), or reads it again piece
  // by piece when its read failed.
  template <typename Judge>
  void JudgeRead(uint8_t* buf, uint64_t first, uint32_t count, bool readOk, Judge&& judge);
  // Sectors from..last, full (read ahead in long runs) or quick (one in
  // every kQuickStride); false when stopped by a terminate request.
  // `wholeRunClean(first, bytes)` may declare a whole run clean at once (a
  // run of nothing but wipe residue), sparing the sector-by-sector judging.
  template <typename Judge, typename Bulk>
  bool ScanSectors(uint64_t from, uint64_t last, uint64_t progressWhole, Judge&& judge, Bulk&& wholeRunClean);

  void MakeReaders(CScanReaders& pool);
  void JudgeRawSector(uint64_t sector, std::span<uint8_t> bytes);
  void JudgeFatSector(const FatRegions& fat, uint64_t sector, std::span<uint8_t> bytes);

  bool ReadVolumeBitmap(const FirstRun& run, uint64_t dataSize);
  bool OnlyStandardInformation(std::span<const uint8_t> record, uint16_t firstAttribute) const;
  bool FindClusterReference();

  CDriveController& drive_;
  platform::MessageTarget* window_;
  TerminateCheck terminated_;
  bool quick_;
  const CCleanSample* sample_ = nullptr;

  std::unique_ptr<CDirtyBitmap> dirty_;
  std::unordered_set<uint64_t> dirtyOutsideSet_;  // units a hostile layout put past the set
  std::atomic<bool> hasDirtySet_{false};
  std::atomic<bool> unitsAreSectors_{true};
  std::atomic<uint32_t> dirtyCount_{0};
  std::atomic<uint32_t> errorCount_{0};
  uint32_t sectorsPerUnit_ = 1;
  bool cancelled_ = false;
  bool unreadable_ = false;
  ReferencePattern pattern_;
  int64_t lastProgress_ = INT64_MIN;

  platform::AlignedBuffer buffer_;
  platform::AlignedBuffer spare_;  // the second and third buffers of the read-ahead
  platform::AlignedBuffer third_;
  ReaderFactory readerFactory_;

  // NTFS state.
  NtfsBoot ntfsBoot_;
  NtfsGeometry ntfs_;
  std::unique_ptr<CBitmap> bitmap_;
  uint64_t bitmapBitCount_ = 0;
  std::unique_ptr<CNumberSet> extents_;
};
