#include "settings/TForm_Tools.h"

#include "settings/CSettings.h"
#include "settings/TForm_ConfigureLogging.h"
#include "ui_TForm_Tools.h"
#include "update/TForm_Update.h"

TForm_Tools::TForm_Tools(QWidget* owner)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_Tools>()) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.title = QStringLiteral("Nullifex Tools");
  frame.closeButtonName = QStringLiteral("KTransButton3");
  SetupFrame(frame);
  autoUpdateChanged_ = false;
  ui_->CheckBox_AutoUpdate->setChecked(CSettings().GetAutoUpdate());

  // clicked, not toggled: only the user's clicks count, and setting the
  // first state above is none.
  connect(ui_->CheckBox_AutoUpdate, &QCheckBox::clicked, this, &TForm_Tools::CheckBox_AutoUpdateClick);
  connect(ui_->Button_ConfigureReportLog, &QPushButton::clicked, this,
          &TForm_Tools::Button_ConfigureReportLogClick);
  connect(ui_->Button_CheckForUpdates, &QPushButton::clicked, this,
          &TForm_Tools::Button_CheckForUpdatesClick);
  connect(ui_->Button_Ok, &QPushButton::clicked, this, &TForm_Tools::Button_OkClick);
}

TForm_Tools::~TForm_Tools() = default;

void TForm_Tools::CheckBox_AutoUpdateClick() {
  // Clicking twice, back to the first state, still counts as a change.
  autoUpdateChanged_ = true;
}

void TForm_Tools::Button_ConfigureReportLogClick() {
  HideWhile([this] {
    TForm_ConfigureLogging form(this);
    (void)form.exec();
  });
}

void TForm_Tools::Button_CheckForUpdatesClick() {
  HideWhile([this] {
    TForm_Update form(this);
    (void)form.exec();
  });
}

void TForm_Tools::Button_OkClick() {
  // Also restarts the weekly period (7 days from now).
  if (autoUpdateChanged_) CSettings().SetAutoUpdate(ui_->CheckBox_AutoUpdate->isChecked());
  accept();
}
