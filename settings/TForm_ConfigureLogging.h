#pragma once
#include <QString>
#include <memory>

#include "widgets/SkinnedForm.h"

namespace Ui {
class TForm_ConfigureLogging;
}

// "Configure Report Log": whether the action log is written and into which
// folder, and a look at the log as it is stored. Settings are written at Ok
// only; Cancel and the title-bar button store nothing.
class TForm_ConfigureLogging : public TSkinnedForm {
  Q_OBJECT
 public:
  explicit TForm_ConfigureLogging(QWidget* owner);
  ~TForm_ConfigureLogging() override;

  Ui::TForm_ConfigureLogging* ui() const { return ui_.get(); }

  void CheckBox_EnableLoggingClick();
  void Button_BrowseClick();
  void Button_ViewLogClick();
  void Button_OkClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<Ui::TForm_ConfigureLogging> ui_;
  // The folder last chosen in the browser while this window is open.
  QString browsed_;
};
