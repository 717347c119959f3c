#include "platform/linux/LinuxBackend.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/AlignedBuffer.h"
#include "platform/ErrorCodes.h"
#include "platform/linux/Errno.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/UDisks.h"
#include "platform/linux/VolumeProbe.h"

namespace platform {
namespace {

constexpr size_t kBounceBytes = 1u << 20;

// One open file description on the medium, with what it allows.
struct Channel {
  int fd = -1;
  bool direct = false;     // opened with O_DIRECT and not yet refused by the device
  uint32_t align = 512;    // offset and length granularity O_DIRECT needs
  bool blockDevice = false;
  bool writeLocked = false;  // opened read-only or the device is read-only
  bool fromService = false;  // the descriptor came from the storage service
  uint64_t size = 0;       // bytes

  ~Channel() { Close(); }
  // Another descriptor on the same open file, with what it allows (fd -1
  // when that failed).
  void DuplicateInto(Channel& copy) const {
    copy.Close();
    copy.fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    copy.direct = direct;
    copy.align = align;
    copy.blockDevice = blockDevice;
    copy.writeLocked = writeLocked;
    copy.fromService = fromService;
    copy.size = size;
  }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

bool IsBlockNode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

// A user who may not open the device node asks the storage service for a
// descriptor; the service asks polkit, which may show the desktop's password
// dialog, and this waits for the answer. A refusal is access denied. A
// write-protected medium the service reports read-only is opened for reading,
// and every write then fails with 19 as it would for root.
int OpenThroughService(const std::string& path, bool forWrite, bool wantDirect, Channel& ch) {
  bool write = forWrite;
  if (write && udisks::Describe(path).readOnly) write = false;
  const int fd = udisks::OpenDevice(path, write, wantDirect ? O_DIRECT : 0);
  if (fd < 0) return -1;
  // What the service's open gave, not what was asked: a version that
  // leaves O_DIRECT out gives a descriptor through the page cache.
  const int flags = ::fcntl(fd, F_GETFL);
  ch.direct = wantDirect && flags >= 0 && (flags & O_DIRECT) != 0;
  ch.writeLocked = !write;
  ch.fromService = true;
  return fd;
}

// Opens `path` as the medium. Returns 0 or the program's error code.
// `mayAsk`: a block device the user may not open is asked of the storage
// service (which may show the authorisation dialog).
uint32_t OpenChannel(const std::string& path, bool forWrite, bool wantDirect, Channel& ch, bool mayAsk = true) {
  ch.Close();
  ch.fromService = false;
  const int access = forWrite ? O_RDWR : O_RDONLY;
  auto tryOpen = [&](int accessMode) {
    int fd = -1;
    if (wantDirect) {
      fd = ::open(path.c_str(), accessMode | O_CLOEXEC | O_DIRECT);
      if (fd >= 0) {
        ch.direct = true;
        return fd;
      }
      // A file system without O_DIRECT (some FUSE and older tmpfs) refuses
      // it at open with EINVAL: fall back to the page cache.
      if (errno != EINVAL) return -1;
    }
    ch.direct = false;
    return ::open(path.c_str(), accessMode | O_CLOEXEC);
  };
  int fd = tryOpen(access);
  ch.writeLocked = !forWrite;
  if (const int openError = errno; fd < 0 && (openError == EACCES || openError == EPERM)) {
    // When the permission bits allow the open, the refusal came from the
    // medium (write protection), not from the rights.
    if (udisks::OnlyThroughService(path, forWrite)) {
      if (!mayAsk) return errc::kAccessDenied;
      fd = OpenThroughService(path, forWrite, wantDirect, ch);
      if (fd < 0) return errc::kAccessDenied;
    }
    errno = openError;
  }
  if (fd < 0 && forWrite && (errno == EROFS || errno == EACCES || errno == EPERM)) {
    // A write-protected medium still reads: open it read-only and let every
    // write fail with 19, as the system does for a locked floppy.
    fd = tryOpen(O_RDONLY);
    ch.writeLocked = true;
  }
  if (fd < 0) return ErrnoToCode(errno, IoOp::Open);
  ch.fd = fd;

  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int e = errno;
    ch.Close();
    return ErrnoToCode(e, IoOp::Open);
  }
  if (S_ISBLK(st.st_mode)) {
    ch.blockDevice = true;
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) ch.size = bytes;
    int logical = 0;
    if (::ioctl(fd, BLKSSZGET, &logical) == 0 && logical >= 512) {
      ch.align = static_cast<uint32_t>(logical);
    }
    int readOnly = 0;
    if (::ioctl(fd, BLKROGET, &readOnly) == 0 && readOnly) ch.writeLocked = true;
  } else if (S_ISREG(st.st_mode)) {
    ch.size = static_cast<uint64_t>(st.st_size);
  } else {
    ch.Close();
    return errc::kInvalidFunction;
  }
  return 0;
}

// Moves `bytes` at `offset` through one descriptor, looping over short
// transfers. 0, an errno value, or -1 when the medium ended first.
int RawIo(int fd, bool write, uint64_t offset, uint8_t* buf, size_t bytes) {
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = write ? ::pwrite(fd, buf + done, bytes - done, static_cast<off_t>(offset + done))
                            : ::pread(fd, buf + done, bytes - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return -1;
    done += static_cast<size_t>(n);
  }
  return 0;
}

bool SetDirect(int fd, bool on) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return ::fcntl(fd, F_SETFL, on ? (flags | O_DIRECT) : (flags & ~O_DIRECT)) == 0;
}

// Keeps the medium busy while the caller works on the run it was handed.
// Sequential reads smaller than a window are served from 2 MiB windows read
// with O_DIRECT, the next window being read on a worker thread while the
// caller copies and checks the current one: the device sees large requests
// back to back, as it does from dd, instead of one small request at a time
// with idle gaps between. The data still comes from the medium (O_DIRECT),
// never from the page cache, and no window outlives a write, a seek, a flush
// or a close. A window that cannot be read is never reported: the caller
// then reads the request itself, so errors and bad-sector lists are exactly
// those of the plain read.
class ReadAhead {
 public:
  static constexpr uint32_t kWindow = 2u << 20;

  ~ReadAhead() {
    {
      std::unique_lock lock(mutex_);
      idle_.wait(lock, [&] { return !busy_; });
      stop_ = true;
    }
    work_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // Copies [offset, offset + bytes) into `out` from a window, loading one if
  // none holds it. False when the windows cannot serve it.
  bool Serve(int fd, uint64_t offset, uint8_t* out, uint32_t bytes, uint64_t deviceSize, uint32_t align) {
    // Past a window that could not be read the caller reads alone: a
    // damaged sector is met once per run, not once more per window.
    if (offset < noAheadBefore_) return false;
    if (!windows_[0].buf) {
      windows_[0].buf = AlignedBuffer(kWindow);
      windows_[1].buf = AlignedBuffer(kWindow);
      if (!windows_[0].buf || !windows_[1].buf) return false;
    }
    if (!Covers(windows_[current_], offset, bytes)) {
      Wait();
      const Window& ahead = windows_[1 - current_];
      if (ahead.failed) {
        noAheadBefore_ = std::max(noAheadBefore_, ahead.start + ahead.len);
        if (offset < noAheadBefore_) {
          windows_[0].valid = windows_[1].valid = windows_[0].failed = windows_[1].failed = false;
          return false;
        }
      }
      if (Covers(windows_[1 - current_], offset, bytes)) {
        current_ = 1 - current_;
      } else {
        windows_[1 - current_].valid = false;
        Window& w = windows_[current_];
        w.valid = false;
        // Windows hold a whole number of the caller's runs, so a run never
        // straddles two of them.
        windowBytes_ = kWindow / bytes * bytes;
        const uint32_t len = Length(offset, deviceSize, align);
        if (len < bytes) return false;
        if (RawIo(fd, false, offset, w.buf.data(), len) != 0) {
          noAheadBefore_ = offset + len;
          return false;
        }
        w.start = offset;
        w.len = len;
        w.valid = true;
      }
    }
    const Window& w = windows_[current_];
    std::memcpy(out, w.buf.data() + (offset - w.start), bytes);

    // One window ahead, always in flight or ready.
    const uint64_t nextStart = w.start + w.len;
    Window& next = windows_[1 - current_];
    std::unique_lock lock(mutex_);
    if (!busy_ && !(next.valid && next.start == nextStart)) {
      const uint32_t len = Length(nextStart, deviceSize, align);
      if (len > 0) {
        next.valid = false;
        next.failed = false;
        next.start = nextStart;
        next.len = len;
        job_ = Job{fd, &next};
        busy_ = true;
        if (!thread_.joinable()) thread_ = std::thread([this] { Worker(); });
        lock.unlock();
        work_.notify_one();
      }
    }
    return true;
  }

  // Waits for the read in flight and forgets both windows.
  void Invalidate() {
    Wait();
    windows_[0].valid = windows_[1].valid = false;
    windows_[0].failed = windows_[1].failed = false;
  }
  // The same, and read-ahead may start anywhere again (after a seek, a
  // write, a flush).
  void Reset() {
    Invalidate();
    noAheadBefore_ = 0;
  }

 private:
  struct Window {
    AlignedBuffer buf;
    uint64_t start = 0;
    uint32_t len = 0;
    bool valid = false;
    bool failed = false;  // the read-ahead of this window failed
  };
  struct Job {
    int fd = -1;
    Window* window = nullptr;
  };

  static bool Covers(const Window& w, uint64_t offset, uint32_t bytes) {
    return w.valid && offset >= w.start && offset - w.start + bytes <= w.len;
  }

  // A window at `start`: up to windowBytes_, not past the end, a whole
  // number of O_DIRECT units.
  uint32_t Length(uint64_t start, uint64_t deviceSize, uint32_t align) const {
    if (start >= deviceSize) return 0;
    const uint64_t len = std::min<uint64_t>(windowBytes_, deviceSize - start);
    return static_cast<uint32_t>(len / align * align);
  }

  void Wait() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return !busy_; });
  }

  void Worker() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return stop_ || job_.window; });
      if (stop_) return;
      Job job = job_;
      job_ = Job{};
      lock.unlock();
      const bool ok = RawIo(job.fd, false, job.window->start, job.window->buf.data(), job.window->len) == 0;
      lock.lock();
      job.window->valid = ok;
      job.window->failed = !ok;
      busy_ = false;
      idle_.notify_all();
    }
  }

  Window windows_[2];
  int current_ = 0;
  uint32_t windowBytes_ = kWindow;
  uint64_t noAheadBefore_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable work_, idle_;
  Job job_;
  bool busy_ = false;
  bool stop_ = false;
};

class LinuxBackend final : public SectorBackend {
 public:
  LinuxBackend(std::string path, LinuxBackendOptions options)
      : path_(std::move(path)), options_(options) {}
  ~LinuxBackend() override { Close(); }

  uint32_t Open() override {
    Forget();
    position_ = 0;
    return OpenChannel(path_, !options_.readOnly, options_.direct, main_);
  }

  void Close() override {
    Forget();
    main_.Close();
  }
  bool IsOpen() const override { return main_.fd >= 0; }

  uint32_t Read(void* buffer, uint32_t bytes, uint32_t& done) override {
    done = 0;
    if (main_.fd < 0) return errc::kInvalidHandle;
    if (position_ > UINT64_MAX / kSectorBytes) return errc::kSectorNotFound;
    const uint64_t offset = position_ * kSectorBytes;
    uint32_t error = 0;
    // The second of two reads in a row at consecutive positions turns the
    // read-ahead on; anything else goes to the medium as asked.
    const bool sequential = offset == nextReadOffset_ && main_.direct && bytes > 0 &&
                            bytes < ReadAhead::kWindow && offset % main_.align == 0 &&
                            bytes % main_.align == 0 && bytes <= main_.size && offset <= main_.size - bytes;
    if (!(sequential && readAhead_.Serve(main_.fd, offset, static_cast<uint8_t*>(buffer), bytes, main_.size,
                                         main_.align))) {
      readAhead_.Invalidate();
      error = Io(main_, false, offset, static_cast<uint8_t*>(buffer), bytes);
    }
    if (error == 0) {
      done = bytes;
      position_ += bytes / kSectorBytes;
      nextReadOffset_ = offset + bytes;
    } else {
      nextReadOffset_ = UINT64_MAX;
    }
    return error;
  }

  uint32_t Write(const void* buffer, uint32_t bytes, uint32_t& done) override {
    done = 0;
    if (main_.fd < 0) return errc::kInvalidHandle;
    if (main_.writeLocked) return errc::kWriteProtect;
    Forget();
    if (position_ > UINT64_MAX / kSectorBytes) return errc::kSectorNotFound;
    const uint64_t offset = position_ * kSectorBytes;
    uint32_t error = Io(main_, true, offset, const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer)), bytes);
    if (error == 0) error = WriteTail(offset, static_cast<const uint8_t*>(buffer), bytes);
    if (error == 0) {
      done = bytes;
      position_ += bytes / kSectorBytes;
    }
    return error;
  }

  uint32_t SetPosition(uint64_t sector) override {
    if (main_.fd < 0) return errc::kInvalidHandle;
    Forget();
    position_ = sector;
    return 0;
  }

  uint32_t Skip(uint64_t sectors) override {
    if (main_.fd < 0) return errc::kInvalidHandle;
    Forget();
    position_ += sectors;
    return 0;
  }

  uint64_t Position() const override { return position_; }

  uint32_t ReadAt(uint64_t sector, void* buffer, uint32_t count) override {
    if (count > UINT32_MAX / kSectorBytes) return errc::kInvalidParameter;
    // An access of its own, as a fresh volume handle is on the system: it
    // works whether or not the drive is open and never moves the position.
    Channel ch;
    if (main_.fromService && main_.fd >= 0) {
      // A descriptor of our own from the service: another one would ask
      // the person again.
      main_.DuplicateInto(ch);
      if (ch.fd < 0) return ErrnoToCode(errno, IoOp::Open);
    } else if (const uint32_t error = OpenChannel(path_, false, options_.direct, ch)) {
      return error;
    }
    if (sector > UINT64_MAX / kSectorBytes) return errc::kSectorNotFound;
    return Io(ch, false, sector * kSectorBytes, static_cast<uint8_t*>(buffer), count * kSectorBytes);
  }

  uint64_t DeviceSize() override {
    if (main_.fd >= 0) {
      Refresh(main_);
      return main_.size;
    }
    // A size is no reason to ask for authorisation: a device the user may
    // not open says its size in sysfs.
    Channel ch;
    if (const uint32_t error = OpenChannel(path_, false, false, ch, false)) {
      return error == errc::kAccessDenied ? SysfsSize(path_) : 0;
    }
    return ch.size;
  }

  uint32_t FreeSpace(uint64_t& freeBytes) override {
    freeBytes = 0;
    const std::string mountPoint = MountPointOf(path_);
    // Not mounted: there is no file system to ask, as for a raw volume.
    if (mountPoint.empty()) return errc::kUnrecognizedVolume;
    struct statvfs vfs {};
    if (::statvfs(mountPoint.c_str(), &vfs) != 0) return ErrnoToCode(errno, IoOp::Other);
    // Bytes free to the caller, as the system reports them.
    freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return 0;
  }

  bool GetVolumeInformation(VolumeInformation& info) override {
    if (ProbeVolumePath(path_, info)) return true;
    // A user who may not read the device learns what the storage service
    // found on it, without being asked for authorisation.
    if (!udisks::OnlyThroughService(path_, false)) return false;
    const udisks::DriveInfo found = udisks::Describe(path_);
    if (found.idType == "vfat") {
      info.fileSystem = found.idVersion == "FAT32" ? "FAT32" : "FAT";
    } else if (found.idType == "ntfs") {
      info.fileSystem = "NTFS";
    } else if (!found.idType.empty() && found.idType != "other") {
      info.fileSystem = found.idType;
    } else {
      return false;
    }
    info.label = found.idLabel;
    return true;
  }

  uint32_t Unmount() override {
    const dev_t device = DeviceOfPath(path_);
    if (device == 0) return 0;
    // Every mount of the device, one at a time; a bounded number of rounds,
    // so a file system that comes back at once cannot hold the wipe forever.
    for (int round = 0; round < 16; ++round) {
      const std::string mountPoint = MountPointOfDevice(device, ReadMountInfo());
      if (mountPoint.empty()) return HoldExclusively();
      if (::umount2(mountPoint.c_str(), 0) == 0) continue;
      if (errno == EBUSY) return errc::kWipeFormatFailed;
      if ((errno != EPERM && errno != EACCES) || !IsBlockNode(path_)) return ErrnoToCode(errno, IoOp::Other);
      switch (udisks::Unmount(path_)) {
        case udisks::UnmountResult::kDone: continue;
        case udisks::UnmountResult::kBusy: return errc::kWipeFormatFailed;
        case udisks::UnmountResult::kDenied: return errc::kAccessDenied;
        case udisks::UnmountResult::kFailed: return errc::kWipeFormatFailed;
      }
    }
    return errc::kWipeFormatFailed;
  }

  // With its file systems gone, a drive open for writing is held exclusively
  // for as long as it stays open: the desktop cannot mount the stick again
  // under the passes (a mount of a device held so fails as busy), nor can
  // another program claim it. The exclusive descriptor replaces the open one;
  // a drive someone else holds exclusively is in use (20003).
  uint32_t HoldExclusively() {
    if (main_.fd < 0 || !main_.blockDevice || main_.writeLocked) return 0;
    Forget();
    const int flags = O_EXCL | (main_.direct ? O_DIRECT : 0);
    int fd = -1;
    if (main_.fromService) {
      // Authorisation is kept for a while: this does not ask the person again.
      bool refused = false;
      fd = udisks::OpenDevice(path_, true, flags, nullptr, &refused);
      if (fd < 0) return refused ? errc::kAccessDenied : errc::kWipeFormatFailed;
    } else {
      fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | flags);
      if (fd < 0) return errno == EBUSY ? errc::kWipeFormatFailed : ErrnoToCode(errno, IoOp::Open);
    }
    ::close(main_.fd);
    main_.fd = fd;
    return 0;
  }

  uint32_t Flush() override {
    if (main_.fd < 0) return errc::kInvalidHandle;
    Forget();
    if (::fdatasync(main_.fd) != 0) return ErrnoToCode(errno, IoOp::Flush);
    // Later reads must see the medium, not what the page cache kept of the
    // pass (buffered transfers, or a tool that wrote the image before us).
    (void)::posix_fadvise(main_.fd, 0, 0, POSIX_FADV_DONTNEED);
    if (main_.blockDevice) {
      // Needs CAP_SYS_ADMIN; without it the fadvise above has done most of it.
      (void)::ioctl(main_.fd, BLKFLSBUF, 0);
    }
    return 0;
  }

 private:
  void Forget() {
    readAhead_.Reset();
    nextReadOffset_ = UINT64_MAX;
  }

  // A block device's size changes with its medium (a card swapped).
  static void Refresh(Channel& ch) {
    if (ch.blockDevice) {
      uint64_t bytes = 0;
      if (::ioctl(ch.fd, BLKGETSIZE64, &bytes) == 0) ch.size = bytes;
    } else {
      struct stat st {};
      if (::fstat(ch.fd, &st) == 0) ch.size = static_cast<uint64_t>(st.st_size);
    }
  }

  // An image file whose size is not a whole number of sectors ends in a few
  // bytes no sector covers. A write that reaches the last whole sector
  // carries on over them with the start of that sector's bytes, so a pass
  // leaves nothing of the old content there either.
  uint32_t WriteTail(uint64_t offset, const uint8_t* buf, uint32_t bytes) {
    if (main_.blockDevice || bytes < kSectorBytes) return 0;
    const uint64_t tail = main_.size % kSectorBytes;
    if (tail == 0 || offset + bytes != main_.size - tail) return 0;
    const bool toggled = main_.direct && SetDirect(main_.fd, false);
    if (main_.direct && !toggled) return errc::kGenFailure;
    const int r = RawIo(main_.fd, true, offset + bytes, const_cast<uint8_t*>(buf + bytes - kSectorBytes),
                        static_cast<size_t>(tail));
    if (toggled) (void)SetDirect(main_.fd, true);
    if (r == 0) return 0;
    if (r == -1) return errc::kSectorNotFound;
    return r == EBADF ? errc::kWriteProtect : ErrnoToCode(r, IoOp::Write);
  }

  uint32_t Io(Channel& ch, bool write, uint64_t offset, uint8_t* buf, uint32_t bytes) {
    const IoOp op = write ? IoOp::Write : IoOp::Read;
    if (bytes % kSectorBytes != 0) return errc::kInvalidParameter;
    // Nothing past the end: a write there would grow an image file, a read
    // would come back short.
    if (bytes > ch.size || offset > ch.size - bytes) return errc::kSectorNotFound;
    if (bytes == 0) return 0;

    while (ch.direct && offset % ch.align == 0 && bytes % ch.align == 0) {
      const int r = DirectIo(ch, write, offset, buf, bytes);
      if (r == 0) return 0;
      if (r == -1) return errc::kSectorNotFound;
      if (r != EINVAL) return write && r == EBADF ? errc::kWriteProtect : ErrnoToCode(r, op);
      // The device wants coarser alignment than its logical block size
      // suggested; try a page, then give O_DIRECT up for this handle.
      if (ch.align < AlignedBuffer::kAlignment) {
        ch.align = AlignedBuffer::kAlignment;
      } else {
        ch.direct = SetDirect(ch.fd, false) ? false : ch.direct;
        if (ch.direct) return ErrnoToCode(r, op);
      }
    }

    // Through the page cache: the transfer is not a multiple of what the
    // device's O_DIRECT takes (a 512-byte sector on a 4Kn disk), or O_DIRECT
    // is not available. Flush writes back and drops what this leaves cached.
    const bool toggled = ch.direct && SetDirect(ch.fd, false);
    if (ch.direct && !toggled) return errc::kGenFailure;
    const int r = RawIo(ch.fd, write, offset, buf, bytes);
    if (toggled) (void)SetDirect(ch.fd, true);
    if (r == 0) return 0;
    if (r == -1) return errc::kSectorNotFound;
    return write && r == EBADF ? errc::kWriteProtect : ErrnoToCode(r, op);
  }

  // O_DIRECT needs the buffer aligned as well; a caller's buffer that is not
  // goes through the bounce buffer a megabyte at a time.
  int DirectIo(Channel& ch, bool write, uint64_t offset, uint8_t* buf, uint32_t bytes) {
    if (reinterpret_cast<uintptr_t>(buf) % ch.align == 0) {
      return RawIo(ch.fd, write, offset, buf, bytes);
    }
    if (!bounce_) bounce_ = AlignedBuffer(kBounceBytes);
    if (!bounce_) return ENOMEM;
    for (uint32_t done = 0; done < bytes;) {
      const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kBounceBytes, bytes - done));
      if (write) std::memcpy(bounce_.data(), buf + done, n);
      if (const int r = RawIo(ch.fd, write, offset + done, bounce_.data(), n)) return r;
      if (!write) std::memcpy(buf + done, bounce_.data(), n);
      done += n;
    }
    return 0;
  }

  std::string path_;
  LinuxBackendOptions options_;
  Channel main_;
  uint64_t position_ = 0;
  uint64_t nextReadOffset_ = UINT64_MAX;
  AlignedBuffer bounce_;
  ReadAhead readAhead_;  // last: its worker stops before the descriptor closes
};

}  // namespace

std::unique_ptr<SectorBackend> MakeLinuxBackend(const std::string& path,
                                                LinuxBackendOptions options) {
  return std::make_unique<LinuxBackend>(path, options);
}

}  // namespace platform
