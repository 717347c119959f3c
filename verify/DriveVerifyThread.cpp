#include "verify/DriveVerifyThread.h"

#include <cctype>
#include <cstdio>

#include "platform/DriveTable.h"
#include "settings/CLogger.h"
#include "settings/CSettings.h"

namespace {
constexpr const char kDashes[] = "------------------------------------------------------------------";
static_assert(sizeof kDashes - 1 == 66);

// A verification only reads: the drive is opened read-only, so not even a
// fault of this program could write to it.
CDriveController::BackendFactory ReadOnlyDriveTableBackends() {
  return [](char letter) { return platform::DriveTable::Load().OpenBackend(letter, true); };
}
}  // namespace

DriveVerifyThread::DriveVerifyThread(bool createSuspended, bool quick, char driveLetter,
                                     platform::MessageTarget* window, CDriveController::BackendFactory factory)
    : letter_(static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter)))),
      window_(window),
      factory_(factory ? std::move(factory) : ReadOnlyDriveTableBackends()),
      controller_(factory_),
      scan_(controller_, window, [this] { return Terminated(); }, quick) {
  // The scan reads ahead on controllers of its own, opened on the same
  // drive from the same backends (read-only unless a test gave others).
  scan_.SetReaderFactory([this]() -> std::unique_ptr<CDriveController> {
    auto reader = std::make_unique<CDriveController>(factory_);
    reader->SetRetryPause(retryPause_);
    if (!reader->OpenDrive(letter_) && reader->GetLastErrorCode() != errc::kUnrecognizedVolume) return nullptr;
    return reader;
  });
  const bool ok = controller_.OpenDrive(letter_);
  openError_ = ok ? 0 : controller_.GetLastErrorCode();
  // An unrecognised file system is no reason to refuse: it is verified raw.
  opened_ = ok || openError_ == 0 || openError_ == errc::kUnrecognizedVolume;
  if (opened_) {
    // Found now, before the run, so the window's polls read a plain value
    // instead of racing the worker for the controller.
    totalSectors_.store(controller_.GetTotalSectors());
    sectorsPerCluster_.store(controller_.GetSectorsPerCluster());
  }
  if (!createSuspended && opened_) Resume();
}

DriveVerifyThread::~DriveVerifyThread() { Stop(); }

const char* DriveVerifyThread::FileSystemText(uint8_t type) {
  switch (type) {
    case FS_NTFS: return "NTFS";
    case FS_FAT12: return "FAT12";
    case FS_FAT16: return "FAT16";
    case FS_FAT32: return "FAT32";
    default: return "Unknown";
  }
}

uint32_t DriveVerifyThread::DirtySectorsSoFar() const {
  const uint32_t dirty = scan_.DirtyCount();
  if (scan_.HasDirtySet() && !scan_.UnitsAreSectors()) return dirty * sectorsPerCluster_.load();
  return dirty;
}

void DriveVerifyThread::Post(uintptr_t code, intptr_t value) {
  if (window_) window_->Post(WM_VERIFY_NOTIFY, code, value);
}

// A log line that cannot be written and the user's No stop the run the way
// the window's Stop does.
LogStop DriveVerifyThread::StopOnLogFailure() const {
  LogStop stop;
  stop.operation = LogOperation::kVerify;
  stop.driveLetter = letter_;
  stop.window = window_;
  stop.stopMessage = WM_VERIFY_NOTIFY;
  stop.wParam = VN_UNREADABLE;
  stop.lParam = 0;
  return stop;
}

void DriveVerifyThread::Log(const std::string& text) { LogLine(*this, StopOnLogFailure(), text); }

void DriveVerifyThread::LogStamped(const std::string& label) {
  LogStampedLine(*this, StopOnLogFailure(), label);
}

void DriveVerifyThread::WriteRecordTail() {
  timer_.Stop();
  LogStamped("Operation finished:");
  std::string h, m, s;
  timer_.FormatElapsed(h, m, s);
  Log("Total elapsed time (HH:MM:SS): " + h + ":" + m + ":" + s + "\r\n");
  const uint32_t errors = scan_.ErrorCount();
  const uint32_t dirty = scan_.DirtyCount();
  Log(std::string("\r\nOperation result: ") + (errors > 0 || dirty > 0 ? "FAILURE" : "SUCCESS") + "\r\n");
  Log("\r\nTotal disk sector read/write errors: " + std::to_string(errors));
  Log("\r\nTotal uncleaned disk sectors/clusters: " + std::to_string(dirty));
  const std::string drive(1, letter_);
  if (errors > 0) {
    Log("\r\n\r\nWARNING: Logical drive " + drive +
        ": has been found to contain errors.\r\nNullifex was unable to write to all disk sectors, meaning this "
        "disk\r\nmay still contain file data.");
  }
  if (dirty > 0) Log("\r\n\r\nFile data was encountered on logical drive " + drive + ":");
  Log(std::string("\r\n\r\n") + kDashes + "\r\n\r\n");
}

void DriveVerifyThread::Execute() {
  logging_ = CSettings().GetLogEnabled();
  if (logging_) {
    Log(std::string("Operation: Verify that drive ") + letter_ + ": is clean (all sectors examined).\r\n\r\n");
    timer_.Start();
    LogStamped("Operation began:");
  }

  const uint8_t type = controller_.GetFileSystemType();
  Post(VN_FS_TYPE, reinterpret_cast<intptr_t>(FileSystemText(type)));
  CDriveController::GetVolumeLabel(letter_, label_, sizeof label_);
  Post(VN_VOLUME_LABEL, reinterpret_cast<intptr_t>(label_));

  bool haveSet = false;
  switch (type) {
    case FS_NTFS: {
      if (!sample_.LoadFromFile(cleanSamplePath_)) sample_.Clear();
      scan_.SetCleanSample(sample_.Present() ? &sample_ : nullptr);
      uint8_t boot[84];
      controller_.CopyNtfsBootSector(boot);
      NtfsBoot ntfs;
      const bool readable = ReadNtfsBoot(boot, ntfs);
      const NtfsGeometry geometry = readable ? NtfsGeometryOf(ntfs) : NtfsGeometry{};
      if (!geometry.valid) {
        // No cluster size that makes sense: the volume is plain sectors.
        Post(VN_FS_TYPE, reinterpret_cast<intptr_t>("Unknown"));
        std::snprintf(label_, sizeof label_, "N/A");
        Post(VN_VOLUME_LABEL, reinterpret_cast<intptr_t>(label_));
        haveSet = scan_.CreateDirtySet(controller_.GetLastSector(), true);
        if (haveSet) scan_.ScanRaw();
      } else {
        // One bit per cluster. A boot sector claiming more sectors than the
        // medium holds gets no bigger a set than the medium needs.
        const uint64_t mediumSectors = (controller_.GetLastSector() + 1) * 512 / ntfs.bytesPerSector;
        const uint64_t sectors = std::min(ntfs.totalSectors, mediumSectors);
        // Clusters of 128 sectors and more are coded in the boot sector's
        // byte, which the controller gives as it stands. Stored before the
        // set of clusters exists, so no poll multiplies by the coded byte.
        sectorsPerCluster_.store(geometry.clusterSectors);
        haveSet = scan_.CreateDirtySet(sectors / geometry.clusterSectors, false);
        if (haveSet) scan_.ScanNtfs(ntfs);
      }
      break;
    }
    case FS_FAT12:
    case FS_FAT16:
    case FS_FAT32:
      haveSet = scan_.CreateDirtySet(controller_.GetTotalSectors(), true);
      if (haveSet) scan_.ScanFat(type);
      break;
    default:
      haveSet = scan_.CreateDirtySet(controller_.GetLastSector(), true);
      if (haveSet) scan_.ScanRaw();
      break;
  }
  cancelled_ = scan_.Cancelled();
  setUnavailable_ = !haveSet;

  scan_.ReleaseNtfsState();
  scan_.SetCleanSample(nullptr);
  sample_.Clear();

  if (logging_) WriteRecordTail();
  controller_.CloseDrive();

  if (cancelled_) Post(VN_CANCELLED, 0);
  Post(VN_DIRTY_SECTORS, static_cast<intptr_t>(DirtySectorsSoFar()));
  std::unique_ptr<CDirtyBitmap> set = scan_.TakeDirtySet();
  if (window_) {
    Post(VN_FINISHED, reinterpret_cast<intptr_t>(set.release()));
  } else {
    unclaimed_ = std::move(set);
  }
}
