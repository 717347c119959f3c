#pragma once
#include <memory>

#include "widgets/SkinnedForm.h"

namespace Ui {
class TForm_Confirmation;
}

// "You have selected to wipe Drive E:": one of the two confirmations before
// a wipe starts. Under the letter it names what the letter stands for (the
// device or image, its size, maker and model), so the user can see which
// disk is about to be erased. exec() gives ResultYes or ResultNo (or
// ResultCancel when closed otherwise).
class TForm_Confirmation : public TSkinnedForm {
  Q_OBJECT
 public:
  // `step` 1 or 2; `letter` upper case.
  TForm_Confirmation(QWidget* owner, int step, char letter);
  ~TForm_Confirmation() override;

  Ui::TForm_Confirmation* ui() const { return ui_.get(); }

 private:
  std::unique_ptr<Ui::TForm_Confirmation> ui_;
};
