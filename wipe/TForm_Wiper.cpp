#include "wipe/TForm_Wiper.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "platform/AskUser.h"
#include "platform/DriveTable.h"
#include "platform/qt/Ansi.h"
#include "platform/qt/Sound.h"
#include "platform/qt/WithoutFreezing.h"
#include "ui_TForm_Wiper.h"
#include "widgets/SkinWidgets.h"
#include "widgets/TXAMessageBox.h"
#include "wipe/WipeTexts.h"

namespace {
constexpr int kMessageTop = 44;    // where the error result sits in the panel
constexpr int kFinishedFrame = 20;  // the animation's still picture at the end

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
}  // namespace

char WipeSystemDriveLetter() {
  const char letter = platform::DriveTable::Load().SystemDrive();
  return letter != 0 ? letter : 'C';
}

TForm_Wiper::TForm_Wiper(QWidget* owner)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_Wiper>()), target_(this) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.title = QStringLiteral("Nullifex");
  SetupFrame(frame);
  ui_->Animation->setResourceNumber(131);
  ui_->Animation->Seek(0);
  ui_->Animation->setAttribute(Qt::WA_TranslucentBackground);
  connect(ui_->Button_Ok, &QPushButton::clicked, this, &TForm_Wiper::Button_OkClick);
  connect(ui_->Button_Cancel, &QPushButton::clicked, this, &TForm_Wiper::Button_CancelClick);
}

TForm_Wiper::~TForm_Wiper() {
  if (!thread_) return;
  // Only when the program goes while a wipe runs.
  thread_->Terminate();
  EndThread();
}

bool TForm_Wiper::StartWipe(const WipeOptions& options) {
  startError_ = 0;
  driveLetter_ = options.driveLetter;
  passCount_ = options.overwriteCount;
  if (Upper(WipeSystemDriveLetter()) == Upper(options.driveLetter)) {
    startError_ = WIPE_ERR_SYSTEM_DRIVE;
    return false;
  }
  // The thread opens the drive, which for a user may wait on the system's
  // authorisation dialog: the windows keep drawing meanwhile.
  platform::RunWithoutFreezing([&] {
    thread_ = std::make_unique<DriveWipeThread>(&target_, true, options.overwriteCount,
                                                options.volumeLabel.c_str(), options.fileSystem, options.driveLetter,
                                                environment_);
  });
  startError_ = thread_->GetErrorCode();
  if (startError_ != 0) {
    thread_.reset();
    return false;
  }
  stage_ = 0;
  return true;
}

void TForm_Wiper::showEvent(QShowEvent* event) {
  TSkinnedForm::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TForm_Wiper::FormShow() {
  ui_->Button_Ok->setEnabled(false);
  if (thread_) thread_->Resume();
  StartAnimation();
}

void TForm_Wiper::StartAnimation() { ui_->Animation->Play(0, -1); }

bool TForm_Wiper::event(QEvent* event) {
  if (event->type() != platform::WindowMessageEvent::EventType()) return TSkinnedForm::event(event);
  if (ending_) return true;
  const auto* m = static_cast<platform::WindowMessageEvent*>(event);
  switch (m->message) {
    case WM_WIPE_FINISHED: OnWipeFinished(m->wParam, m->lParam); return true;
    case WM_WIPE_FAILED: OnWipeFailed(); return true;
    case WM_WIPE_PROGRESS: OnWipeProgress(*reinterpret_cast<const WipeProgress*>(m->wParam)); return true;
    case WM_WIPE_STAGE: OnWipeStage(); return true;
    case WM_WIPE_TOGGLE_ANIMATION: OnToggleAnimation(); return true;
    default: return TSkinnedForm::event(event);
  }
}

void TForm_Wiper::EndThread() {
  if (!thread_) return;
  // The worker may still send a progress message on its way out (after its
  // end message) and wait for this thread to take it: the messages are
  // answered, and ignored, until it has returned.
  ending_ = true;
  if (thread_->Started()) {
    thread_->Resume();
    while (!thread_->Finished()) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  thread_->WaitFor();
  ending_ = false;
}

void TForm_Wiper::OnWipeFinished(uintptr_t wParam, intptr_t lParam) {
  EndThread();
  thread_.reset();
  // Nothing is left to cancel once the run is over, with or without the
  // final format.
  ui_->Button_Cancel->setEnabled(false);
  if (wParam != 0) {
    Button_OkClick();
    return;
  }
  ui_->LabelOperation->setText(QStringLiteral("Finished"));
  ui_->Label_Rate->hide();
  if (lParam != 0) {
    ui_->Label_Info->hide();
    QLabel* message = ui_->Label_Message;
    message->setText(QString::fromLatin1(kWipeMayNotBeCleanText));
    message->move(message->x(), kMessageTop);
    message->show();
  } else {
    ui_->Label_Info->setText(QString::fromLatin1(kWipeCleanText));
  }
  ui_->Animation->Stop();
  ui_->Animation->Seek(kFinishedFrame);
  ui_->Button_Ok->setText(QStringLiteral("Finish"));
  ui_->Button_Ok->setEnabled(true);
  ui_->Button_Ok->setFocus();
  platform::PlaySystemSound("SystemExclamation");
}

void TForm_Wiper::OnWipeFailed() {
  uint32_t code = 0;
  if (thread_) {
    EndThread();
    code = static_cast<uint32_t>(thread_->GetErrorCode());
    thread_.reset();
  }
  ui_->Button_Cancel->setEnabled(false);
  if (code != WIPE_ERR_VERIFY_DIRTY) platform::PlaySystemSound("SystemHand");
  const WipeMessageText m = WipeFailedMessage(code);
  (void)SkinnedMessageBox(this, m.text, m.title, ButtonsOk, IconError);
  Button_OkClick();
}

void TForm_Wiper::OnWipeProgress(const WipeProgress& progress) {
  const QString drive = QChar::fromLatin1(Upper(driveLetter_)) + QLatin1Char(':');
  const QString pass = QStringLiteral("Overwrite %1 of %2").arg(progress.passNumber).arg(passCount_);
  const QString wait = QStringLiteral("Please wait...");
  switch (progress.phase) {
    case WP_OVERWRITE:
      ui_->LabelOperation->setText(QStringLiteral("Wipe Progress on Drive ") + drive);
      ui_->Label_Info->setText(pass);
      break;
    case WP_VERIFY:
      ui_->LabelOperation->setText(QStringLiteral("Verification Progress on Drive ") + drive);
      ui_->Label_Info->setText(wait);
      break;
    case WP_FORMAT:
      ui_->LabelOperation->setText(QStringLiteral("Format Progress on Drive ") + drive);
      ui_->Label_Info->setText(wait);
      break;
    case WP_ERASE_FILES:
      ui_->LabelOperation->setText(QStringLiteral("Erasing files on Drive ") + drive);
      ui_->Label_Info->setText(pass);
      break;
    case WP_CLEANUP:
      ui_->LabelOperation->setText(QStringLiteral("Cleaning up"));
      ui_->Label_Info->setText(wait);
      break;
    default:
      break;
  }
  ShowRate(progress);
  // The whole part of the percent: 99.9 is not yet 100.
  ui_->ProgressWipe->setValue(std::clamp(static_cast<int>(progress.percent), 0, 100));
}

void TForm_Wiper::ShowRate(const WipeProgress& progress) {
  QLabel* label = ui_->Label_Rate;
  if (progress.phase != WP_OVERWRITE && progress.phase != WP_VERIFY) {
    // The format, the cleanup and the file erase move no figure of bytes
    // worth a rate; an unknown phase changes nothing.
    if (progress.phase <= WP_CLEANUP) {
      label->hide();
      ratePhase_ = -1;
    }
    return;
  }
  const auto now = platform::RateMeter::Clock::now();
  const uint64_t total = thread_ ? thread_->GetTotalBytes() : 0;
  if (progress.phase != ratePhase_ || progress.passNumber != ratePass_) {
    ratePhase_ = progress.phase;
    ratePass_ = progress.passNumber;
    rate_.Start(total, now);
    label->clear();
    label->hide();
  }
  const auto done = static_cast<uint64_t>(static_cast<double>(total) * std::clamp(progress.percent, 0.0f, 100.0f) / 100.0);
  if (rate_.Update(done, now)) {
    label->setText(QString::fromStdString(rate_.Text()));
    label->show();
  }
}

void TForm_Wiper::OnWipeStage() {
  ++stage_;
  if (stage_ == 1) ui_->Button_Cancel->setEnabled(true);
  if (stage_ == 2) ui_->Button_Cancel->setEnabled(false);
}

void TForm_Wiper::OnToggleAnimation() {
  if (ui_->Animation->IsPlaying()) {
    ui_->Animation->Stop();
  } else {
    StartAnimation();
  }
}

void TForm_Wiper::Button_OkClick() { done(ResultOk); }

void TForm_Wiper::Button_CancelClick() {
  // After the end there is no thread to stop.
  if (!thread_) return;
  thread_->Suspend();
  ui_->Animation->Stop();
  platform::PlaySystemSound("Default");
  const int answer =
      SkinnedMessageBox(this, kCancelQuestionText, "Warning", ButtonsYesNo, IconCaution);
  // The run may have ended while the question was open.
  if (!thread_) return;
  if (answer == ResultYes) {
    thread_->Terminate();
    ui_->Button_Cancel->setEnabled(false);
  }
  thread_->Resume();
  StartAnimation();
}

void TForm_Wiper::reject() {
  if (!thread_) {
    Button_OkClick();
  } else if (ui_->Button_Cancel->isEnabled()) {
    Button_CancelClick();
  }
}
