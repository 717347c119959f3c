#pragma once
#include <memory>

#include "widgets/SkinnedForm.h"

namespace Ui {
class TForm_PleaseWait;
}

// "Initializing Drive": shown non-modally around a slow operation and
// painted at once (ShowNow); it takes no input, its buttons are disabled.
class TForm_PleaseWait : public TSkinnedForm {
  Q_OBJECT
 public:
  explicit TForm_PleaseWait(QWidget* owner);
  ~TForm_PleaseWait() override;

  // Shows the window and paints it before returning, so it is on the
  // screen while the caller's slow work blocks the event loop.
  void ShowNow();

  Ui::TForm_PleaseWait* ui() const { return ui_.get(); }

 private:
  std::unique_ptr<Ui::TForm_PleaseWait> ui_;
};
