#pragma once
#include <cstdint>
#include <memory>

#include "platform/RateMeter.h"
#include "platform/qt/QtMessageTarget.h"
#include "widgets/SkinnedForm.h"
#include "wipe/DriveWipeThread.h"
#include "wipe/WipeOptions.h"

namespace Ui {
class TForm_Wiper;
}

// The system drive a wipe refuses: the drive table's volume holding the
// root file system, or C: when there is none.
char WipeSystemDriveLetter();

// The small window that runs one wipe: it owns the wipe thread, turns the
// thread's messages into its labels, bar and animation, lets the user
// cancel while the drive is being overwritten, and shows the result.
class TForm_Wiper : public TSkinnedForm {
  Q_OBJECT
 public:
  explicit TForm_Wiper(QWidget* owner);
  ~TForm_Wiper() override;

  // Where the thread finds its drive; the drive table's by default. Tests
  // give a disk of their own. Call before StartWipe.
  void SetDriveEnvironment(DriveWipeThread::Environment environment) { environment_ = std::move(environment); }

  // Creates the thread suspended for `options`. False: the system drive
  // (20001) or the drive could not be opened (the error met); no thread.
  [[nodiscard]] bool StartWipe(const WipeOptions& options);
  int32_t GetStartError() const { return startError_; }

  bool HasThread() const { return thread_ != nullptr; }
  uint8_t Stage() const { return stage_; }
  Ui::TForm_Wiper* ui() const { return ui_.get(); }

  // The thread's messages (also reached through event()).
  void OnWipeFinished(uintptr_t wParam, intptr_t lParam);
  void OnWipeFailed();
  void OnWipeProgress(const WipeProgress& progress);
  void OnWipeStage();
  void OnToggleAnimation();

  void Button_OkClick();
  void Button_CancelClick();

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Escape and the window system's close: only once the run is over, so
  // the window never goes while its thread still runs.
  void reject() override;

 private:
  void FormShow();
  void StartAnimation();
  // Lets the worker run to its return and joins it; the thread object stays.
  void EndThread();
  void ShowRate(const WipeProgress& progress);

  std::unique_ptr<Ui::TForm_Wiper> ui_;
  platform::QtMessageTarget target_;
  DriveWipeThread::Environment environment_;
  std::unique_ptr<DriveWipeThread> thread_;
  int32_t startError_ = 0;
  char driveLetter_ = 'a';
  int32_t passCount_ = 0;
  uint8_t stage_ = 0;
  // Speed and time left of the current pass or read-back.
  platform::RateMeter rate_;
  int ratePhase_ = -1;
  int32_t ratePass_ = -1;
  bool shown_ = false;
  // Waiting for the worker to return: its last messages are not shown.
  bool ending_ = false;
};
