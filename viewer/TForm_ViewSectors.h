#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "drive/CDriveController.h"
#include "platform/MessageTarget.h"
#include "verify/CBitmap.h"
#include "widgets/SkinnedForm.h"

namespace Ui {
class TForm_ViewSectors;
}

// Posted by the viewer to itself once it is shown.
inline constexpr uint32_t WM_VIEWER_OPEN_DRIVE = platform::WM_USER + 1;
inline constexpr uint32_t WM_VIEWER_SHOW_INTRO = platform::WM_USER + 2;

// Track-bar scroll codes, as the track handler receives them.
enum TrackScrollCode : int {
  TB_LINEUP = 0,
  TB_LINEDOWN = 1,
  TB_PAGEUP = 2,
  TB_PAGEDOWN = 3,
  TB_THUMBPOSITION = 4,
  TB_THUMBTRACK = 5,
  TB_TOP = 6,
  TB_BOTTOM = 7,
  TB_ENDTRACK = 8,
};

// The sector viewer: one 512-byte sector of a drive at a time as a hex dump
// with a text column. Browse mode moves through the whole drive (Previous /
// Next, the track bar, Go To); dirty-sector mode, opened with the dirty set
// of a verification, steps through the dirty sectors only. The drive is
// always opened read-only: the viewer never writes.
class TForm_ViewSectors : public TSkinnedForm {
  Q_OBJECT
 public:
  // `dirty` nullptr: browse mode; otherwise the viewer keeps a private copy
  // of the set. `driveLetter` 0: the system drive. `backends` empty: the
  // drive table's, read-only (tests give media with faults).
  TForm_ViewSectors(QWidget* owner, const CDirtyBitmap* dirty, char driveLetter,
                    CDriveController::BackendFactory backends = {});
  ~TForm_ViewSectors() override;

  Ui::TForm_ViewSectors* ui() const { return ui_.get(); }

  // The pause shown with the please-wait window before and after the drive
  // opens (500 ms each).
  void SetOpenPause(std::chrono::milliseconds pause) { openPause_ = pause; }

  char DriveLetter() const { return driveLetter_; }
  uint64_t CurrentSector() const { return currentSector_; }
  uint64_t LastSector() const { return lastSector_; }
  uint64_t SectorsPerTick() const { return sectorsPerTick_; }
  uint64_t DirtyTotal() const { return dirtyTotal_; }

  void OpenDriveView(char letter);
  void ShowSector(uint64_t sector, bool read, bool moveTrackBar);
  void DumpSector(uint64_t sector);

  void Button_ViewSectorsClick();
  void Button_PreviousClick();
  void Button_NextClick();
  void Button_GoToSectorClick();
  void TrackBar_CurrentSectorTrack(int scrollCode, int position);
  void TrackBar_CurrentSectorMouseWheel();
  void DriveComboBox1Select();
  void Edit_CurSectorChange();
  void Edit_CurSectorAfterExit();
  void Label_BrandingClick();
  void Label_BrandingMouseEnter();
  void Label_BrandingMouseLeave();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void SetDumpFont(bool errorFont);

  std::unique_ptr<Ui::TForm_ViewSectors> ui_;
  CDriveController controller_;
  std::unique_ptr<CDirtyBitmap> dirty_;
  char driveLetter_ = 'C';
  uint64_t currentSector_ = 0;
  uint64_t lastSector_ = 0;
  uint64_t sectorsPerTick_ = 0;
  uint64_t dirtyIndex_ = 0;
  uint64_t dirtyTotal_ = 0;
  uint64_t sectorsPerUnit_ = 1;
  bool errorFont_ = false;
  std::chrono::milliseconds openPause_{500};
};
