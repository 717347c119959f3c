#include "viewer/TForm_ViewSectors.h"

#include <QAbstractSlider>
#include <QEvent>
#include <QShowEvent>
#include <QTextDocument>
#include <QTextOption>
#include <QThread>
#include <cctype>
#include <charconv>

#include "platform/AlignedBuffer.h"
#include "platform/DriveTable.h"
#include "platform/qt/Ansi.h"
#include "platform/qt/QtMessageTarget.h"
#include "platform/qt/WithoutFreezing.h"
#include "settings/CSettings.h"
#include "ui_TForm_ViewSectors.h"
#include "viewer/SectorDump.h"
#include "widgets/BrandingLink.h"
#include "widgets/DriveList.h"
#include "widgets/TForm_PleaseWait.h"
#include "widgets/TXAMessageBox.h"

namespace {

// How far the dirty-sector layout grows the dump into the room the track
// bar and the Go To row leave.
constexpr int kDirtyModeGrowth = 92;
constexpr int kTrackBarMax = 100;
constexpr int kDontShowAgainViewer = 0;

const char kIntroduction[] =
    "\n\nData is stored on a drive in sectors.  Each sector holds 512 bytes.  \n"
    "This sector viewer allows you to view the individual sectors on a drive.\n\n"
    "To view the sectors on the drive, select a drive and then press the \n"
    "View Sectors button.";

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The dump area is a Qt text widget: its lines end in LF alone.
QString MemoText(const std::string& text) {
  QString s = platform::FromAnsi(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return s;
}

// A signed decimal number that fits 64 bits: an optional sign and digits,
// nothing else. Text out of that range is as invalid as letters.
bool ParseSectorNumber(const std::string& text, int64_t& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return false;
  }
  if (first == last) return false;
  int64_t parsed = 0;
  const auto [end, error] = std::from_chars(first, last, parsed, 10);
  if (error != std::errc() || end != last) return false;
  value = parsed;
  return true;
}

// Every drive is opened read-only: the viewer only looks.
CDriveController::BackendFactory ReadOnlyDrives() {
  return [](char letter) { return platform::DriveTable::Load().OpenBackend(letter, true); };
}

char SystemDriveLetter() {
  const char letter = platform::DriveTable::Load().SystemDrive();
  return letter ? letter : 'C';
}

}  // namespace

TForm_ViewSectors::TForm_ViewSectors(QWidget* owner, const CDirtyBitmap* dirty, char driveLetter,
                                     CDriveController::BackendFactory backends)
    : TSkinnedForm(owner),
      ui_(std::make_unique<Ui::TForm_ViewSectors>()),
      controller_(backends ? std::move(backends) : ReadOnlyDrives()) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.title = QStringLiteral("View Sectors on Drive C:");
  frame.closeButtonName = QStringLiteral("KTransButtonExit");
  SetupFrame(frame);

  SetupBrandingLink(ui_->Label_Branding);
  ui_->Label_Branding->installEventFilter(this);

  driveLetter_ = Upper(driveLetter == 0 ? SystemDriveLetter() : driveLetter);

  ui_->Memo_SectorContents->setPlainText(QString::fromLatin1(kIntroduction));
  SetDumpFont(false);

  if (dirty) {
    dirty_ = std::make_unique<CDirtyBitmap>(*dirty);
    ui_->DriveComboBox1->setEnabled(false);
    ui_->Button_ViewSectors->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(ui_->TrackBar_CurrentSector),
                       static_cast<QWidget*>(ui_->Button_GoToSector),
                       static_cast<QWidget*>(ui_->Edit_CurSector),
                       static_cast<QWidget*>(ui_->Label_MinSector),
                       static_cast<QWidget*>(ui_->Label_MaxSector),
                       static_cast<QWidget*>(ui_->Label_MinMax)}) {
      w->hide();
    }
    QWidget* memo = ui_->Memo_SectorContents;
    memo->resize(memo->width(), memo->height() + kDirtyModeGrowth);
    for (QWidget* w : {static_cast<QWidget*>(ui_->Button_Previous),
                       static_cast<QWidget*>(ui_->Button_Next),
                       static_cast<QWidget*>(ui_->Label_CurrentSector)}) {
      w->move(w->x(), w->y() + kDirtyModeGrowth);
    }
  }

  connect(ui_->Button_ViewSectors, &QPushButton::clicked, this, [this] { Button_ViewSectorsClick(); });
  connect(ui_->Button_Previous, &QPushButton::clicked, this, [this] { Button_PreviousClick(); });
  connect(ui_->Button_Next, &QPushButton::clicked, this, [this] { Button_NextClick(); });
  connect(ui_->Button_GoToSector, &QPushButton::clicked, this, [this] { Button_GoToSectorClick(); });
  connect(ui_->Button_Close, &QPushButton::clicked, this, [this] { close(); });
  connect(ui_->DriveComboBox1, &QComboBox::activated, this, [this] { DriveComboBox1Select(); });
  connect(ui_->Edit_CurSector, &QLineEdit::textChanged, this, [this] { Edit_CurSectorChange(); });
  ui_->Edit_CurSector->installEventFilter(this);

  // The slider's actions become the track bar's scroll codes. A drag moves
  // only the label; letting go of the thumb shows the sector; the wheel
  // moves the slider without pressing it.
  QSlider* track = ui_->TrackBar_CurrentSector;
  connect(track, &QAbstractSlider::actionTriggered, this, [this, track](int action) {
    int code = -1;
    switch (action) {
      case QAbstractSlider::SliderSingleStepSub: code = TB_LINEUP; break;
      case QAbstractSlider::SliderSingleStepAdd: code = TB_LINEDOWN; break;
      case QAbstractSlider::SliderPageStepSub: code = TB_PAGEUP; break;
      case QAbstractSlider::SliderPageStepAdd: code = TB_PAGEDOWN; break;
      // Home and End put the thumb at an end; the sector there is shown,
      // so the thumb and the dump never disagree.
      case QAbstractSlider::SliderToMinimum:
      case QAbstractSlider::SliderToMaximum: code = TB_THUMBPOSITION; break;
      case QAbstractSlider::SliderMove:
        if (!track->isSliderDown()) {
          TrackBar_CurrentSectorMouseWheel();
          return;
        }
        code = TB_THUMBTRACK;
        break;
      default: return;
    }
    TrackBar_CurrentSectorTrack(code, track->sliderPosition());
  });
  connect(track, &QAbstractSlider::sliderReleased, this,
          [this, track] { TrackBar_CurrentSectorTrack(TB_THUMBPOSITION, track->sliderPosition()); });
}

TForm_ViewSectors::~TForm_ViewSectors() { controller_.CloseDrive(); }

void TForm_ViewSectors::showEvent(QShowEvent* event) {
  TSkinnedForm::showEvent(event);
  if (event->spontaneous()) return;  // restored from minimised: not a new show
  FillDriveList(*ui_->DriveComboBox1, driveLetter_);
  if (dirty_) platform::PostWindowMessage(this, WM_VIEWER_OPEN_DRIVE, 0, 0);
  platform::PostWindowMessage(this, WM_VIEWER_SHOW_INTRO, 0, 0);
}

bool TForm_ViewSectors::event(QEvent* event) {
  if (event->type() == platform::WindowMessageEvent::EventType()) {
    auto* message = static_cast<platform::WindowMessageEvent*>(event);
    if (message->message == WM_VIEWER_OPEN_DRIVE) {
      repaint();
      OpenDriveView(driveLetter_);
      return true;
    }
    if (message->message == WM_VIEWER_SHOW_INTRO) {
      repaint();
      CSettings().ShowDontShowAgainMessage(kDontShowAgainViewer, this);
      return true;
    }
  }
  return TSkinnedForm::event(event);
}

bool TForm_ViewSectors::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->Label_Branding &&
      RouteBrandingEvent(
          ui_->Label_Branding, event, [this] { Label_BrandingMouseEnter(); }, [this] { Label_BrandingMouseLeave(); },
          [this] { Label_BrandingClick(); })) {
    return true;
  }
  if (watched == ui_->Edit_CurSector && event->type() == QEvent::FocusOut) Edit_CurSectorAfterExit();
  return TSkinnedForm::eventFilter(watched, event);
}

void TForm_ViewSectors::SetDumpFont(bool errorFont) {
  errorFont_ = errorFont;
  QFont font;
  if (errorFont) {
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPointSize(12);
  } else {
    font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(8);
  }
  QTextEdit* memo = ui_->Memo_SectorContents;
  memo->setFont(font);
  memo->document()->setDefaultFont(font);
  QTextOption option = memo->document()->defaultTextOption();
  option.setAlignment(errorFont ? Qt::AlignHCenter : Qt::AlignLeft);
  memo->document()->setDefaultTextOption(option);
}

void TForm_ViewSectors::OpenDriveView(char letter) {
  ui_->Memo_SectorContents->clear();
  auto pleaseWait = std::make_unique<TForm_PleaseWait>(this);
  pleaseWait->ShowNow();
  QThread::msleep(static_cast<unsigned long>(openPause_.count()));

  driveLetter_ = Upper(letter);
  controller_.CloseDrive();
  // A user's device comes from the storage service, which may wait on the
  // system's authorisation dialog: the windows keep drawing meanwhile.
  platform::RunWithoutFreezing([this] {
    (void)controller_.OpenDrive(driveLetter_);
    lastSector_ = controller_.GetLastSector();
  });
  const bool readable = lastSector_ > 0;

  if (!readable) {
    SkinnedMessageBox(this,
                      "Failed to access the drive.  Please make sure that there is a disk in the drive "
                      "and that it is not write-protected.",
                      "Drive Error", ButtonsOk, IconError);
    ui_->TrackBar_CurrentSector->setEnabled(false);
  } else {
    ui_->TrackBar_CurrentSector->setEnabled(true);
    if (dirty_) {
      // A set of clusters is shown sector by sector. The cluster size in
      // bytes, not the boot sector's byte: NTFS codes clusters of 128
      // sectors and more as a power of two there, and counts sectors of its
      // own size, while the viewer steps through 512-byte ones.
      sectorsPerUnit_ = 1;
      if (!dirty_->UnitsAreSectors()) {
        sectorsPerUnit_ = std::max<uint64_t>(1, controller_.GetClusterSize() / platform::kSectorBytes);
      }
      dirtyIndex_ = 0;
      currentSector_ = dirty_->FindFirst() * sectorsPerUnit_;
      dirtyTotal_ = dirty_->DirtyCount() * sectorsPerUnit_;
    } else {
      currentSector_ = 0;
    }
    sectorsPerTick_ = lastSector_ / kTrackBarMax;
    ui_->Label_MaxSector->setText(QString::fromStdString(FormatThousands(lastSector_)));
    SetTitle(QStringLiteral("View Sectors on Drive %1:").arg(QLatin1Char(driveLetter_)));
    ui_->Label_MinMax->setText(QStringLiteral("Enter a value between 0 and ") + ui_->Label_MaxSector->text());
  }
  for (QWidget* w : {static_cast<QWidget*>(ui_->Button_Previous), static_cast<QWidget*>(ui_->Button_Next),
                     static_cast<QWidget*>(ui_->TrackBar_CurrentSector),
                     static_cast<QWidget*>(ui_->Edit_CurSector),
                     static_cast<QWidget*>(ui_->Button_GoToSector)}) {
    w->setEnabled(readable);
  }

  QThread::msleep(static_cast<unsigned long>(openPause_.count()));
  pleaseWait.reset();
  ui_->TrackBar_CurrentSector->setValue(0);

  if (readable) {
    SetDumpFont(false);
    ui_->Label_CurrentSector->show();
    ui_->Label_MinMax->setVisible(!dirty_);
    ShowSector(currentSector_, true, true);
  } else {
    SetDumpFont(true);
    ui_->Memo_SectorContents->setPlainText(QStringLiteral("\n\n\nUnable to read from drive."));
    ui_->Label_CurrentSector->hide();
    ui_->Label_MinMax->hide();
    ui_->Label_MaxSector->setText(QStringLiteral("0"));
  }
}

void TForm_ViewSectors::ShowSector(uint64_t sector, bool read, bool moveTrackBar) {
  currentSector_ = sector;
  if (read) DumpSector(sector);
  if (dirty_) {
    ui_->Button_Previous->setEnabled(dirtyIndex_ > 0);
    ui_->Button_Next->setEnabled(dirtyIndex_ + 1 < dirtyTotal_);
  } else {
    ui_->Button_Previous->setEnabled(currentSector_ > 0);
    ui_->Button_Next->setEnabled(currentSector_ < lastSector_);
  }
  if (moveTrackBar) {
    // 128 bits: sector × 100 cannot overflow for any drive.
    const unsigned __int128 scaled =
        lastSector_ == 0 ? 0 : static_cast<unsigned __int128>(currentSector_) * kTrackBarMax / lastSector_;
    ui_->TrackBar_CurrentSector->setValue(static_cast<int>(std::min<unsigned __int128>(scaled, kTrackBarMax)));
  }
  ui_->Label_CurrentSector->setText(QStringLiteral("Viewing Sector: ") +
                                    QString::fromStdString(FormatThousands(currentSector_)) +
                                    QStringLiteral(" of ") +
                                    QString::fromStdString(FormatThousands(lastSector_)));
}

void TForm_ViewSectors::DumpSector(uint64_t sector) {
  QTextEdit* memo = ui_->Memo_SectorContents;
  memo->clear();
  platform::AlignedBuffer buffer(viewer::kDumpSectorBytes);
  if (buffer && controller_.ReadSectorsAt(buffer.data(), sector, 1)) {
    if (errorFont_) SetDumpFont(false);
    memo->setPlainText(MemoText(viewer::FormatSectorDump(buffer.data(), viewer::kDumpSectorBytes)));
  } else {
    SetDumpFont(true);
    memo->setPlainText(MemoText("\r\n\r\n\r\nDisk errors encountered at sector " + FormatThousands(sector) +
                                ".\r\nThis sector appears to be damaged and is not usable."));
  }
}

void TForm_ViewSectors::Button_ViewSectorsClick() { OpenDriveView(ui_->DriveComboBox1->Drive()); }

void TForm_ViewSectors::Button_PreviousClick() {
  if (!dirty_) {
    if (currentSector_ == 0) return;
    ShowSector(currentSector_ - 1, true, true);
    ui_->Button_Next->setEnabled(true);
    return;
  }
  if (dirtyIndex_ == 0) return;
  const uint64_t old = dirtyIndex_;
  --dirtyIndex_;
  uint64_t sector;
  if (sectorsPerUnit_ == 1) {
    sector = dirty_->FindPrevious();
  } else if (old % sectorsPerUnit_ != 0) {
    sector = currentSector_ - 1;
  } else {
    // The last sector of the previous dirty cluster.
    sector = dirty_->FindPrevious() * sectorsPerUnit_ + sectorsPerUnit_ - 1;
  }
  ShowSector(sector, true, true);
  if (dirtyIndex_ == 0) ui_->Button_Previous->setEnabled(false);
  ui_->Button_Next->setEnabled(true);
}

void TForm_ViewSectors::Button_NextClick() {
  if (!dirty_) {
    if (currentSector_ >= lastSector_) return;
    ShowSector(currentSector_ + 1, true, true);
    ui_->Button_Previous->setEnabled(true);
    return;
  }
  if (dirtyIndex_ + 1 >= dirtyTotal_) return;
  ++dirtyIndex_;
  uint64_t sector;
  if (sectorsPerUnit_ == 1) {
    sector = dirty_->FindNext();
  } else if (dirtyIndex_ % sectorsPerUnit_ == 0) {
    // The first sector of the next dirty cluster.
    sector = dirty_->FindNext() * sectorsPerUnit_;
  } else {
    sector = currentSector_ + 1;
  }
  ShowSector(sector, true, true);
  if (dirtyIndex_ + 1 >= dirtyTotal_) ui_->Button_Next->setEnabled(false);
  ui_->Button_Previous->setEnabled(true);
}

void TForm_ViewSectors::TrackBar_CurrentSectorTrack(int scrollCode, int position) {
  position = std::clamp(position, 0, kTrackBarMax);
  const uint64_t target =
      position < kTrackBarMax ? static_cast<uint64_t>(position) * sectorsPerTick_ : lastSector_;
  if (scrollCode < TB_THUMBTRACK) {
    ShowSector(target, true, false);
  } else if (scrollCode == TB_THUMBTRACK) {
    ShowSector(target, false, false);
  }
}

void TForm_ViewSectors::TrackBar_CurrentSectorMouseWheel() {
  TrackBar_CurrentSectorTrack(TB_THUMBPOSITION, ui_->TrackBar_CurrentSector->sliderPosition());
}

void TForm_ViewSectors::Button_GoToSectorClick() {
  int64_t value = static_cast<int64_t>(currentSector_);
  if (!ParseSectorNumber(platform::ToAnsi(ui_->Edit_CurSector->text()), value)) {
    SkinnedMessageBox(this,
                      "The number you entered is not a valid sector/cluster number.  Please check to "
                      "make sure you did not type in any letters, commas, or other invalid characters "
                      "and try again.",
                      "Error", ButtonsOk, IconError);
  }
  ui_->Edit_CurSector->clear();
  uint64_t target;
  if (value < 0) {
    target = currentSector_;
  } else {
    target = static_cast<uint64_t>(value) > lastSector_ ? lastSector_ : static_cast<uint64_t>(value);
  }
  ui_->Button_Previous->setEnabled(target > 0);
  ui_->Button_Next->setEnabled(target < lastSector_);
  if (target != currentSector_) ShowSector(target, true, true);
}

void TForm_ViewSectors::DriveComboBox1Select() {
  ui_->Button_ViewSectors->setDefault(true);
  ui_->Button_GoToSector->setDefault(false);
}

void TForm_ViewSectors::Edit_CurSectorChange() {
  ui_->Button_GoToSector->setDefault(true);
  ui_->Button_ViewSectors->setDefault(false);
}

void TForm_ViewSectors::Edit_CurSectorAfterExit() { ui_->Button_GoToSector->setDefault(false); }

void TForm_ViewSectors::Label_BrandingClick() { OpenBrandingLink(ui_->Label_Branding); }
void TForm_ViewSectors::Label_BrandingMouseEnter() { HoverBrandingLink(ui_->Label_Branding, true); }
void TForm_ViewSectors::Label_BrandingMouseLeave() { HoverBrandingLink(ui_->Label_Branding, false); }
