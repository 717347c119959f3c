#pragma once
#include <memory>

#include "widgets/SkinnedForm.h"

namespace Ui {
class TForm_Help;
}

// The help file's name, opened through the shell relative to the process's
// working directory.
inline constexpr char kHelpFileName[] = "NULLIFEX HELP.HLP";

// "Nullifex Help": the online help page, the help file and the installed
// build. Opened modally by the main window.
class TForm_Help : public TSkinnedForm {
  Q_OBJECT
 public:
  explicit TForm_Help(QWidget* owner);
  ~TForm_Help() override;

  Ui::TForm_Help* ui() const { return ui_.get(); }

  void Button_OnlineHelpClick();
  void Button_HelpFileClick();

 private:
  std::unique_ptr<Ui::TForm_Help> ui_;
};
