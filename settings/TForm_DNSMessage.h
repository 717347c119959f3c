#pragma once
#include <memory>

#include "widgets/SkinnedForm.h"

namespace Ui {
class TForm_DNSMessage;
}

// A message with a "Don't show me this again" check box, laid out for its
// text; CSettings::ShowDontShowAgainMessage shows it and keeps the choice.
class TForm_DNSMessage : public TSkinnedForm {
  Q_OBJECT
 public:
  // `index` is an entry of the don't-show-again message table.
  TForm_DNSMessage(QWidget* owner, int index);
  ~TForm_DNSMessage() override;

  bool DontShowAgain() const;
  Ui::TForm_DNSMessage* ui() const { return ui_.get(); }

 private:
  std::unique_ptr<Ui::TForm_DNSMessage> ui_;
};

// Binds CSettings::ShowDontShowAgainMessage to this window (the program
// does it at start-up; the owner it is given is a QWidget*).
void BindDontShowAgainWindow();
