#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <unordered_set>
#include <vector>

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
  // The first MFT record a fresh format may leave unused after the system
  // records: from here on every record is judged for what a file left.
  static constexpr uint32_t kFirstFileRecord = 24;

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
  // Every MFT record from kFirstFileRecord to the end of $MFT's data, read
  // through its run list (learnt by CheckSystemRecords from record 0) a
  // buffer at a time: a record in use past the system records is a file or
  // folder; an unused one is clean only when it holds at most a bare
  // standard information attribute and nothing past its end.
  void CheckFileRecords();
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
  // `sample`: one sector in every kQuickStride instead of all.
  template <typename Judge, typename Bulk>
  bool ScanSectors(uint64_t from, uint64_t last, uint64_t progressWhole, Judge&& judge, Bulk&& wholeRunClean,
                   bool sample);

  void MakeReaders(CScanReaders& pool);
  void JudgeRawSector(uint64_t sector, std::span<uint8_t> bytes);
  void JudgeFatSector(const FatRegions& fat, uint64_t sector, std::span<uint8_t> bytes);
  bool IsBlankFolderSector(std::span<const uint8_t> bytes) const;
  // FAT32: the clusters of the root folder's chain after its first.
  void JudgeFat32RootChain(const FatRegions& fat, uint64_t last);

  bool ReadVolumeBitmap(const FirstRun& run, uint64_t dataSize);
  // The root folder's index (record 5): entries in use and what lies in the
  // slack past them may name only the system files.
  void CheckRootIndex(std::span<const uint8_t> record, uint16_t firstAttribute, uint64_t recordSector);
  void CheckIndexAllocation(const AttributeView& attr, uint32_t blockBytes, uint64_t recordCluster);
  template <typename DirtyAt>
  void JudgeIndexNode(std::span<const uint8_t> node, DirtyAt&& dirtyAt);
  template <typename DirtyAt>
  void FindStaleKeys(std::span<const uint8_t> region, DirtyAt&& dirtyAt);
  bool FileRecordClean(uint64_t number, std::span<uint8_t> record) const;
  // A non-resident attribute's data through its runs: `length` bytes from
  // `offset` (both whole sectors). Sparse runs read as zeros. False at the
  // first read that fails (the controller's bad-sector list is that read's)
  // or when the runs end first.
  bool ReadStream(const std::vector<DataRun>& runs, uint64_t offset, uint64_t length, uint8_t* out);
  bool StreamSector(const std::vector<DataRun>& runs, uint64_t offset, uint64_t& sector) const;
  void MarkStream(const std::vector<DataRun>& runs, uint64_t offset, uint64_t length);
  uint64_t MediumBytes();
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
  std::vector<DataRun> mftRuns_;  // $MFT's data, from record 0
  uint64_t mftDataSize_ = 0;
  uint32_t mftRecordBytes_ = 0;
  uint64_t bitmapRecordSector_ = 0;  // record 6
  bool referenceFound_ = false;
};
