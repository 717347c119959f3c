#pragma once
#include <QTimer>
#include <memory>

#include "platform/RateMeter.h"
#include "platform/qt/QtMessageTarget.h"
#include "verify/CBitmap.h"
#include "verify/DriveVerifyThread.h"
#include "widgets/SkinnedForm.h"

namespace Ui {
class TForm_VerifyDrive;
}

// The verify window: the user picks a drive, starts a full or quick
// verification, watches the live counts, may stop it, and is offered the
// dirty sectors in the sector viewer. One DriveVerifyThread runs at a time;
// its messages set the display, and a 50 ms timer polls its dirty count.
class TForm_VerifyDrive : public TSkinnedForm {
  Q_OBJECT
 public:
  explicit TForm_VerifyDrive(QWidget* owner);
  ~TForm_VerifyDrive() override;

  Ui::TForm_VerifyDrive* ui() const { return ui_.get(); }
  QTimer* DirtySectorTimer() { return &dirtySectorTimer_; }

  // The current run's worker, or none between runs.
  const DriveVerifyThread* Thread() const { return thread_.get(); }
  // The dirty set of the last finished run, or none.
  const CDirtyBitmap* DirtySet() const { return dirty_.get(); }
  char DriveLetter() const { return driveLetter_; }

  void StartRun(bool quick);
  void ResetDisplay();
  void ViewDirtySectors();

  void Button_VerifyClick();
  void Button_QuickVerifyClick();
  void Button_CancelClick();
  void KTransButton3MouseRelease();
  void Button_ViewDirtySectorsClick();
  void DirtySectorTimerTimer();
  void Label_BrandingClick();
  void Label_BrandingMouseEnter();
  void Label_BrandingMouseLeave();

  // Closing by the window system asks as the title-bar button does.
  void reject() override;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void CloseButtonClick() override;
  // Escape is the cancel button's.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void VerifyNotify(uintptr_t code, intptr_t value);
  void Finished(CDirtyBitmap* set);
  // Stops the worker and waits for it; the object is kept until the
  // messages it posted on its way out have been handled.
  void StopThread();
  // Handles the messages still queued for this window without touching
  // the display: only a handed-over dirty set is taken.
  void TakeQueuedMessagesQuietly();
  void ShowRate();
  int MeterPercent() const;

  std::unique_ptr<Ui::TForm_VerifyDrive> ui_;
  char driveLetter_ = 'C';
  platform::QtMessageTarget target_{this};
  std::unique_ptr<DriveVerifyThread> thread_;
  // A stopped worker whose last messages are still queued: its volume label
  // text must stay readable until they are handled.
  std::unique_ptr<DriveVerifyThread> stopped_;
  std::unique_ptr<CDirtyBitmap> dirty_;
  QTimer dirtySectorTimer_;
  bool quiet_ = false;
  // The read rate and time left under the meter while a run goes.
  platform::RateMeter rate_;
};
