#pragma once
#include <QComboBox>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/DriveTable.h"

// Where the drive lists learn about drives: a snapshot of the drive table
// and the volume label reader (CDriveController::GetVolumeLabel's
// contract: the label, or "N/A" when it cannot be read). The program binds
// the system's at start-up; tests bind tables of their own.
struct DriveListSource {
  std::function<platform::DriveTable()> table;
  std::function<bool(char letter, char* buffer, uint32_t size)> volumeLabel;
};
void SetDriveListSource(DriveListSource source);
const DriveListSource& GetDriveListSource();
// The machine's drive table and the controller's label reader.
DriveListSource SystemDriveListSource();
// Only the drives of the user's drive map (the screenshots and the window
// tests, which must not probe the machine's own disks).
DriveListSource MappedDriveListSource();

// The drive drop-down of the wipe wizard, the verify window and the sector
// viewer. It holds text items, a selection and a current drive letter in
// lower case (0 = none), which the owning window reads as the chosen drive.
// Created, it lists every drive of type 2 to 6 as "x:" in letter order;
// FillDriveList then names them and drops the ones the program cannot use.
class TDriveComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TDriveComboBox(QWidget* parent = nullptr);

  char Drive() const { return drive_; }
  // Nothing when an item is selected and `letter` is already the drive
  // (ignoring case); 0 clears the drive and the selection; any other letter
  // becomes the drive, the first item "<letter>:" is selected when there is
  // one, and DriveChanged is signalled.
  void SetDrive(char letter);
  // Lists the drives of `table` as the control does when it is created.
  void ListDrives(const platform::DriveTable& table);

 signals:
  void DriveChanged();

 private:
  void ItemPicked(int index);
  char drive_ = 0;
};

// Names the listed drives ("E: LABEL", "A: 3\xBD Floppy", "F: Removable
// Media", "D: Local Disk"), drops network, optical and RAM drives, then
// selects the item of `letter` and makes it the current drive.
void FillDriveList(TDriveComboBox& list, char letter);

// Decimal text with "," between groups of three digits, whatever the
// locale: 1234567 -> "1,234,567". A negative argument is taken as its
// unsigned 32-bit equivalent.
std::string FormatThousands(uint32_t value);
// The same for sector numbers of drives beyond 2^32 sectors.
std::string FormatThousands(uint64_t value);
std::string FormatThousands(int32_t value);
