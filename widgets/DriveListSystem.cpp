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
