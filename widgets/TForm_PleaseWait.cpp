#include "widgets/TForm_PleaseWait.h"

#include <QCoreApplication>

#include "ui_TForm_PleaseWait.h"

TForm_PleaseWait::TForm_PleaseWait(QWidget* owner)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_PleaseWait>()) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.title = QStringLiteral("Initializing Drive");
  frame.titleLeft = 33;
  SetupFrame(frame);
  ui_->ImageInfo->raise();
}

TForm_PleaseWait::~TForm_PleaseWait() = default;

void TForm_PleaseWait::ShowNow() {
  show();
  raise();
  repaint();
  // Deliver the expose and paint events now; the caller is about to block.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
