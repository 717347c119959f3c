#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The file systems the formatter can make. FAT12 and FAT16 are both "FAT"
// to the rest of the program; the size rules of FormatDrive pick between them.
enum class FormatKind : uint8_t { kFat12, kFat16, kFat32, kNtfs };

struct FormatRequest {
  char letter = 0;         // the drive, upper case
  bool removable = false;  // a removable medium (the format library's media type)
  std::string devicePath;  // image file or device node of the drive
  std::string mountPoint;  // unmounted before formatting when not empty
  FormatKind kind = FormatKind::kFat32;
  std::string label;       // as the caller gave it; the formatter makes it fit
  bool quick = true;       // false: a full format (NTFS zeroes the volume)
};

// What a running format reports. Percent and text may come any number of
// times; Done comes exactly once, last. Returning false from Percent or Text
// abandons the format, which then ends with Done(false).
class FormatObserver {
 public:
  virtual ~FormatObserver() = default;
  virtual bool Percent(uint32_t percent) = 0;
  virtual bool Text(const std::string& line) = 0;
  virtual void Done(bool success) = 0;
};

// Makes an empty file system on a drive. The real one runs mkfs.fat or
// mkntfs on Linux and the system's format library on Windows; tests inject
// their own to script failures.
class Formatter {
 public:
  virtual ~Formatter() = default;
  // Whether this kind can be made at all (the tool is installed).
  [[nodiscard]] virtual bool Available(FormatKind kind) const = 0;
  // One format attempt, start to end, on the calling thread.
  virtual void Format(const FormatRequest& request, FormatObserver& observer) = 0;
};

// The formatter FormatDrive uses: the injected one, else the system's.
Formatter& CurrentFormatter();
// The system's own: mkfs.fat / mkntfs on Linux, FormatEx on Windows.
Formatter& SystemFormatter();
// Tests: nullptr restores the real formatter. The caller keeps ownership and
// must keep the object alive while it is injected.
void InjectFormatter(Formatter* formatter);

// The label as the file system can hold it: at most 11 characters; a
// character it cannot hold becomes '_' (FAT labels are also upper-cased), so
// a label alone can never make a format fail.
std::string FitLabel(FormatKind kind, const std::string& label);

}  // namespace platform
