#include "verify/CCleanScan.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "verify/LeBytes.h"
#include "verify/VerifyMessages.h"

namespace {

// Expected attributes of MFT records 0-31: bit (type / 16 - 1) set for each
// attribute type a freshly formatted volume gives the record.
uint16_t ExpectedAttributeMask(uint32_t record) {
  static constexpr uint16_t kFirst[12] = {0x0485, 0x0085, 0x0085, 0x00F5, 0x0095, 0x0795,
                                          0x0085, 0x0095, 0x0085, 0x0785, 0x0085, 0x0105};
  if (record < 12) return kFirst[record];
  if (record < 16) return 0x0091;
  if (record < 24) return 0;
  return 0xFFFF;
}

bool MaskAllows(uint16_t mask, uint32_t type) {
  const uint32_t bit = type / 16 - 1;  // wraps for types below 0x10: not allowed
  return bit < 16 && ((mask >> bit) & 1) != 0;
}

bool NameExpected(uint32_t record, const AttributeView& attr) {
  static constexpr const char* kFirst[12] = {"$MFT",     "$MFTMirr", "$LogFile", "$Volume",
                                             "$AttrDef", ".",        "$Bitmap",  "$Boot",
                                             "$BadClus", nullptr,    "$UpCase",  "$Extend"};
  if (record == 9) return FileNameMatches(attr, "$Quota") || FileNameMatches(attr, "$Secure");
  if (record < 12) return FileNameMatches(attr, kFirst[record]);
  for (const char* name : {"$ObjId", "$Quota", "$Reparse", "$UsnJrnl"}) {
    if (FileNameMatches(attr, name)) return true;
  }
  return false;
}

// The files a fresh format puts in the root folder, by record and name.
bool IsRootSystemName(const FileNameKey& key) {
  for (const char* name : {"$MFT", "$MFTMirr", "$LogFile", "$Volume", "$AttrDef", ".", "$Bitmap", "$Boot",
                           "$BadClus", "$Secure", "$UpCase", "$Extend", "$Quota"}) {
    if (FileNameIs(key, name)) return true;
  }
  return false;
}

uint64_t SaturatingMul(uint64_t a, uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }
uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// A run list no longer than its attribute allows; false when damaged.
bool ReadRuns(const AttributeView& attr, std::vector<DataRun>& runs) {
  runs.clear();
  RunListReader reader(attr);
  DataRun run;
  while (reader.Next(run)) runs.push_back(run);
  return !reader.Damaged();
}

}  // namespace

// Reads the next run of sectors while the scan judges the last one, so the
// medium never waits for the judging. The controller is used by one thread at
// a time: the scan touches it only when no read is in flight.
class CScanReadAhead {
 public:
  explicit CScanReadAhead(CDriveController& drive) : drive_(drive), worker_([this] { Loop(); }) {}
  ~CScanReadAhead() {
    if (busy_) (void)Wait();
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
  }
  CScanReadAhead(const CScanReadAhead&) = delete;
  CScanReadAhead& operator=(const CScanReadAhead&) = delete;

  void Start(uint8_t* buffer, uint64_t first, uint32_t count) {
    {
      std::lock_guard lock(mutex_);
      buffer_ = buffer;
      first_ = first;
      count_ = count;
      requested_ = true;
      done_ = false;
    }
    busy_ = true;
    wake_.notify_all();
  }
  [[nodiscard]] bool Wait() {
    std::unique_lock lock(mutex_);
    doneWake_.wait(lock, [this] { return done_; });
    busy_ = false;
    return ok_;
  }
  bool Busy() const { return busy_; }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || requested_; });
      if (quit_) return;
      requested_ = false;
      uint8_t* buffer = buffer_;
      const uint64_t first = first_;
      const uint32_t count = count_;
      lock.unlock();
      const bool ok = drive_.ReadSectorsAt(buffer, first, static_cast<uint16_t>(count));
      lock.lock();
      ok_ = ok;
      done_ = true;
      doneWake_.notify_all();
    }
  }

  CDriveController& drive_;
  std::mutex mutex_;
  std::condition_variable wake_, doneWake_;
  uint8_t* buffer_ = nullptr;
  uint64_t first_ = 0;
  uint32_t count_ = 0;
  bool requested_ = false;
  bool done_ = false;
  bool ok_ = false;
  bool quit_ = false;
  bool busy_ = false;
  std::thread worker_;
};

// The read-ahead workers of one scan: two, each with a controller of its
// own on the same drive, so one read is in flight while the other worker
// prepares its buffer (the controller marks every buffer before a read);
// or, when no second controller can be had, one on the scan's own.
struct CScanReaders {
  std::vector<std::unique_ptr<CDriveController>> own;  // outlives the workers
  std::vector<std::unique_ptr<CScanReadAhead>> workers;
  size_t Depth() const { return workers.size(); }
  CScanReadAhead& For(uint64_t index) { return *workers[index % workers.size()]; }
};


CCleanScan::CCleanScan(CDriveController& drive, platform::MessageTarget* window,
                       TerminateCheck terminated, bool quick)
    : drive_(drive),
      window_(window),
      terminated_(std::move(terminated)),
      quick_(quick),
      buffer_(size_t{kReadSectors} * platform::kSectorBytes),
      spare_(size_t{kReadSectors} * platform::kSectorBytes),
      third_(size_t{kReadSectors} * platform::kSectorBytes) {}

bool CCleanScan::CreateDirtySet(uint64_t unitCount, bool unitsAreSectors) {
  auto set = std::make_unique<CDirtyBitmap>(unitCount, unitsAreSectors);
  if (!set->IsAllocated() || !buffer_ || !spare_ || !third_) return false;
  dirty_ = std::move(set);
  unitsAreSectors_.store(unitsAreSectors);
  hasDirtySet_.store(true);
  return true;
}

std::unique_ptr<CDirtyBitmap> CCleanScan::TakeDirtySet() {
  // The unit kind stays known, so the counts still read in sectors.
  return std::move(dirty_);
}

void CCleanScan::ReleaseNtfsState() {
  bitmap_.reset();
  extents_.reset();
  mftRuns_.clear();
}

void CCleanScan::Post(uintptr_t code, intptr_t value) {
  if (window_) window_->Post(WM_VERIFY_NOTIFY, code, value);
}

// Percent as done / whole x scale in single precision, truncated, posted
// only when it differs from the last one posted: a scan of millions of units
// would otherwise flood the window with identical messages.
void CCleanScan::PostProgress(uint64_t done, uint64_t whole, float scale) {
  const float ratio = whole == 0 ? 1.0f : static_cast<float>(done) / static_cast<float>(whole);
  const float value = ratio * scale;
  // The last step of a scan passes the end of the volume. Posted as it is,
  // a small volume would report several hundred percent, which a window
  // that shows the value's low byte reads as some small figure and then
  // calls a finished run cancelled; so the value stops at 100.
  const int64_t percent = value >= 100.0f ? int64_t{100} : static_cast<int64_t>(value);
  if (percent == lastProgress_) return;
  lastProgress_ = percent;
  Post(VN_PROGRESS, static_cast<intptr_t>(percent));
}

bool CCleanScan::StopRequested() {
  if (terminated_ && terminated_()) {
    cancelled_ = true;
    return true;
  }
  return false;
}

void CCleanScan::GiveUpUnreadable() {
  unreadable_ = true;
  Post(VN_UNREADABLE, -1);
}

void CCleanScan::MarkUnitDirty(uint64_t unit) {
  if (!dirty_) return;
  if (unit > dirty_->BitCount()) {
    // Only a damaged layout names a unit past the volume; it still counts,
    // once.
    if (!dirtyOutsideSet_.insert(unit).second) return;
    dirtyCount_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (dirty_->IsDirty(unit)) return;
  dirtyCount_.fetch_add(1, std::memory_order_relaxed);
  dirty_->MarkDirty(unit);
}

void CCleanScan::RecordReadErrors() {
  for (int32_t i = 0;; ++i) {
    const int64_t bad = drive_.GetBadSector(i);
    if (bad < 0) break;
    errorCount_.fetch_add(1, std::memory_order_relaxed);
    MarkUnitDirty(static_cast<uint64_t>(bad) / sectorsPerUnit_);
  }
  Post(VN_ERROR_COUNT, static_cast<intptr_t>(ErrorCount()));
}

void CCleanScan::RecordMissingSectors(uint64_t count) {
  if (count == 0) return;
  const uint32_t before = errorCount_.load(std::memory_order_relaxed);
  const uint64_t after = std::min<uint64_t>(uint64_t{before} + count, UINT32_MAX);
  errorCount_.store(static_cast<uint32_t>(after), std::memory_order_relaxed);
  Post(VN_ERROR_COUNT, static_cast<intptr_t>(ErrorCount()));
}

bool CCleanScan::FindSectorReference(uint64_t first, uint64_t last) {
  uint8_t* buf = buffer_.data();
  uint32_t attempts = 0;
  // Sectors past the last readable one do not exist; trying them would
  // only count phantom errors.
  for (uint64_t s = first; s <= last && attempts < kMaxReferenceAttempts; ++s, ++attempts) {
    if (drive_.ReadSectorsAt(buf, s, 1)) {
      pattern_ = ReferencePatternOf(buf[0], buf[1]);
      return true;
    }
    RecordReadErrors();
  }
  GiveUpUnreadable();
  return false;
}

template <typename Judge>
void CCleanScan::JudgeRead(uint8_t* buf, uint64_t first, uint32_t count, bool readOk, Judge&& judge) {
  auto judgeAll = [&](uint64_t at, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
      judge(at + i, std::span<uint8_t>(buf + size_t{i} * platform::kSectorBytes, platform::kSectorBytes));
    }
  };
  if (readOk) {
    judgeAll(first, count);
    return;
  }
  if (count <= kJudgeSectors) {
    RecordReadErrors();
    return;
  }
  for (uint32_t done = 0; done < count; done += kJudgeSectors) {
    const uint32_t n = std::min(kJudgeSectors, count - done);
    if (drive_.ReadSectorsAt(buf, first + done, static_cast<uint16_t>(n))) {
      judgeAll(first + done, n);
    } else {
      RecordReadErrors();
    }
  }
}

void CCleanScan::MakeReaders(CScanReaders& pool) {
  if (readerFactory_) {
    for (int i = 0; i < 2; ++i) {
      std::unique_ptr<CDriveController> reader = readerFactory_();
      if (!reader) break;
      pool.own.push_back(std::move(reader));
    }
  }
  if (pool.own.size() == 2) {
    for (auto& reader : pool.own) pool.workers.push_back(std::make_unique<CScanReadAhead>(*reader));
  } else {
    pool.own.clear();
    pool.workers.push_back(std::make_unique<CScanReadAhead>(drive_));
  }
}

template <typename Judge>
void CCleanScan::ReadAndJudge(uint64_t first, uint32_t count, Judge&& judge) {
  const bool ok = drive_.ReadSectorsAt(buffer_.data(), first, static_cast<uint16_t>(count));
  JudgeRead(buffer_.data(), first, count, ok, judge);
}

template <typename Judge, typename Bulk>
bool CCleanScan::ScanSectors(uint64_t from, uint64_t last, uint64_t progressWhole, Judge&& judge,
                             Bulk&& wholeRunClean, bool sample) {
  if (sample) {
    for (uint64_t c = from; c <= last;) {
      ReadAndJudge(c, 1, judge);
      if (StopRequested()) return false;
      c += kQuickStride;
      PostProgress(c, progressWhole, 100.0f);
    }
    return true;
  }
  CScanReaders pool;
  MakeReaders(pool);
  const uint64_t depth = pool.Depth();
  uint8_t* buffers[3] = {buffer_.data(), spare_.data(), third_.data()};
  const uint64_t bufferCount = depth + 1;
  auto countAt = [&](uint64_t c) { return static_cast<uint32_t>(std::min<uint64_t>(kReadSectors, last - c + 1)); };
  // Run i starts at from + i x kReadSectors, is read by worker i % depth into
  // buffer i % (depth + 1): when run i + depth is started, its buffer is
  // the one run i - 1 was judged in, and its worker has just finished run i.
  auto startRun = [&](uint64_t i) {
    const uint64_t c = from + i * kReadSectors;
    if (c > last) return;
    pool.For(i).Start(buffers[i % bufferCount], c, countAt(c));
  };
  for (uint64_t i = 0; i < depth; ++i) startRun(i);
  for (uint64_t i = 0;; ++i) {
    const uint64_t c = from + i * kReadSectors;
    if (c > last) break;
    const uint32_t count = countAt(c);
    uint8_t* buf = buffers[i % bufferCount];
    const bool ok = pool.For(i).Wait();
    // A failed run is read again piece by piece on the scan's controller
    // (with one worker, before that worker is given anything else); a good
    // one is judged while the next runs are read.
    if (!ok) JudgeRead(buf, c, count, false, judge);
    startRun(i + depth);
    if (ok && !wholeRunClean(c, std::span<const uint8_t>(buf, size_t{count} * platform::kSectorBytes))) {
      JudgeRead(buf, c, count, true, judge);
    }
    if (StopRequested()) return false;
    PostProgress(c + kReadSectors, progressWhole, 100.0f);
  }
  return true;
}

void CCleanScan::JudgeRawSector(uint64_t sector, std::span<uint8_t> bytes) {
  // Raw volumes have no leading-zero allowance and no clean sample: every
  // byte must follow the reference.
  const bool clean = pattern_.pairMode ? FirstNonComplementaryPair(bytes) >= bytes.size()
                                       : FirstByteNotEqual(bytes, pattern_.referenceByte) >= bytes.size();
  if (!clean) MarkUnitDirty(sector);
}

void CCleanScan::ScanRaw() {
  sectorsPerUnit_ = 1;
  const uint64_t n = drive_.GetLastSector();
  Post(VN_TOTAL_SECTORS, static_cast<intptr_t>(n));
  if (!FindSectorReference(0, n)) return;
  ScanSectors(
      0, n, n, [this](uint64_t s, std::span<uint8_t> b) { JudgeRawSector(s, b); },
      [this](uint64_t, std::span<const uint8_t> run) {
        return pattern_.pairMode ? AllComplementaryPairs(run) : AllBytesEqual(run, pattern_.referenceByte);
      },
      quick_);
}

bool CCleanScan::IsBlankFolderSector(std::span<const uint8_t> bytes) const {
  // Every 32-byte entry is the volume label or blank. Anything else names a
  // file or folder that is there, was deleted (0xE5) or left a long name.
  for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
    const std::span<const uint8_t> entry = bytes.subspan(at, 32);
    if (FirstByteNotEqual(entry, 0) < entry.size() && !IsVolumeLabelEntry(entry)) return false;
  }
  return true;
}

void CCleanScan::JudgeFatSector(const FatRegions& fat, uint64_t s, std::span<uint8_t> bytes) {
  // The first entries of each FAT hold the media descriptor and end-of-chain
  // marks, never zero even on an empty volume.
  if (fat.IsFatStart(s)) std::memset(bytes.data(), 0, fat.reservedEntryBytes);
  bool dirty;
  if (fat.IsRootFolder(s)) {
    dirty = !IsBlankFolderSector(bytes);
  } else if (pattern_.pairMode) {
    // The last sector is data like any other: after a three-pass wipe it
    // holds that pass's pairs, and judging it byte by byte as metadata would
    // call every such volume dirty.
    const bool data = s >= fat.checkStart && static_cast<int64_t>(s) <= fat.lastSector;
    if (data) {
      dirty = FirstNonComplementaryPair(bytes) < bytes.size();
    } else {
      dirty = false;
      size_t i = FirstByteNotEqual(bytes, 0);
      while (i < bytes.size()) {
        if (i + 32 <= bytes.size() && IsVolumeLabelEntry(bytes.subspan(i, 32))) {
          i = FirstByteNotEqual(bytes, 0, i + 32);
          continue;
        }
        dirty = true;
        break;
      }
    }
  } else {
    // FAT runs carry no clean sample. A sector that begins with a label
    // entry is judged on what follows it, not let through whole.
    const size_t from = IsVolumeLabelEntry(bytes.first(32)) ? 32 : 0;
    dirty = !::IsCleanBlock(bytes.subspan(from), false, pattern_.referenceByte, nullptr);
  }
  if (dirty) MarkUnitDirty(s);
}

void CCleanScan::JudgeFat32RootChain(const FatRegions& fat, uint64_t last) {
  // The root folder's first cluster is judged with the metadata; the rest of
  // its chain lies in the data area, which quick mode only samples. A chain
  // no folder could have (more clusters than 65,536 entries fill) stops.
  const uint64_t end = static_cast<uint64_t>(fat.lastSector + 1);
  if (fat.kind != 32 || fat.clusterSectors == 0 || end <= fat.dataStart) return;
  const uint64_t clusters = (end - fat.dataStart) / fat.clusterSectors;
  const uint64_t maxHops = 65536 * 32 / (uint64_t{fat.clusterSectors} * platform::kSectorBytes) + 1;
  uint8_t* buf = buffer_.data();
  uint64_t cluster = fat.rootCluster;
  for (uint64_t hop = 0; hop < maxHops; ++hop) {
    const uint64_t entryByte = cluster * 4;
    const uint64_t fatSector = fat.firstFat + entryByte / platform::kSectorBytes;
    // A sector outside the first FAT, or one that cannot be read (the scan
    // of the FATs counts it), ends the walk.
    if (fatSector >= fat.firstFat + fat.fatSectors || fatSector > last || !drive_.ReadSectorsAt(buf, fatSector, 1)) {
      return;
    }
    uint32_t next;
    if (!le::U32(std::span<const uint8_t>(buf, platform::kSectorBytes), entryByte % platform::kSectorBytes, next)) return;
    next &= 0x0FFFFFFF;
    if (next < 2 || next - 2 >= clusters) return;  // end of chain, or no cluster of this volume
    cluster = next;
    const uint64_t first = fat.dataStart + (cluster - 2) * fat.clusterSectors;
    ReadAndJudge(first, static_cast<uint32_t>(std::min<uint64_t>(fat.clusterSectors, last - first + 1)),
                 [&](uint64_t s, std::span<uint8_t> b) {
                   if (!IsBlankFolderSector(b)) MarkUnitDirty(s);
                 });
  }
}

void CCleanScan::ScanFat(uint8_t kind) {
  sectorsPerUnit_ = 1;
  uint8_t fatBoot[62], fat32Boot[90];
  drive_.CopyFatBootSector(fatBoot);
  drive_.CopyFat32BootSector(fat32Boot);
  FatRegions fat;
  // A layout that gives no sectors to judge is no reason to judge none: the
  // volume is then verified as plain sectors, as an unknown one is, instead
  // of ending with nothing scanned.
  if (!ReadFatRegions(kind, fatBoot, fat32Boot, fat) || fat.lastSector < 0) {
    ScanRaw();
    return;
  }
  Post(VN_TOTAL_SECTORS, static_cast<intptr_t>(fat.lastSector));
  Post(VN_CLUSTER_SIZE, static_cast<intptr_t>(fat.clusterBytes));

  // A boot sector may claim more sectors than the medium has; those cannot
  // be read, so the scan ends at the last readable one.
  const uint64_t last = std::min<uint64_t>(static_cast<uint64_t>(fat.lastSector), drive_.GetLastSector());
  if (!FindSectorReference(fat.checkStart, last)) return;

  if (last < fat.firstFat) return;
  auto judge = [&](uint64_t s, std::span<uint8_t> b) { JudgeFatSector(fat, s, b); };
  auto wholeRunClean = [&](uint64_t first, std::span<const uint8_t> run) {
    // Clearing the reserved FAT entries only adds zeros, so a run that is
    // all reference byte or all zeros stays clean sector by sector; the
    // root folder must be zeros whatever the reference.
    const uint64_t end = first + run.size() / platform::kSectorBytes - 1;
    const bool touchesRoot = first < fat.checkStart && end >= fat.rootStart;
    if (!pattern_.pairMode) {
      return (!touchesRoot && AllBytesEqual(run, pattern_.referenceByte)) || AllBytesEqual(run, 0);
    }
    if (first >= fat.checkStart && static_cast<int64_t>(end) <= fat.lastSector) return AllComplementaryPairs(run);
    return end < fat.checkStart && AllBytesEqual(run, 0);
  };
  // The FATs and the root folder are small and say what the volume holds:
  // they are read whole even in quick mode, which samples the data area.
  bool completed = true;
  if (quick_) {
    const uint64_t metadataEnd = std::min(last, fat.checkStart - 1);
    if (fat.checkStart > fat.firstFat) {
      completed = ScanSectors(fat.firstFat, metadataEnd, static_cast<uint64_t>(fat.lastSector), judge, wholeRunClean, false);
    }
    if (completed) JudgeFat32RootChain(fat, last);
    if (completed && fat.checkStart <= last) {
      completed = ScanSectors(fat.checkStart, last, static_cast<uint64_t>(fat.lastSector), judge, wholeRunClean, true);
    }
  } else {
    JudgeFat32RootChain(fat, last);
    completed = ScanSectors(fat.firstFat, last, static_cast<uint64_t>(fat.lastSector), judge, wholeRunClean, false);
  }
  // What the medium lacks of the volume was not verified: it is not clean,
  // and the run is not cut short either (it covered all there is).
  if (completed && static_cast<uint64_t>(fat.lastSector) > last) {
    RecordMissingSectors(static_cast<uint64_t>(fat.lastSector) - last);
    PostProgress(1, 1, 100.0f);
  }
}

void CCleanScan::ScanNtfs(const NtfsBoot& boot) {
  ntfsBoot_ = boot;
  ntfs_ = NtfsGeometryOf(boot);
  if (!ntfs_.valid) return;
  sectorsPerUnit_ = ntfs_.sectorsPerCluster;
  Post(VN_TOTAL_SECTORS, static_cast<intptr_t>(static_cast<uint32_t>(boot.totalSectors)));
  Post(VN_CLUSTER_SIZE, static_cast<intptr_t>(ntfs_.clusterBytes));
  CheckSystemRecords();
  if (cancelled_) return;
  if (!bitmap_ || !extents_ || extents_->Count() < 2) {
    // Without the volume bitmap (or the system files' places) no cluster can
    // be judged: such a volume is never called clean.
    MarkUnitDirty(bitmapRecordSector_ / ntfs_.sectorsPerCluster);
  } else {
    // Learnt before the file records, whose blank ones may hold residue.
    (void)FindClusterReference();
  }
  CheckFileRecords();
  if (!cancelled_) ScanNtfsClusters();
  if (!cancelled_) PostProgress(1, 1, 100.0f);
}

uint64_t CCleanScan::MediumBytes() { return SaturatingMul(drive_.GetLastSector() + 1, platform::kSectorBytes); }

bool CCleanScan::ReadStream(const std::vector<DataRun>& runs, uint64_t offset, uint64_t length, uint8_t* out) {
  const uint64_t spc = ntfs_.sectorsPerCluster;
  uint64_t runStart = 0;
  for (const DataRun& run : runs) {
    if (length == 0) break;
    const uint64_t runBytes = SaturatingMul(run.length, ntfs_.clusterBytes);
    if (offset >= SaturatingAdd(runStart, runBytes)) {
      runStart = SaturatingAdd(runStart, runBytes);
      continue;
    }
    const uint64_t within = offset - runStart;
    const uint64_t n = std::min(length, runBytes - within);
    if (run.sparse) {
      std::memset(out, 0, static_cast<size_t>(n));
    } else {
      const uint64_t first = SaturatingAdd(SaturatingMul(run.lcn, spc), within / platform::kSectorBytes);
      const uint64_t sectors = n / platform::kSectorBytes;
      for (uint64_t done = 0; done < sectors; done += kReadSectors) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kReadSectors, sectors - done));
        if (!drive_.ReadSectorsAt(out + done * platform::kSectorBytes, first + done, static_cast<uint16_t>(count))) {
          return false;
        }
      }
    }
    out += n;
    offset += n;
    length -= n;
    runStart = SaturatingAdd(runStart, runBytes);
  }
  return length == 0;
}

bool CCleanScan::StreamSector(const std::vector<DataRun>& runs, uint64_t offset, uint64_t& sector) const {
  uint64_t runStart = 0;
  for (const DataRun& run : runs) {
    const uint64_t runBytes = SaturatingMul(run.length, ntfs_.clusterBytes);
    if (offset < SaturatingAdd(runStart, runBytes)) {
      if (run.sparse) return false;
      sector = SaturatingAdd(SaturatingMul(run.lcn, ntfs_.sectorsPerCluster),
                             (offset - runStart) / platform::kSectorBytes);
      return true;
    }
    runStart = SaturatingAdd(runStart, runBytes);
  }
  return false;
}

void CCleanScan::MarkStream(const std::vector<DataRun>& runs, uint64_t offset, uint64_t length) {
  for (uint64_t at = offset; at < offset + length; at += platform::kSectorBytes) {
    uint64_t sector;
    if (StreamSector(runs, at, sector)) MarkUnitDirty(sector / ntfs_.sectorsPerCluster);
  }
}

bool CCleanScan::FileRecordClean(uint64_t number, std::span<uint8_t> record) const {
  MftRecordHeader header;
  if (!ReadMftRecordHeader(record, header)) return false;
  // Never made a record: it must hold nothing but blanks or wipe residue.
  if (!header.signature) return IsCleanBlock(record, pattern_.pairMode, pattern_.referenceByte);
  // A file or folder that exists. (Records below 32 in use are the system
  // files, judged by CheckSystemRecords.)
  if (header.InUse()) return number < kSystemRecords;
  // An unused record as formatters leave one: no attribute, or (mkntfs, in
  // records 16-23) a bare standard information, and blanks past its end.
  // A deleted file keeps its name, data and index attributes here.
  if (!ApplyUpdateSequence(record)) return false;
  AttributeWalker walker(record, header.firstAttribute);
  AttributeView attr;
  while (walker.Next(attr)) {
    if (attr.type != kAttrStandardInformation || attr.nonResident) return false;
  }
  uint32_t inUse;
  if (walker.Damaged() || !le::U32(record, 0x18, inUse) || inUse > record.size()) return false;
  return IsCleanBlock(record.subspan(inUse), pattern_.pairMode, pattern_.referenceByte);
}

void CCleanScan::CheckFileRecords() {
  if (!ntfs_.valid) return;
  const uint64_t spc = ntfs_.sectorsPerCluster;
  if (mftRuns_.empty() || mftRecordBytes_ == 0) {
    // Without $MFT's runs no file record can be judged: not clean.
    MarkUnitDirty(ntfs_.firstMftSector / spc);
    return;
  }
  const uint64_t recordBytes = mftRecordBytes_;
  uint64_t runBytes = 0;
  for (const DataRun& run : mftRuns_) runBytes = SaturatingAdd(runBytes, SaturatingMul(run.length, ntfs_.clusterBytes));
  const uint64_t records = std::min({mftDataSize_, runBytes, MediumBytes()}) / recordBytes;
  const uint64_t perRead = std::max<uint64_t>(1, buffer_.size() / recordBytes);
  platform::AlignedBuffer single(recordBytes);
  if (!single) return;
  for (uint64_t first = kFirstFileRecord; first < records; first += perRead) {
    if (StopRequested()) return;
    const uint64_t count = std::min(perRead, records - first);
    const bool ok = ReadStream(mftRuns_, first * recordBytes, count * recordBytes, buffer_.data());
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t r = first + i;
      std::span<uint8_t> record(buffer_.data() + i * recordBytes, static_cast<size_t>(recordBytes));
      if (!ok) {
        // Record by record, so each failure names its own sectors. Records
        // below 32 had their errors counted with the system records.
        if (!ReadStream(mftRuns_, r * recordBytes, recordBytes, single.data())) {
          if (r >= kSystemRecords) RecordReadErrors();
          continue;
        }
        record = std::span<uint8_t>(single.data(), static_cast<size_t>(recordBytes));
      }
      if (!FileRecordClean(r, record)) MarkStream(mftRuns_, r * recordBytes, recordBytes);
    }
  }
}

template <typename DirtyAt>
void CCleanScan::FindStaleKeys(std::span<const uint8_t> region, DirtyAt&& dirtyAt) {
  // Removing an entry moves the ones after it down and leaves the tail of
  // the node as it was: a key of a file of the root folder may lie there,
  // 8-byte aligned as every entry is.
  for (size_t at = 0; at + 0x42 <= region.size(); at += 8) {
    FileNameKey key;
    if (!ReadFileNameKey(region.subspan(at), key) || key.parentRecord != 5 || key.name.empty() ||
        key.nameSpace > 3) {
      continue;
    }
    bool blankUnit = false;
    for (size_t i = 0; i + 1 < key.name.size(); i += 2) blankUnit |= key.name[i] == 0 && key.name[i + 1] == 0;
    if (!blankUnit && !IsRootSystemName(key)) dirtyAt(at);
  }
}

template <typename DirtyAt>
void CCleanScan::JudgeIndexNode(std::span<const uint8_t> node, DirtyAt&& dirtyAt) {
  IndexHeader header;
  if (!ReadIndexHeader(node, 0, header) || header.entriesOffset < 0x10 || header.entriesOffset > header.bytesInUse ||
      header.bytesInUse > node.size()) {
    dirtyAt(0);
    return;
  }
  IndexEntryWalker walker(node.subspan(header.entriesOffset, header.bytesInUse - header.entriesOffset));
  IndexEntryView entry;
  size_t at = header.entriesOffset;
  while (walker.Next(entry)) {
    FileNameKey key;
    if (!entry.Last() && (!ReadFileNameKey(entry.key, key) || entry.fileRecord >= 16 || !IsRootSystemName(key))) {
      dirtyAt(at);
    }
    at += entry.length;
  }
  if (walker.Damaged()) dirtyAt(at);
  const size_t slackStart = (size_t{header.bytesInUse} + 7) / 8 * 8;
  const size_t slackEnd = std::min<size_t>(std::max(header.bytesAllocated, header.bytesInUse), node.size());
  if (slackStart < slackEnd) {
    FindStaleKeys(node.subspan(slackStart, slackEnd - slackStart), [&](size_t o) { dirtyAt(slackStart + o); });
  }
}

void CCleanScan::CheckIndexAllocation(const AttributeView& attr, uint32_t blockBytes, uint64_t recordCluster) {
  std::vector<DataRun> runs;
  uint64_t allocated = 0, dataSize = 0;
  if (!ReadRuns(attr, runs) || !ReadNonResidentSizes(attr, allocated, dataSize)) {
    MarkUnitDirty(recordCluster);
    return;
  }
  uint64_t runBytes = 0;
  for (const DataRun& run : runs) runBytes = SaturatingAdd(runBytes, SaturatingMul(run.length, ntfs_.clusterBytes));
  const uint64_t total = std::min({std::max(allocated, dataSize), runBytes, MediumBytes()});
  platform::AlignedBuffer block(blockBytes);
  if (!block) return;
  const std::span<uint8_t> bytes(block.data(), blockBytes);
  for (uint64_t offset = 0; offset + blockBytes <= total; offset += blockBytes) {
    if (StopRequested()) return;
    if (!ReadStream(runs, offset, blockBytes, block.data())) {
      RecordReadErrors();
      continue;
    }
    auto dirtyAt = [&](size_t at) {
      uint64_t sector;
      if (StreamSector(runs, offset + at, sector)) MarkUnitDirty(sector / ntfs_.sectorsPerCluster);
    };
    const bool indexBlock = bytes[0] == 'I' && bytes[1] == 'N' && bytes[2] == 'D' && bytes[3] == 'X' &&
                            ApplyUpdateSequence(bytes);
    if (indexBlock) {
      JudgeIndexNode(bytes.subspan(0x18), [&](size_t at) { dirtyAt(0x18 + at); });
    } else {
      // A block not (or no longer) an index block: any key in it is stale.
      FindStaleKeys(bytes, dirtyAt);
    }
  }
}

void CCleanScan::CheckRootIndex(std::span<const uint8_t> record, uint16_t firstAttribute, uint64_t recordSector) {
  const uint64_t spc = ntfs_.sectorsPerCluster;
  auto dirtyAt = [&](size_t at) { MarkUnitDirty((recordSector + at / platform::kSectorBytes) / spc); };
  uint32_t blockBytes = 4096;
  AttributeWalker walker(record, firstAttribute);
  AttributeView attr;
  while (walker.Next(attr)) {
    if (attr.type == kAttrIndexRoot && !attr.nonResident) {
      uint32_t valueLength, size;
      uint16_t valueOffset;
      if (!le::U32(attr.bytes, 0x10, valueLength) || !le::U16(attr.bytes, 0x14, valueOffset) ||
          !le::Fits(attr.bytes, valueOffset, valueLength) || valueLength < 0x20) {
        dirtyAt(attr.offset);
        continue;
      }
      const std::span<const uint8_t> value = attr.bytes.subspan(valueOffset, valueLength);
      // The index block size, 4 KiB on every volume formatters make.
      if (le::U32(value, 0x08, size) && size >= 512 && size <= kMaxMftRecordBytes && size % 512 == 0) {
        blockBytes = size;
      }
      const size_t node = size_t{attr.offset} + valueOffset + 0x10;
      JudgeIndexNode(value.subspan(0x10), [&](size_t at) { dirtyAt(node + at); });
    } else if (attr.type == kAttrIndexAllocation && attr.nonResident) {
      CheckIndexAllocation(attr, blockBytes, (recordSector + attr.offset / platform::kSectorBytes) / spc);
    }
  }
  // Past the record's last attribute: a key an index root that shrank left.
  uint32_t inUse;
  if (le::U32(record, 0x18, inUse) && inUse < record.size()) {
    const size_t from = (size_t{inUse} + 7) / 8 * 8;
    if (from < record.size()) FindStaleKeys(record.subspan(from), [&](size_t at) { dirtyAt(from + at); });
  }
}

bool CCleanScan::OnlyStandardInformation(std::span<const uint8_t> record, uint16_t firstAttribute) const {
  AttributeWalker walker(record, firstAttribute);
  AttributeView attr;
  int count = 0;
  bool onlySi = true;
  while (walker.Next(attr)) {
    ++count;
    if (attr.type != kAttrStandardInformation || attr.nonResident) onlySi = false;
  }
  return count == 1 && onlySi && !walker.Damaged();
}

bool CCleanScan::ReadVolumeBitmap(const FirstRun& run, uint64_t dataSize) {
  const uint64_t spc = ntfs_.sectorsPerCluster;
  // The bitmap needs one bit per cluster of the volume, rounded up to whole
  // clusters as NTFS allocates it; a run claiming more (a damaged record) is
  // read no further than that, so it cannot exhaust memory.
  const uint64_t deviceClusters = (drive_.GetLastSector() + 1) / spc;
  const uint64_t clusters = std::min(ntfs_.clusterCount, deviceClusters);
  const uint64_t needed = (clusters + 7) / 8;
  const uint64_t cap = (needed + ntfs_.clusterBytes - 1) / ntfs_.clusterBytes * ntfs_.clusterBytes;
  const uint64_t bytes = std::min<uint64_t>(uint64_t{run.length} * ntfs_.clusterBytes, cap);
  const uint64_t sectors = (bytes + platform::kSectorBytes - 1) / platform::kSectorBytes;
  platform::AlignedBuffer data(static_cast<size_t>(std::max<uint64_t>(sectors, 1) * platform::kSectorBytes));
  if (!data) return false;
  const uint64_t first = uint64_t{run.offset} * spc;
  for (uint64_t done = 0; done < sectors; done += kReadSectors) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kReadSectors, sectors - done));
    if (!drive_.ReadSectorsAt(data.data() + done * platform::kSectorBytes, first + done, static_cast<uint16_t>(n))) {
      RecordReadErrors();
      bitmap_.reset();
      return false;
    }
  }
  bitmap_ = std::make_unique<CBitmap>(std::span<const uint8_t>(data.data(), static_cast<size_t>(bytes)), bytes * 8);
  bitmapBitCount_ = dataSize > UINT64_MAX / 8 ? UINT64_MAX : dataSize * 8;
  return true;
}

void CCleanScan::CheckSystemRecords() {
  if (!ntfs_.valid) return;
  const uint32_t spc = ntfs_.sectorsPerCluster;
  extents_ = std::make_unique<CNumberSet>(50, 50);
  platform::AlignedBuffer record(kMaxMftRecordBytes);
  if (!record) return;
  uint8_t* buf = record.data();
  uint64_t sector = ntfs_.firstMftSector;

  for (uint32_t r = 0; r < kSystemRecords; ++r) {
    if (StopRequested()) return;
    auto mark = [&] { MarkUnitDirty(sector / spc); };
    if (r == 6) bitmapRecordSector_ = sector;
    if (!drive_.ReadSectorsAt(buf, sector, 1)) {
      // Unread, the record cannot be called clean. The walk moves on by the
      // record size the boot sector gives, so later records are read from
      // their own places instead of this one (1 KiB records when the boot
      // sector gives no size).
      RecordReadErrors();
      sector += (ntfs_.mftRecordBytes != 0 ? ntfs_.mftRecordBytes : 1024) / platform::kSectorBytes;
      continue;
    }
    MftRecordHeader header;
    if (!ReadMftRecordHeader(std::span<const uint8_t>(buf, platform::kSectorBytes), header)) continue;
    if (r <= 15 && !header.signature) {
      mark();
      continue;
    }
    if (r <= 15 && !header.InUse()) mark();
    if (r >= 16 && r <= 23 && header.InUse()) mark();
    if (!header.signature) continue;
    if (!IsPlausibleRecordSize(header.allocatedSize)) {
      // No length to read or to step by: judged damaged, and the walk stays.
      mark();
      continue;
    }
    const uint32_t recordSectors = header.allocatedSize / platform::kSectorBytes;
    if (!drive_.ReadSectorsAt(buf, sector, static_cast<uint16_t>(recordSectors))) {
      RecordReadErrors();
      continue;
    }
    std::span<uint8_t> bytes(buf, header.allocatedSize);
    if (!ApplyUpdateSequence(bytes)) {
      // A torn or damaged record cannot be trusted as a fresh one.
      mark();
      sector += recordSectors;
      continue;
    }
    const uint16_t mask = ExpectedAttributeMask(r);
    // mkntfs leaves the unused records 16-23 with a bare standard
    // information attribute; that is how a fresh volume looks, so it passes.
    // Any other attribute in them is still dirt.
    const bool bareStandardInfo =
        r >= 16 && r <= 23 && !header.InUse() && OnlyStandardInformation(bytes, header.firstAttribute);

    AttributeWalker walker(bytes, header.firstAttribute);
    AttributeView attr;
    bool dropped = false;
    while (walker.Next(attr)) {
      if (!bareStandardInfo && !MaskAllows(mask, attr.type)) mark();
      if (attr.type == kAttrFileName && !NameExpected(r, attr)) mark();
      if (!attr.nonResident) continue;
      FirstRun run;
      uint64_t allocated = 0, dataSize = 0;
      if (!ReadFirstRun(attr, run) || !ReadNonResidentSizes(attr, allocated, dataSize)) {
        mark();
        continue;
      }
      if (run.present && !run.sparse) {
        const int32_t firstCluster = static_cast<int32_t>(run.offset);
        const int32_t lastCluster = static_cast<int32_t>(run.offset + run.length - 1);
        // The set only fails far beyond 32 records' worth of extents.
        (void)extents_->Add(firstCluster, true);
        (void)extents_->Add(lastCluster, true);
      }
      if (r == 0 && attr.type == kAttrData) {
        // $MFT's own data: where every other record lies.
        if (!ReadRuns(attr, mftRuns_)) {
          mftRuns_.clear();
          mark();
        }
        mftDataSize_ = dataSize;
        mftRecordBytes_ = header.allocatedSize;
      }
      const uint64_t covered = uint64_t{ntfs_.clusterBytes} * run.length;
      if (allocated != covered) mark();
      if (run.secondRunFollows) mark();
      if (r == 6 && attr.type == kAttrData) {
        if (!ReadVolumeBitmap(run, dataSize)) {
          dropped = true;
          break;
        }
      }
    }
    if (!dropped && walker.Damaged()) mark();
    if (r == 5 && !dropped) CheckRootIndex(bytes, header.firstAttribute, sector);
    sector += recordSectors;
  }
}

bool CCleanScan::FindClusterReference() {
  const uint64_t spc = ntfs_.sectorsPerCluster;
  // The highest free cluster of the volume: a medium longer than the volume
  // holds clusters past its end (mkntfs keeps its backup boot sector there),
  // which the bitmap does not describe and which hold no wipe residue.
  uint64_t cluster = drive_.GetLastSector() / spc;
  if (ntfs_.clusterCount > 0) cluster = std::min(cluster, ntfs_.clusterCount - 1);
  while (cluster > 0 && bitmap_->GetBit(cluster)) --cluster;
  uint8_t* buf = buffer_.data();
  for (uint32_t attempts = 0; attempts < kMaxReferenceAttempts; ++attempts) {
    // The first MiB of a larger cluster stands for it.
    if (drive_.ReadSectorsAt(buf, cluster * spc, static_cast<uint16_t>(std::min<uint64_t>(spc, kReadSectors)))) {
      pattern_ = ReferencePatternOf(buf[0], buf[1]);
      referenceFound_ = true;
      return true;
    }
    RecordReadErrors();
    if (cluster == 0) break;
    --cluster;
  }
  GiveUpUnreadable();
  return false;
}

bool CCleanScan::ScanNtfsClusters() {
  if (!ntfs_.valid || !bitmap_ || !extents_ || extents_->Count() < 2) return false;
  if (!referenceFound_ && (unreadable_ || !FindClusterReference())) return false;
  drive_.Rewind();

  const uint64_t spc = ntfs_.sectorsPerCluster;
  const uint64_t clusterBytes = uint64_t{spc} * platform::kSectorBytes;
  const uint64_t lastReadable = drive_.GetLastSector();
  uint32_t nextPair = 0;
  int64_t start = INT_MAX, end = INT_MAX;
  auto takePair = [&] {
    int32_t a = INT_MAX, b = INT_MAX;
    if (!extents_->GetAt(nextPair, a)) a = INT_MAX;
    if (!extents_->GetAt(nextPair + 1, b)) b = INT_MAX;
    start = a;
    end = b;
    nextPair += 2;
  };
  takePair();

  // $Bitmap is padded with set bits past the last cluster; those clusters
  // do not exist, so the walk ends at the volume's cluster count.
  const uint64_t limit = std::min(bitmapBitCount_, ntfs_.clusterCount);
  // Clusters whose first sector the medium holds; the rest of the volume is
  // missing from it and counted as unreadable after the walk.
  const uint64_t walkEnd = std::min(limit, lastReadable / spc + 1);
  const uint64_t step = quick_ ? 10 : 1;
  // Clusters are read in long sequential requests; each request covers whole
  // groups (one cluster, or ten in quick mode).
  const uint64_t perRead = std::max<uint64_t>(step, buffer_.size() / clusterBytes / step * step);
  CScanReaders pool;
  MakeReaders(pool);
  const uint64_t depth = pool.Depth();
  const uint64_t windowCount = depth + 1;
  platform::AlignedBuffer windows[3];
  for (uint64_t i = 0; i < windowCount; ++i) {
    windows[i] = platform::AlignedBuffer(static_cast<size_t>(perRead * clusterBytes));
    if (!windows[i]) return false;
  }
  uint8_t* buf = windows[0].data();
  uint64_t windowStart = 0, windowEnd = 0;  // clusters held in `buf`
  uint64_t nextWindow = 0;                   // index of the window to judge next
  // Never past the volume: a quick group at the end would otherwise read
  // clusters that do not exist and count their sectors as errors.
  auto countFrom = [&](uint64_t k) { return std::min(perRead, walkEnd - k); };
  // Window j holds clusters j x perRead on, read by worker j % depth into
  // buffer j % (depth + 1), as the sector scans do with their runs.
  auto startWindow = [&](uint64_t j) {
    const uint64_t k = j * perRead;
    if (k >= walkEnd) return;
    pool.For(j).Start(windows[j % windowCount].data(), k * spc, static_cast<uint32_t>(countFrom(k) * spc));
  };
  // The next window. When its read failed the same clusters are read again
  // group by group so each failure names its own sectors; a failed group is
  // judged as the controller left it.
  auto fill = [&](uint64_t k) {
    const uint64_t j = nextWindow++;
    buf = windows[j % windowCount].data();
    const bool ok = pool.For(j).Wait();
    const uint64_t count = countFrom(k);
    windowStart = k;
    windowEnd = k + count;
    if (!ok) {
      for (uint64_t g = 0; g < count; g += step) {
        const uint64_t n = std::min(step, count - g);
        if (!drive_.ReadSectorsAt(buf + g * clusterBytes, (k + g) * spc, static_cast<uint16_t>(n * spc))) {
          RecordReadErrors();
        }
      }
    }
    startWindow(j + depth);
  };
  for (uint64_t j = 0; j < depth; ++j) startWindow(j);

  bool stopped = false;
  for (uint64_t k = 0; k < walkEnd; k += step) {
    if (StopRequested()) {
      stopped = true;
      break;
    }
    PostProgress(k, bitmapBitCount_, 99.0f);
    const bool allocated = bitmap_->GetBit(k);
    if (k >= windowEnd) fill(k);
    const std::span<const uint8_t> cluster(buf + (k - windowStart) * clusterBytes, clusterBytes);
    const int64_t kk = static_cast<int64_t>(k);
    while (end < kk) takePair();
    if (start > kk) {
      if (allocated || !IsCleanBlock(cluster, pattern_.pairMode, pattern_.referenceByte)) MarkUnitDirty(k);
    } else {
      if (!allocated) MarkUnitDirty(k);
      if (kk == end) takePair();
    }
  }
  if (!stopped && walkEnd < limit) RecordMissingSectors((limit - walkEnd) * spc);
  return true;
}
