#include "settings/TForm_DNSMessage.h"

#include "platform/qt/Ansi.h"
#include "settings/CSettings.h"
#include "ui_TForm_DNSMessage.h"

namespace {
constexpr int kCheckBoxGap = 15;       // between the text and the check box
constexpr int kExtraHeight = 14;
constexpr int kLeftAlignHeight = 23;   // a body taller than one line
}  // namespace

TForm_DNSMessage::TForm_DNSMessage(QWidget* owner, int index)
    : TSkinnedForm(owner), ui_(std::make_unique<Ui::TForm_DNSMessage>()) {
  ui_->setupUi(this);
  FrameOptions frame;
  frame.title = QStringLiteral("Nullifex Tools");  // as designed, replaced below
  frame.draggable = false;
  SetupFrame(frame);
  SetTitle(platform::FromAnsi(DontShowAgainTitle(index)));

  QLabel* body = ui_->MessageBody;
  body->setFont(skin::BodyFont());
  body->setTextFormat(Qt::PlainText);
  body->setText(platform::FromAnsi(DontShowAgainBody(index)));
  const int bodyHeight = body->heightForWidth(body->width());
  body->resize(body->width(), bodyHeight);
  QCheckBox* check = ui_->CheckBox_DontShow;
  check->move(check->x(), body->y() + bodyHeight + kCheckBoxGap);

  const QWidget* panel = ui_->PanelMessageWindow;
  const int belowPanel = height() - (panel->y() + panel->height());
  ResizeFrame(width(), bodyHeight + 2 * body->y() + check->height() + panel->y() + belowPanel +
                           kExtraHeight);
  body->setAlignment(bodyHeight > kLeftAlignHeight ? (Qt::AlignLeft | Qt::AlignTop)
                                                   : (Qt::AlignHCenter | Qt::AlignTop));
  connect(ui_->Button_Ok, &QPushButton::clicked, this, &TSkinnedForm::accept);
}

TForm_DNSMessage::~TForm_DNSMessage() = default;

bool TForm_DNSMessage::DontShowAgain() const { return ui_->CheckBox_DontShow->isChecked(); }

void BindDontShowAgainWindow() {
  SetDontShowAgainPresenter([](int index, const std::string&, const std::string&, void* owner) {
    TForm_DNSMessage form(static_cast<QWidget*>(owner), index);
    (void)form.exec();
    // However it was closed, the box decides.
    return form.DontShowAgain();
  });
}
