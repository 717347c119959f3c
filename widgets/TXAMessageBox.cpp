#include "widgets/TXAMessageBox.h"

#include <QKeyEvent>

#include "platform/qt/Ansi.h"
#include "widgets/SkinWidgets.h"
#include "ui_TXAMessageBox.h"

namespace {
constexpr int kBodyTop = 16;
// Two lines of the 13-pixel body font and more are set flush left.
constexpr int kLeftAlignHeight = 24;
}  // namespace

TXAMessageBox::TXAMessageBox(QWidget* owner)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TXAMessageBox>()) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.titleLeft = 33;  // after the icon
  SetupFrame(frame);
  for (QWidget* icon : {ui_->ImageInfo, ui_->ImageCaution, ui_->ImageError, ui_->ImageQuestion}) {
    AddDragSource(icon);
    icon->raise();
  }
  ui_->MessageBody->setFont(skin::BodyFont());
  ui_->MessageBody->setTextFormat(Qt::PlainText);

  // Handlers are shared by the buttons' roles.
  for (QPushButton* b : {ui_->Button_Ok, ui_->Button_Ok1, ui_->Button_Yes, ui_->Button_Yes3}) {
    connect(b, &QPushButton::clicked, this, &TXAMessageBox::OkYesClick);
  }
  for (QPushButton* b : {ui_->Button_Cancel, ui_->Button_No, ui_->Button_No3}) {
    connect(b, &QPushButton::clicked, this, &TXAMessageBox::NoCancelClick);
  }
  connect(ui_->Button_YesToAll, &QPushButton::clicked, this, [this] { done(ResultYesToAll); });
  for (QPushButton* b : {ui_->Button_Abort, ui_->Button_Abort4}) {
    connect(b, &QPushButton::clicked, this, [this] { done(ResultAbort); });
  }
  for (QPushButton* b : {ui_->Button_Retry, ui_->Button_Retry5}) {
    connect(b, &QPushButton::clicked, this, [this] { done(ResultRetry); });
  }
  connect(ui_->Button_Ignore, &QPushButton::clicked, this, [this] { done(ResultIgnore); });
  // No default button: Enter and Space press the button with the focus.
  for (QPushButton* b : findChildren<QPushButton*>()) {
    b->setDefault(false);
    b->setAutoDefault(true);
  }
}

TXAMessageBox::~TXAMessageBox() = default;

void TXAMessageBox::Fill(const std::string& text, const std::string& title, int buttons,
                         int icon) {
  SetTitle(platform::FromAnsi(title));
  ui_->MessageBody->setText(platform::FromAnsi(text));

  QPushButton* all[] = {ui_->Button_Ok,    ui_->Button_Ok1,    ui_->Button_Cancel, ui_->Button_Yes,
                        ui_->Button_No,    ui_->Button_Yes3,   ui_->Button_YesToAll, ui_->Button_No3,
                        ui_->Button_Abort, ui_->Button_Abort4, ui_->Button_Retry,  ui_->Button_Ignore,
                        ui_->Button_Retry5};
  for (QPushButton* b : all) b->hide();
  QLabel* icons[] = {ui_->ImageInfo, ui_->ImageCaution, ui_->ImageError, ui_->ImageQuestion};
  for (QLabel* i : icons) i->hide();

  icon_ = static_cast<uint8_t>(icon);
  icons[(icon >= IconInfo && icon <= IconQuestion) ? icon : IconInfo]->show();

  buttons_ = static_cast<uint8_t>(buttons);
  std::vector<QPushButton*> shown;
  switch (buttons) {
    case ButtonsOk: shown = {ui_->Button_Ok}; break;
    case ButtonsOkCancel: shown = {ui_->Button_Ok1, ui_->Button_Cancel}; break;
    case ButtonsYesNo: shown = {ui_->Button_Yes, ui_->Button_No}; break;
    case ButtonsYesAllNoAbort:
      shown = {ui_->Button_Yes3, ui_->Button_YesToAll, ui_->Button_No3, ui_->Button_Abort};
      break;
    case ButtonsAbortRetryIgnore:
      shown = {ui_->Button_Abort4, ui_->Button_Retry, ui_->Button_Ignore};
      break;
    case ButtonsRetryCancel: shown = {ui_->Button_Retry5, ui_->Button_Cancel}; break;
    default: break;  // no button: only Escape ends the box
  }
  for (QPushButton* b : shown) b->show();
  // Tab runs through the shown buttons from left to right.
  for (size_t i = 1; i < shown.size(); ++i) setTabOrder(shown[i - 1], shown[i]);

  // The body keeps its width and takes the height of its wrapped lines; the
  // window grows or shrinks by the difference, so 16 pixels stay above the
  // body and 15 below it inside the panel.
  QLabel* body = ui_->MessageBody;
  const int bodyHeight = body->heightForWidth(body->width());
  body->resize(body->width(), bodyHeight);
  const int panelHeight = ui_->PanelMessageWindow->height();
  ResizeFrame(width(), height() + (bodyHeight + 2 * kBodyTop - panelHeight) - 1);

  body->setAlignment(bodyHeight >= kLeftAlignHeight ? (Qt::AlignLeft | Qt::AlignTop)
                                                    : (Qt::AlignHCenter | Qt::AlignTop));
}

std::vector<QPushButton*> TXAMessageBox::VisibleButtons() const {
  std::vector<QPushButton*> out;
  for (QPushButton* b : findChildren<QPushButton*>()) {
    if (!b->isHidden()) out.push_back(b);
  }
  std::sort(out.begin(), out.end(), [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
  return out;
}

void TXAMessageBox::showEvent(QShowEvent* event) {
  TSkinnedForm::showEvent(event);
  const auto shown = VisibleButtons();
  if (!shown.empty()) shown.front()->setFocus(Qt::OtherFocusReason);
  raise();
  activateWindow();
}

void TXAMessageBox::keyPressEvent(QKeyEvent* event) {
  // Escape and Enter are the dialog's (reject, the focused button); the box
  // adds no keys of its own.
  TSkinnedForm::keyPressEvent(event);
}

void TXAMessageBox::OkYesClick() {
  done((buttons_ == ButtonsYesNo || buttons_ == ButtonsYesAllNoAbort) ? ResultYes : ResultOk);
}

void TXAMessageBox::NoCancelClick() {
  done((buttons_ == ButtonsYesNo || buttons_ == ButtonsYesAllNoAbort) ? ResultNo : ResultCancel);
}

void TXAMessageBox::reject() { NoCancelClick(); }

int SkinnedMessageBox(QWidget* owner, const std::string& text, const std::string& title,
                      int buttons, int icon) {
  TXAMessageBox box(owner);
  box.Fill(text, title, buttons, icon);
  return box.exec();
}
