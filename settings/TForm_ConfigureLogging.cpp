#include "settings/TForm_ConfigureLogging.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QShowEvent>

#include "platform/qt/Ansi.h"
#include "platform/qt/ShellOpen.h"
#include "settings/CLogger.h"
#include "settings/CSettings.h"
#include "ui_TForm_ConfigureLogging.h"
#include "widgets/TXAMessageBox.h"

TForm_ConfigureLogging::TForm_ConfigureLogging(QWidget* owner)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_ConfigureLogging>()) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.title = QStringLiteral("Configure Report Log");
  frame.closeButtonName = QStringLiteral("KTransButton3");
  SetupFrame(frame);

  connect(ui_->CheckBox_EnableLogging, &QCheckBox::toggled, this,
          &TForm_ConfigureLogging::CheckBox_EnableLoggingClick);
  connect(ui_->Button_Browse, &QPushButton::clicked, this, &TForm_ConfigureLogging::Button_BrowseClick);
  connect(ui_->Button_ViewLog, &QPushButton::clicked, this,
          &TForm_ConfigureLogging::Button_ViewLogClick);
  connect(ui_->Button_Ok, &QPushButton::clicked, this, &TForm_ConfigureLogging::Button_OkClick);
  // Cancel and the title-bar button store nothing.
  connect(ui_->Button_Close, &QPushButton::clicked, this, &TSkinnedForm::reject);
}

TForm_ConfigureLogging::~TForm_ConfigureLogging() = default;

void TForm_ConfigureLogging::showEvent(QShowEvent* event) {
  TSkinnedForm::showEvent(event);
  if (event->spontaneous()) return;  // restored from minimised: keep the edits
  CSettings settings;
  ui_->Edit_LogFilePath->setText(platform::FromAnsi(settings.GetLogLocation()));
  const QSignalBlocker quiet(ui_->CheckBox_EnableLogging);
  ui_->CheckBox_EnableLogging->setChecked(settings.GetLogEnabled());
  CheckBox_EnableLoggingClick();
}

void TForm_ConfigureLogging::CheckBox_EnableLoggingClick() {
  const bool on = ui_->CheckBox_EnableLogging->isChecked();
  ui_->Edit_LogFilePath->setEnabled(on);
  ui_->Button_Browse->setEnabled(on);
  if (on && ui_->Edit_LogFilePath->text().isEmpty()) {
    ui_->Edit_LogFilePath->setText(platform::FromAnsi(CSettings().GetInstallFolder()));
  }
}

void TForm_ConfigureLogging::Button_BrowseClick() {
  const QString typed = ui_->Edit_LogFilePath->text();
  if (!typed.isEmpty()) browsed_ = typed;
  const QString chosen = QFileDialog::getExistingDirectory(
      this, QStringLiteral("Select A Folder"), browsed_, QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return;  // cancelled: nothing changes
  browsed_ = chosen;
  ui_->Edit_LogFilePath->setText(chosen);
}

void TForm_ConfigureLogging::Button_ViewLogClick() {
  // The stored folder, not the edit: the log is where the program writes it.
  const std::string path = LogFilePath(CSettings().GetLogLocation());
  if (QFileInfo(platform::FromAnsi(path)).isFile()) {
    (void)platform::ShellOpen(path);
    return;
  }
  (void)SkinnedMessageBox(this, "Nothing has been logged, or the log file is missing.",
                          "View Report Log", ButtonsOk, IconInfo);
}

void TForm_ConfigureLogging::Button_OkClick() {
  CSettings settings;
  settings.SetLogEnabled(ui_->CheckBox_EnableLogging->isChecked());
  // Stored as typed: the folder is checked when the log is next written.
  settings.SetLogLocation(platform::ToAnsi(ui_->Edit_LogFilePath->text()));
  accept();
}
