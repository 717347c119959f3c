#pragma once
#include <QPushButton>
#include <memory>
#include <string>
#include <vector>

#include "widgets/SkinnedForm.h"

namespace Ui {
class TXAMessageBox;
}

// The program's only message box: six button sets, four icons, sized to its
// text. Use it through SkinnedMessageBox.
class TXAMessageBox : public TSkinnedForm {
  Q_OBJECT
 public:
  explicit TXAMessageBox(QWidget* owner);
  ~TXAMessageBox() override;

  // Title, text (plain, Windows-1252), a MessageButtons set and a
  // MessageIcon; a window resized to the text.
  void Fill(const std::string& text, const std::string& title, int buttons, int icon);

  int ButtonSet() const { return buttons_; }
  int Icon() const { return icon_; }
  // Escape ends the box with the "No"/"Cancel" result of its set, whether
  // or not that button is shown.
  void reject() override;

  Ui::TXAMessageBox* ui() const { return ui_.get(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OkYesClick();
  void NoCancelClick();
  std::vector<QPushButton*> VisibleButtons() const;

  std::unique_ptr<Ui::TXAMessageBox> ui_;
  uint8_t buttons_ = 0;
  uint8_t icon_ = 0;
};

// Shows a modal message box centred on `owner` and returns the ModalResult
// of the pressed button. Plays no sound; callers that want one play it
// just before.
int SkinnedMessageBox(QWidget* owner, const std::string& text, const std::string& title,
                      int buttons, int icon);
