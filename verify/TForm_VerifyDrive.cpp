#include "verify/TForm_VerifyDrive.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <cctype>
#include <thread>

#include "platform/AskUser.h"
#include "platform/qt/Ansi.h"
#include "platform/qt/Sound.h"
#include "platform/qt/WithoutFreezing.h"
#include "settings/CSettings.h"
#include "ui_TForm_VerifyDrive.h"
#include "verify/VerifyDisplay.h"
#include "viewer/TForm_ViewSectors.h"
#include "widgets/BrandingLink.h"
#include "widgets/DriveList.h"
#include "widgets/SkinWidgets.h"
#include "widgets/TXAMessageBox.h"

namespace {

constexpr int kTimerInterval = 50;  // ms between polls of the dirty count
constexpr int kAnimationFirst = 2, kAnimationLast = 40;
constexpr QRgb kGreen = qRgb(0, 128, 0);
constexpr QRgb kMaroon = qRgb(128, 0, 0);
const char kClean[] = "Clean";

void SetTextColour(QLabel* label, QRgb colour) {
  label->setStyleSheet(QStringLiteral("color: rgb(%1, %2, %3);")
                           .arg(qRed(colour))
                           .arg(qGreen(colour))
                           .arg(qBlue(colour)));
}

void SetBold(QLabel* label, bool bold) {
  QFont f = label->font();
  f.setBold(bold);
  label->setFont(f);
}

// The status turns from "Clean" to the warning once, at the first dirty
// unit; any other text is left as it is.
void MarkUncleanOnce(QLabel* status, uint64_t dirty) {
  if (dirty == 0 || status->text() != QLatin1String(kClean)) return;
  status->setText(QStringLiteral("Uncleaned Sectors Detected"));
  SetTextColour(status, kMaroon);
}

// Waits for a worker to end. The worker may itself be waiting for the main
// thread (the log-failure question goes through Synchronize), so those
// calls are served meanwhile; otherwise the two would wait for each other
// for ever.
void WaitServingMainThread(platform::Thread& worker) {
  if (worker.Started()) {
    worker.Resume();  // a parked worker could not see the stop request
    while (!worker.Finished()) {
      QCoreApplication::sendPostedEvents(QCoreApplication::instance(), QEvent::MetaCall);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  worker.WaitFor();
}

}  // namespace

TForm_VerifyDrive::TForm_VerifyDrive(QWidget* owner)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_VerifyDrive>()) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.title = QStringLiteral("Verify Drive C: is Clean");
  frame.closeButtonName = QStringLiteral("KTransButton3");
  frame.titleLeft = 33;
  SetupFrame(frame);
  setWindowTitle(QStringLiteral("Verify Drive"));
  ui_->ImageError->raise();
  AddDragSource(ui_->ImageError);

  SetupBrandingLink(ui_->Label_Branding);
  ui_->Label_Branding->installEventFilter(this);

  ui_->Animation->Seek(kAnimationFirst);

  dirtySectorTimer_.setObjectName(QStringLiteral("DirtySectorTimer"));
  dirtySectorTimer_.setParent(this);
  dirtySectorTimer_.setInterval(kTimerInterval);
  connect(&dirtySectorTimer_, &QTimer::timeout, this, &TForm_VerifyDrive::DirtySectorTimerTimer);

  connect(ui_->Button_Verify, &QPushButton::clicked, this, &TForm_VerifyDrive::Button_VerifyClick);
  connect(ui_->Button_QuickVerify, &QPushButton::clicked, this, &TForm_VerifyDrive::Button_QuickVerifyClick);
  connect(ui_->Button_Cancel, &QPushButton::clicked, this, &TForm_VerifyDrive::Button_CancelClick);
  connect(ui_->Button_ViewDirtySectors, &QPushButton::clicked, this,
          &TForm_VerifyDrive::Button_ViewDirtySectorsClick);
}

TForm_VerifyDrive::~TForm_VerifyDrive() {
  dirtySectorTimer_.stop();
  StopThread();
  // A dirty set still travelling in a queued message belongs to this
  // window, which is going: take it so it goes too.
  TakeQueuedMessagesQuietly();
}

void TForm_VerifyDrive::showEvent(QShowEvent* event) {
  TSkinnedForm::showEvent(event);
  FillDriveList(*ui_->DriveComboBox1, driveLetter_);
}

void TForm_VerifyDrive::Button_VerifyClick() { StartRun(false); }
void TForm_VerifyDrive::Button_QuickVerifyClick() { StartRun(true); }

void TForm_VerifyDrive::StartRun(bool quick) {
  if (thread_) {
    StopThread();
    TakeQueuedMessagesQuietly();
  }
  if (!ui_->Label_StartMessage->isHidden()) {
    ui_->Label_StartMessage->hide();
    ui_->Label_Progress->show();
    ui_->Progress_Verify->show();
  }
  driveLetter_ = ui_->DriveComboBox1->Drive();

  // Opening the drive may wait on the system's authorisation dialog (a
  // user's device comes from the storage service): the windows keep drawing.
  std::unique_ptr<DriveVerifyThread> thread;
  platform::RunWithoutFreezing(
      [&] { thread = std::make_unique<DriveVerifyThread>(true, quick, driveLetter_, &target_); });
  if (!thread->Opened()) {
    thread.reset();
    SkinnedMessageBox(this,
                      "Failed to access the drive.  Please make sure that there is a disk in the drive and "
                      "that it is not write-protected.",
                      "Error", ButtonsOk, IconError);
    return;
  }
  thread_ = std::move(thread);
  ResetDisplay();
  rate_.Start(thread_->TotalSectors() * platform::kSectorBytes, platform::RateMeter::Clock::now());
  thread_->Resume();
  ui_->Animation->Play(kAnimationFirst, kAnimationLast);
}

void TForm_VerifyDrive::ResetDisplay() {
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter_)));
  titleLabel_->setText(QStringLiteral("Verify Drive %1: is Clean").arg(QLatin1Char(letter)));
  ui_->Progress_Verify->setValue(0);
  ui_->Button_Verify->setEnabled(false);
  ui_->Button_QuickVerify->setEnabled(false);
  ui_->Button_Cancel->setText(QStringLiteral("Stop Scanning"));
  ui_->Button_ViewDirtySectors->hide();
  dirtySectorTimer_.start();
  ui_->Animation->Stop();
  ui_->Label_Report->setText(QStringLiteral("0% of drive is not cleaned"));
  ui_->Label_DriveTypeText->setText(QStringLiteral("Unknown"));
  ui_->Label_DriveSizeNumber->setText(QStringLiteral("0 bytes"));
  ui_->Label_DriveLabelText->setText(QStringLiteral("N/A"));
  ui_->Label_ClusterSizeNumber->setText(QStringLiteral("N/A"));
  ui_->Label_DriveErrors->setText(QStringLiteral("0"));
  ui_->Label_DirtySectorsNum->setText(QStringLiteral("0"));
  ui_->Label_DriveStatusText->setText(QLatin1String(kClean));
  SetTextColour(ui_->Label_DriveStatusText, kGreen);
  ui_->Label_Progress->setText(QStringLiteral("Progress:"));
  SetBold(ui_->Label_Progress, false);
  ui_->Label_Rate->clear();
  ui_->Label_Rate->hide();
}

int TForm_VerifyDrive::MeterPercent() const { return ui_->Progress_Verify->value(); }

void TForm_VerifyDrive::DirtySectorTimerTimer() {
  if (!thread_) return;
  const uint32_t dirty = thread_->DirtySectorsSoFar();
  ui_->Label_DirtySectorsNum->setText(QString::fromStdString(FormatThousands(dirty)));
  const uint64_t total = thread_->TotalSectors();
  ui_->Label_Report->setText(
      QStringLiteral("%1% of drive is not cleaned").arg(NotCleanPercent(dirty, total)));
  MarkUncleanOnce(ui_->Label_DriveStatusText, dirty);
  ShowRate();
}

void TForm_VerifyDrive::ShowRate() {
  // The part of the volume covered so far, from the meter: a quick run
  // covers it by samples, so its rate is that of coverage, not of reading.
  const uint64_t total = thread_->TotalSectors() * platform::kSectorBytes;
  const auto done = static_cast<uint64_t>(static_cast<double>(total) * MeterPercent() / 100.0);
  if (rate_.Update(done, platform::RateMeter::Clock::now())) {
    ui_->Label_Rate->setText(QString::fromStdString(rate_.Text()));
    ui_->Label_Rate->show();
  }
}

bool TForm_VerifyDrive::event(QEvent* event) {
  if (event->type() == platform::WindowMessageEvent::EventType()) {
    auto* message = static_cast<platform::WindowMessageEvent*>(event);
    if (message->message == WM_VERIFY_NOTIFY) {
      VerifyNotify(message->wParam, message->lParam);
      return true;
    }
  }
  return TSkinnedForm::event(event);
}

void TForm_VerifyDrive::VerifyNotify(uintptr_t code, intptr_t value) {
  if (quiet_) {
    if (code == VN_FINISHED) {
      dirty_.reset(reinterpret_cast<CDirtyBitmap*>(value));
      stopped_.reset();
    }
    return;
  }
  switch (code) {
    case VN_PROGRESS:
      ui_->Progress_Verify->setValue(std::min(static_cast<int>(static_cast<uint8_t>(value)), 100));
      break;
    case VN_FINISHED:
      Finished(reinterpret_cast<CDirtyBitmap*>(value));
      break;
    case VN_UNREADABLE:
      if (value == -1) {
        SkinnedMessageBox(this,
                          "There were too many dirty sectors on the drive.  Nullifex cannot continue to "
                          "verify this drive.",
                          "Error", ButtonsOk, IconError);
        ui_->Button_Cancel->setText(QStringLiteral("Close"));
      }
      break;
    case VN_ERROR_COUNT:
      ui_->Label_DriveErrors->setText(QString::fromStdString(FormatThousands(static_cast<uint32_t>(value))));
      break;
    case VN_DIRTY_SECTORS:
      ui_->Label_DirtySectorsNum->setText(QString::fromStdString(FormatThousands(static_cast<uint32_t>(value))));
      MarkUncleanOnce(ui_->Label_DriveStatusText, static_cast<uint32_t>(value));
      break;
    case VN_FS_TYPE:
      ui_->Label_DriveTypeText->setText(platform::FromAnsi(reinterpret_cast<const char*>(value)));
      break;
    case VN_CANCELLED:
      ui_->Label_Progress->setText(QStringLiteral("Verification Process Cancelled"));
      SetBold(ui_->Label_Progress, true);
      break;
    case VN_TOTAL_SECTORS:
      ui_->Label_DriveSizeNumber->setText(QString::fromStdString(DriveSizeText(static_cast<int64_t>(value))));
      break;
    case VN_CLUSTER_SIZE:
      if (value != 0) {
        ui_->Label_ClusterSizeNumber->setText(
            QString::fromStdString(FormatThousands(static_cast<uint32_t>(value)) + " bytes"));
      }
      break;
    case VN_VOLUME_LABEL:
      ui_->Label_DriveLabelText->setText(platform::FromAnsi(reinterpret_cast<const char*>(value)));
      break;
    default:
      break;
  }
}

void TForm_VerifyDrive::Finished(CDirtyBitmap* set) {
  platform::PlaySystemSound("SystemExclamation");
  const bool complete = MeterPercent() >= 100;
  ui_->Label_Progress->setText(complete ? QStringLiteral("Finished") : QStringLiteral("Cancelled"));
  SetBold(ui_->Label_Progress, true);
  ui_->Button_Cancel->setText(QStringLiteral("Close"));
  ui_->Button_Verify->setEnabled(true);
  ui_->Button_QuickVerify->setEnabled(true);
  ui_->Animation->Stop();
  dirtySectorTimer_.stop();
  ui_->Label_Rate->clear();
  ui_->Label_Rate->hide();

  thread_.reset();
  stopped_.reset();
  dirty_.reset(set);

  if (dirty_ && dirty_->DirtyCount() != 0) {
    // A moment for the final display to be drawn before the question.
    QEventLoop pause;
    QTimer::singleShot(200, &pause, &QEventLoop::quit);
    pause.exec(QEventLoop::ExcludeUserInputEvents);
    ui_->Button_ViewDirtySectors->show();
    const int answer = SkinnedMessageBox(this,
                                         "There were some dirty sectors found on your drive.  "
                                         "Would you like to view the dirty sectors now?",
                                         "View Dirty Sectors", ButtonsYesNo, IconQuestion);
    if (answer == ResultYes) ViewDirtySectors();
  } else if (complete) {
    ui_->Label_Report->setText(QStringLiteral("100% clean"));
  }
}

void TForm_VerifyDrive::ViewDirtySectors() {
  TForm_ViewSectors viewer(this, dirty_.get(),
                           static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter_))));
  (void)viewer.exec();
}

void TForm_VerifyDrive::Button_ViewDirtySectorsClick() { ViewDirtySectors(); }

void TForm_VerifyDrive::Button_CancelClick() {
  if (!thread_) {
    TSkinnedForm::reject();
    return;
  }
  thread_->Suspend();
  dirtySectorTimer_.stop();
  ui_->Animation->Stop();
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter_)));
  const int answer = SkinnedMessageBox(
      this, std::string("Are you sure you want to stop scanning drive ") + letter + ":?",
      "Stop Drive Verification", ButtonsYesNo, IconQuestion);
  // The run may have ended while the question was open; its last message
  // has then set the final display already.
  if (!thread_) return;
  thread_->Resume();
  ui_->Animation->Play(kAnimationFirst, kAnimationLast);
  if (answer == ResultYes) {
    // The messages the worker posts on its way out (cancelled, the dirty
    // count, finished with the dirty set) are handled after this and set
    // the final display.
    StopThread();
  } else {
    dirtySectorTimer_.start();
  }
}

void TForm_VerifyDrive::KTransButton3MouseRelease() {
  const bool running = thread_ != nullptr;
  Button_CancelClick();
  // While a run goes, the stop question comes first and only Yes closes.
  if (running && !thread_) TSkinnedForm::reject();
}

void TForm_VerifyDrive::CloseButtonClick() { KTransButton3MouseRelease(); }
void TForm_VerifyDrive::reject() { KTransButton3MouseRelease(); }

void TForm_VerifyDrive::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    Button_CancelClick();
    return;
  }
  TSkinnedForm::keyPressEvent(event);
}

void TForm_VerifyDrive::StopThread() {
  if (!thread_) return;
  std::unique_ptr<DriveVerifyThread> thread = std::move(thread_);
  thread->Terminate();
  WaitServingMainThread(*thread);
  stopped_ = std::move(thread);
}

void TForm_VerifyDrive::TakeQueuedMessagesQuietly() {
  quiet_ = true;
  QCoreApplication::sendPostedEvents(this, platform::WindowMessageEvent::EventType());
  quiet_ = false;
  stopped_.reset();
}

void TForm_VerifyDrive::Label_BrandingClick() { OpenBrandingLink(ui_->Label_Branding); }
void TForm_VerifyDrive::Label_BrandingMouseEnter() { HoverBrandingLink(ui_->Label_Branding, true); }
void TForm_VerifyDrive::Label_BrandingMouseLeave() { HoverBrandingLink(ui_->Label_Branding, false); }

bool TForm_VerifyDrive::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->Label_Branding &&
      RouteBrandingEvent(
          ui_->Label_Branding, event, [this] { Label_BrandingMouseEnter(); }, [this] { Label_BrandingMouseLeave(); },
          [this] { Label_BrandingClick(); })) {
    return true;
  }
  return TSkinnedForm::eventFilter(watched, event);
}
