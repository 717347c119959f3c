#pragma once
#include <memory>

#include "widgets/SkinnedForm.h"
#include "wipe/WipeOptions.h"

namespace Ui {
class TForm_WipeMedia;
}

// The wipe wizard: drive, file system for the format afterwards, label and
// overwrite level in three steps, two confirmations, then the wipe window.
class TForm_WipeMedia : public TSkinnedForm {
  Q_OBJECT
 public:
  explicit TForm_WipeMedia(QWidget* owner);
  ~TForm_WipeMedia() override;

  // 1, 2 or 3: the visible panel.
  int Step() const;
  // The options the wizard would hand to the wipe now.
  WipeOptions Options() const;
  Ui::TForm_WipeMedia* ui() const { return ui_.get(); }

  void Button_NextClick();
  void Button_BackClick();
  void Button_WipeSelectionClick();
  void CheckBox_FormatChange();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void ShowStep(int step);
  void SetUpFileSystem(char letter);
  char SelectedLetter() const;

  std::unique_ptr<Ui::TForm_WipeMedia> ui_;
};
