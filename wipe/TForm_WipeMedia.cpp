#include "wipe/TForm_WipeMedia.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <cctype>
#include <strings.h>

#include "platform/AskUser.h"
#include "platform/qt/Ansi.h"
#include "platform/qt/Sound.h"
#include "settings/CSettings.h"
#include "ui_TForm_WipeMedia.h"
#include "widgets/DriveList.h"
#include "widgets/TXAMessageBox.h"
#include "wipe/TForm_Confirmation.h"
#include "wipe/TForm_Wiper.h"
#include "wipe/WipeTexts.h"

namespace {
constexpr int kNextLeft = 168;
constexpr int kNextWidth = 75;
constexpr int kBackLeft = 85;
constexpr int kStep3Widen = 55;  // "Wipe Media Selection" needs the room

// Overwrite counts by the list's index; none selected wipes once.
int32_t OverwriteCount(int index) {
  static const int32_t kCounts[] = {1, 3, 7, 12};
  return index >= 0 && index < 4 ? kCounts[index] : 1;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The long step-3 caption in the button's fixed width: a smaller face
// rather than a clipped word.
void FitCaption(QPushButton& button) {
  constexpr int kMargin = 12;
  QFont font = button.font();
  const bool pixels = font.pixelSize() > 0;
  for (int size = pixels ? font.pixelSize() : font.pointSize();
       size > 6 && QFontMetrics(font).horizontalAdvance(button.text()) > button.width() - kMargin; --size) {
    if (pixels) {
      font.setPixelSize(size - 1);
    } else {
      font.setPointSize(size - 1);
    }
  }
  button.setFont(font);
}
}  // namespace

TForm_WipeMedia::TForm_WipeMedia(QWidget* owner)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_WipeMedia>()) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.title = QStringLiteral("Wipe Media - Step 1 of 3");
  frame.closeButtonName = QStringLiteral("KTransButtonExit");
  SetupFrame(frame);
  // Offered only where the format can be left out (the NT family).
  ui_->CheckBox_Format->hide();
  connect(ui_->Button_Next, &QPushButton::clicked, this, &TForm_WipeMedia::Button_NextClick);
  connect(ui_->Button_Back, &QPushButton::clicked, this, &TForm_WipeMedia::Button_BackClick);
  connect(ui_->Button_Close, &QPushButton::clicked, this, &TSkinnedForm::reject);
  // The user's toggles only: the set-up sets the box without a click.
  connect(ui_->CheckBox_Format, &QCheckBox::clicked, this, &TForm_WipeMedia::CheckBox_FormatChange);
}

TForm_WipeMedia::~TForm_WipeMedia() = default;

void TForm_WipeMedia::showEvent(QShowEvent* event) {
  TSkinnedForm::showEvent(event);
  // Not when the window system merely shows it again (after a minimise).
  if (!event->spontaneous()) FormShow();
}

void TForm_WipeMedia::FormShow() {
  TDriveComboBox* list = ui_->DriveComboBox1;
  const QString first = list->count() > 0 ? list->itemText(0) : QString();
  FillDriveList(*list, first.isEmpty() ? 0 : first[0].toLatin1());
  ShowStep(1);
  ui_->CheckBox_Format->setChecked(FormatWhenFinished.load());
  ui_->Button_Next->setText(QStringLiteral("Next"));
  ui_->Button_Next->setGeometry(kNextLeft, ui_->Button_Next->y(), kNextWidth, ui_->Button_Next->height());
  ui_->Button_Back->move(kBackLeft, ui_->Button_Back->y());
}

void TForm_WipeMedia::ShowStep(int step) {
  ui_->Panel_Step1->setVisible(step == 1);
  ui_->Panel_Step2->setVisible(step == 2);
  ui_->Panel_Step3->setVisible(step == 3);
  SetTitle(QStringLiteral("Wipe Media - Step %1 of 3").arg(step));
}

int TForm_WipeMedia::Step() const {
  if (ui_->Panel_Step3->isVisibleTo(this)) return 3;
  if (ui_->Panel_Step2->isVisibleTo(this)) return 2;
  return 1;
}

char TForm_WipeMedia::SelectedLetter() const { return ui_->DriveComboBox1->Drive(); }

WipeOptions TForm_WipeMedia::Options() const {
  WipeOptions o;
  o.driveLetter = SelectedLetter();
  // A disabled field still hands its text.
  o.volumeLabel = platform::ToAnsi(ui_->Edit_VolumeLabel->text()).substr(0, 11);
  o.overwriteCount = OverwriteCount(ui_->ComboBox_Overwrites->currentIndex());
  o.fileSystem = ui_->RadioButton_NTFS->isChecked() ? WIPE_FS_NTFS : WIPE_FS_FAT;
  o.formatWhenFinished = FormatWhenFinished.load();
  return o;
}

void TForm_WipeMedia::Button_NextClick() {
  switch (Step()) {
    case 1: {
      const char letter = SelectedLetter();
      // With no drive listed there is nothing to go on with.
      if (letter == 0) return;
      if (Upper(letter) == Upper(WipeSystemDriveLetter())) {
        const std::string text = std::string("Drive ") + Upper(letter) +
                                 ": is your system drive and cannot be wiped.  If you want to wipe your system "
                                 "drive, you will need to use Vastrase.  Please visit " +
                                 GetBrandingText(kBrandingSiteName) +
                                 " for information on how to purchase Vastrase.";
        (void)SkinnedMessageBox(this, text, "Cannot Wipe System Drive", ButtonsOk, IconError);
        return;
      }
      ShowStep(2);
      ui_->Button_Back->setEnabled(true);
      SetUpFileSystem(letter);
      if (IsWindowsNT()) {
        ui_->CheckBox_Format->setVisible(true);
        CheckBox_FormatChange();
      }
      return;
    }
    case 2: {
      const bool labelled = !(IsWindowsNT() && !FormatWhenFinished.load());
      ui_->Label_DriveLabel->setEnabled(labelled);
      ui_->Edit_VolumeLabel->setEnabled(labelled);
      ShowStep(3);
      const QString x = QChar::fromLatin1(Upper(SelectedLetter()));
      ui_->Label_Step3Heading->setText(QStringLiteral("Drive Label for Drive %1:").arg(x));
      ui_->Label_DriveLabel->setText(QStringLiteral("Label Drive %1: as (11 characters maximum):").arg(x));
      QPushButton* next = ui_->Button_Next;
      next->setText(QStringLiteral("Wipe Media Selection"));
      next->setGeometry(next->x() - kStep3Widen, next->y(), next->width() + kStep3Widen, next->height());
      FitCaption(*next);
      ui_->Button_Back->move(ui_->Button_Back->x() - kStep3Widen, ui_->Button_Back->y());
      return;
    }
    default:
      Button_WipeSelectionClick();
  }
}

void TForm_WipeMedia::SetUpFileSystem(char letter) {
  QRadioButton* fat = ui_->RadioButton_FAT;
  QRadioButton* ntfs = ui_->RadioButton_NTFS;
  if (!IsWindowsNT()) {
    fat->setChecked(true);
    ntfs->setEnabled(false);
    return;
  }
  const platform::DriveTable table = GetDriveListSource().table();
  switch (table.GetDriveType(letter)) {
    case platform::DRIVE_FIXED: ntfs->setEnabled(true); break;
    case platform::DRIVE_UNKNOWN:
    case platform::DRIVE_NO_ROOT_DIR:
    case platform::DRIVE_REMOVABLE:
    case platform::DRIVE_REMOTE:
    case platform::DRIVE_CDROM:
    case platform::DRIVE_RAMDISK: ntfs->setEnabled(false); break;
    default: break;
  }
  platform::VolumeInformation info;
  const auto backend = table.OpenBackend(letter, true);
  const bool read = backend && backend->GetVolumeInformation(info);
  if (ntfs->isEnabled() && read && strcasecmp(info.fileSystem.c_str(), "NTFS") == 0) {
    ntfs->setChecked(true);
  } else {
    fat->setChecked(true);
  }
}

void TForm_WipeMedia::CheckBox_FormatChange() {
  const bool on = ui_->CheckBox_Format->isChecked();
  ui_->RadioButton_FAT->setEnabled(on);
  ui_->RadioButton_NTFS->setEnabled(on);
  FormatWhenFinished = on;
}

void TForm_WipeMedia::Button_BackClick() {
  switch (Step()) {
    case 2:
      ShowStep(1);
      ui_->Button_Back->setEnabled(false);
      return;
    case 3: {
      ShowStep(2);
      QPushButton* next = ui_->Button_Next;
      next->setEnabled(true);
      next->setText(QStringLiteral("Next"));
      next->setGeometry(next->x() + kStep3Widen, next->y(), next->width() - kStep3Widen, next->height());
      next->setFont(QFont());
      ui_->Button_Back->move(ui_->Button_Back->x() + kStep3Widen, ui_->Button_Back->y());
      return;
    }
    default:
      return;
  }
}

void TForm_WipeMedia::Button_WipeSelectionClick() {
  const char letter = Upper(SelectedLetter());
  for (int step = 1; step <= 2; ++step) {
    TForm_Confirmation confirmation(this, step, letter);
    platform::PlaySystemSound("SystemQuestion");
    if (confirmation.exec() == ResultNo) return;
  }
  TForm_Wiper wiper(this);
  if (wiper.StartWipe(Options())) {
    hide();
    (void)wiper.exec();
    done(ResultOk);
    return;
  }
  const uint32_t error = static_cast<uint32_t>(wiper.GetStartError());
  platform::PlaySystemSound("SystemHand");
  const WipeMessageText m = StartErrorMessage(error);
  (void)SkinnedMessageBox(this, m.text, m.title, ButtonsOk, IconError);
  if (error != errc::kNotReady && error != errc::kNoMediaInDrive) done(ResultCancel);
}
