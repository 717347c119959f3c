// The machine's drives for the drop-downs. Kept apart so that tests with
// drive tables of their own do not link the system's enumeration.
#include "widgets/DriveList.h"
#include "drive/CDriveController.h"

DriveListSource SystemDriveListSource() {
  DriveListSource source;
  source.table = [] { return platform::DriveTable::Load(); };
  source.volumeLabel = [](char letter, char* buffer, uint32_t size) {
    return CDriveController::GetVolumeLabel(letter, buffer, size);
  };
  return source;
}

DriveListSource MappedDriveListSource() {
  DriveListSource source = SystemDriveListSource();
  source.table = [] {
    const platform::DriveTable all = platform::DriveTable::Load();
    std::vector<platform::DriveEntry> mapped;
    for (const platform::DriveEntry& e : all.Drives()) {
      if (e.mapped) mapped.push_back(e);
    }
    return platform::DriveTable(mapped);
  };
  return source;
}
