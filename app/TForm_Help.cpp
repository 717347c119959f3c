#include "app/TForm_Help.h"

#include "platform/qt/Ansi.h"
#include "platform/qt/ShellOpen.h"
#include "settings/CSettings.h"
#include "ui_TForm_Help.h"

namespace {
// The window's height without the note line.
constexpr int kNoteHeight = 50;
}  // namespace

TForm_Help::TForm_Help(QWidget* owner)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_Help>()) {
  ui_->setupUi(this);
  {
    CSettings settings;
    ui_->Label_CurrentBuild->setText(QStringLiteral("Version 3 ") +
                                     platform::FromAnsi(settings.GetBuildStamp()));
  }
  ui_->Label_Website->setText(platform::FromAnsi(GetBrandingText(kBrandingSiteName)));
  ui_->Label_Website->setStyleSheet(QStringLiteral("color: rgb(31, 79, 159);"));
  const std::string note = GetBrandingText(kBrandingHelpNote);
  const bool hasNote = !note.empty();
  if (hasNote) {
    ui_->Label_ThreeLines->setContentsMargins(10, 0, 10, 0);
    ui_->Label_ThreeLines->setText(platform::FromAnsi(note));
  } else {
    ui_->Label_ThreeLines->hide();
  }

  FrameOptions frame;
  frame.title = QStringLiteral("Nullifex Help");
  frame.closeButtonName = QStringLiteral("KTransButton3");
  SetupFrame(frame);
  // Shortened after the frame has recorded the designed layout, so the
  // panel and the Close button follow the new bottom edge, and the outline
  // is rounded at the final height.
  if (!hasNote) ResizeFrame(width(), height() - kNoteHeight);

  connect(ui_->Button_OnlineHelp, &QPushButton::clicked, this, &TForm_Help::Button_OnlineHelpClick);
  connect(ui_->Button_HelpFile, &QPushButton::clicked, this, &TForm_Help::Button_HelpFileClick);
  connect(ui_->Button_Close, &QPushButton::clicked, this, &QWidget::close);
}

TForm_Help::~TForm_Help() = default;

void TForm_Help::Button_OnlineHelpClick() {
  // Whether the page opened is not looked at; the window closes either way.
  (void)platform::ShellOpen(GetBrandingText(kBrandingHelpPage));
  done(ResultOk);
}

void TForm_Help::Button_HelpFileClick() {
  (void)platform::ShellOpen(kHelpFileName);
  done(ResultOk);
}
