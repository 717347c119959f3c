#include "wipe/WipeTexts.h"

#include <cctype>

#include "platform/ErrorCodes.h"
#include "settings/CSettings.h"

namespace {
std::string Upper(char letter) {
  return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
}
}  // namespace

WipeMessageText PreFormatQuestion(char driveLetter) {
  const std::string d = Upper(driveLetter);
  return {"Drive " + d + ":",
          "Before wiping drive " + d + ":, Nullifex needs to format the drive.  When you click Ok, a system window "
          "will appear prompting you to format drive " + d +
              ":.  When it appears click \"Start\" and when it finishes click \"Close.\""};
}

WipeMessageText FinalFormatQuestion(char driveLetter) {
  const std::string d = Upper(driveLetter);
  return {"Drive " + d + ":",
          "As a final step in the cleaning process, drive " + d +
              ": needs to be reformatted.  When you click Ok, a system window will appear prompting you to format "
              "drive " + d + ":.  When it appears click \"Start\" and when it finishes click \"Close.\""};
}

WipeMessageText ErrorQuestion(uint32_t code) {
  if (code == errc::kSectorNotFound || code == errc::kWriteFault) {
    return {"Write Error",
            "Nullifex was unable to write to one or more sectors on your drive.  This means the drive probably "
            "contains bad sectors.  Would you like to continue formatting this drive?"};
  }
  if (code == WIPE_ERR_VERIFY_DIRTY) {
    return {"Verification Error",
            "Dirty sectors were encountered on the drive while verifying.  This could be because the drive contains "
            "bad sectors.  Verification will not continue.  Would you like to continue formatting this drive?"};
  }
  return {"Unknown Error",
          "An unknown error occurred and the cleaning process cannot continue.  Would you like to continue "
          "formatting this drive?"};
}

WipeMessageText WipeFailedMessage(uint32_t code) {
  switch (code) {
    case errc::kWriteProtect:
      return {"Write Protected",
              "This drive is write protected, which will prevent it from being wiped.  You must turn off write "
              "protection before wiping."};
    case WIPE_ERR_VERIFY_DIRTY:
      return {"Verification Failed", "Data verification failed.  You should reboot your computer and try again."};
    case WIPE_ERR_FORMAT_FAILED:
      return {"Format Error",
              "The formatting process did not complete successfully.  Drive cleaning will not continue.  It may be "
              "that the drive is in use by another program.  Please reboot your computer and try again.  When "
              "wiping a drive, always make sure the contents of the drive are not being viewed by Windows Explorer "
              "and that no files on the drive are in use."};
    default:
      return {"Unknown Error",
              "An unknown error occurred and the cleaning process cannot continue.  Try rebooting your computer and "
              "wipe the media again."};
  }
}

WipeMessageText StartErrorMessage(uint32_t code) {
  if (code == errc::kNotReady || code == errc::kNoMediaInDrive) {
    return {"Drive Not Ready",
            "Failed to access the drive.  Please make sure that there is a disk in the drive and that it is not "
            "write-protected."};
  }
  if (code == WIPE_ERR_SYSTEM_DRIVE) {
    return {"Cannot Wipe System Drive",
            "The drive you selected is the system drive.  It cannot be wiped with this program.  If you want to "
            "erase all the data on your system drive, please visit " +
                GetBrandingText(kBrandingSiteName) + " for more information on Vastrase."};
  }
  return {"Unknown Error",
          "An unknown error occurred while attempting to wipe the drive.  Please try again.  If you continue to see "
          "this error message, your computer may need to be rebooted."};
}
