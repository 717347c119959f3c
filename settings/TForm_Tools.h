#pragma once
#include <memory>

#include "widgets/SkinnedForm.h"

namespace Ui {
class TForm_Tools;
}

// "Nullifex Tools": the automatic update check on or off, "Check For
// Updates Now", and the way to the report-log configuration. Settings are
// written at Ok only.
class TForm_Tools : public TSkinnedForm {
  Q_OBJECT
 public:
  explicit TForm_Tools(QWidget* owner);
  ~TForm_Tools() override;

  bool AutoUpdateChanged() const { return autoUpdateChanged_; }
  Ui::TForm_Tools* ui() const { return ui_.get(); }

  void CheckBox_AutoUpdateClick();
  void Button_ConfigureReportLogClick();
  void Button_CheckForUpdatesClick();
  void Button_OkClick();

 private:
  std::unique_ptr<Ui::TForm_Tools> ui_;
  bool autoUpdateChanged_ = false;
};
