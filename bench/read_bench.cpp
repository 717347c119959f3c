// Reading a drive through the controller against dd on the same image in
// the same run. A 1 GiB FAT32 image filled with data is read from the medium
// (O_DIRECT on both sides, page cache dropped before each pass) through
// ReadSectors in runs of 64 clusters, the size the wipe and the verify use,
// and by `dd if=IMG of=/dev/null bs=1M iflag=direct`. Prints both rates and
// their ratio (controller / dd).
//
//   read_bench [PARENT_DIR (default .)] [SIZE_MIB (default 1024)]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "drive/CDriveController.h"
#include "platform/AlignedBuffer.h"
#include "platform/linux/LinuxBackend.h"
#include "tests/fixtures/Fixtures.h"

namespace {

using Clock = std::chrono::steady_clock;

void DropCache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fdatasync(fd);
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Bytes per second through the controller, or 0 on a read failure.
double ControllerPass(const std::string& image, uint64_t& bytesRead, uint32_t& runBytes) {
  DropCache(image);
  CDriveController drive([image](char) { return platform::MakeLinuxBackend(image); });
  if (!drive.OpenDrive('e')) {
    std::fprintf(stderr, "read_bench: cannot open the image (error %u)\n", drive.GetLastErrorCode());
    return 0;
  }
  uint64_t volumeBytes = 0;
  (void)drive.GetVolumeSizeBytes(volumeBytes);
  runBytes = 64 * drive.GetClusterSize();
  platform::AlignedBuffer buffer(runBytes);
  drive.Rewind();
  bytesRead = 0;
  const auto start = Clock::now();
  while (bytesRead < volumeBytes) {
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(runBytes, volumeBytes - bytesRead));
    uint32_t got = 0;
    if (!drive.ReadSectors(buffer.data(), want, got)) {
      std::fprintf(stderr, "read_bench: read failed at sector %llu (error %u)\n",
                   static_cast<unsigned long long>(drive.GetPosition()), drive.GetLastErrorCode());
      return 0;
    }
    bytesRead += got;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return static_cast<double>(bytesRead) / seconds;
}

double DdPass(const std::string& image, uint64_t bytes) {
  DropCache(image);
  const auto start = Clock::now();
  const auto r = fixtures::RunTool({"dd", "if=" + image, "of=/dev/null", "bs=1M", "iflag=direct"});
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!r.ok()) {
    std::fprintf(stderr, "read_bench: dd failed: %s\n", r.output.c_str());
    return 0;
  }
  return static_cast<double>(bytes) / seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  // The image lives on the disk under test: by default in the current
  // folder (a /tmp in memory would measure memory, not a disk).
  const std::string parent = argc > 1 ? argv[1] : ".";
  const uint64_t sizeMiB = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
  fixtures::TempDir temp(parent);
  const std::string dir = temp.path();
  if (dir.empty()) {
    std::fprintf(stderr, "read_bench: cannot make a folder in %s\n", parent.c_str());
    return 1;
  }
  const std::string image = dir + "/read_bench.img";
  const uint64_t size = sizeMiB << 20;

  // Data first, then the file system over it: every block of the image is
  // allocated, so the reads go to the medium and not to holes.
  std::printf("read_bench: making a %llu MiB FAT32 image in %s\n", static_cast<unsigned long long>(sizeMiB),
              dir.c_str());
  std::fflush(stdout);
  if (!fixtures::MakeZeroImage(image, size) || !fixtures::FillRandom(image, 0, size, 42)) {
    std::fprintf(stderr, "read_bench: cannot write %s\n", image.c_str());
    return 1;
  }
  const auto mkfs = fixtures::RunTool({"mkfs.fat", "-F", "32", "-n", "BENCH", image});
  if (!mkfs.ok()) {
    std::fprintf(stderr, "read_bench: mkfs.fat failed: %s\n", mkfs.output.c_str());
    return 1;
  }

  // Alternating passes, so both sides meet the same load on a shared
  // machine; the figure is the median of the per-pass ratios.
  std::vector<double> ours, theirs, ratios;
  uint64_t bytes = 0;
  uint32_t runBytes = 0;
  for (int pass = 0; pass < 5; ++pass) {
    const double c = ControllerPass(image, bytes, runBytes);
    const double d = DdPass(image, size);
    if (c == 0 || d == 0) return 1;
    ours.push_back(c);
    theirs.push_back(d);
    ratios.push_back(c / d);
    std::printf("pass %d: ReadSectors %.1f MB/s, dd %.1f MB/s, ratio %.2f\n", pass + 1, c / 1e6, d / 1e6, c / d);
  }

  std::printf("ReadSectors (%u-byte runs, 64 clusters): %.1f MB/s (median)\n", runBytes, Median(ours) / 1e6);
  std::printf("dd bs=1M iflag=direct:                %.1f MB/s (median)\n", Median(theirs) / 1e6);
  std::printf("ratio ReadSectors / dd: %.2f (median of the passes)\n", Median(ratios));
  return 0;
}
