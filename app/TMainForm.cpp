#include "app/TMainForm.h"

#include <QKeyEvent>
#include <map>

#include "widgets/SkinWidgets.h"
#include "app/TForm_Help.h"
#include "widgets/TXAMessageBox.h"
#include "platform/qt/QtMessageTarget.h"
#include "widgets/BrandingLink.h"
#include "settings/CSettings.h"
#include "ui_TMainForm.h"

namespace {
bool g_firstShow = true;

std::map<TMainForm::Feature, TMainForm::WindowFactory>& Factories() {
  static std::map<TMainForm::Feature, TMainForm::WindowFactory> factories;
  return factories;
}
}  // namespace

void TMainForm::RegisterFeatureWindow(Feature feature, WindowFactory factory) {
  Factories()[feature] = std::move(factory);
}

bool TMainForm::HasFeatureWindow(Feature feature) {
  const auto it = Factories().find(feature);
  return it != Factories().end() && it->second;
}

bool TMainForm::FirstShow() { return g_firstShow; }
void TMainForm::ResetFirstShowForTests(bool value) { g_firstShow = value; }

TMainForm::TMainForm() : TSkinnedForm(nullptr), ui_(std::make_unique<Ui::TMainForm>()) {
  ui_->setupUi(this);
  g_firstShow = true;
  SetupBrandingLink(ui_->Label_Branding);
  ui_->Label_Branding->installEventFilter(this);

  FrameOptions frame;
  frame.title = QStringLiteral("Nullifex");
  frame.titleBarName = QStringLiteral("ImagePanel2");
  frame.closeButtonName = QStringLiteral("KTransButton3");
  frame.minimizeButtonName = QStringLiteral("KTransButton5");
  SetupFrame(frame);
  // The main window's class name, as the second start looks for it.
  setProperty("windowClass", QStringLiteral("TMainForm"));

  connect(ui_->Button_WipeMedia, &QPushButton::clicked, this, &TMainForm::Button_WipeMediaClick);
  connect(ui_->Button_VerifyMedia, &QPushButton::clicked, this, &TMainForm::Button_VerifyMediaClick);
  connect(ui_->Button_ViewSectors, &QPushButton::clicked, this, &TMainForm::Button_ViewSectorsClick);
  connect(ui_->KTransToolsButton, &QAbstractButton::clicked, this,
          &TMainForm::KTransToolsButtonMouseRelease);
  connect(ui_->KTransHelpButton, &QAbstractButton::clicked, this,
          &TMainForm::KTransHelpButtonMouseRelease);
  connect(ui_->Button_Close, &QPushButton::clicked, this, &TMainForm::ButtonOKMouseRelease);

  ui_->Button_WipeMedia->setEnabled(HasFeatureWindow(Feature::WipeMedia));
  ui_->Button_VerifyMedia->setEnabled(HasFeatureWindow(Feature::VerifyMedia));
  ui_->Button_ViewSectors->setEnabled(HasFeatureWindow(Feature::ViewSectors));
  ui_->KTransToolsButton->setEnabled(HasFeatureWindow(Feature::Tools));
  ui_->Label_Tools->setEnabled(HasFeatureWindow(Feature::Tools));
  ui_->Button_WipeMedia->setDefault(true);
  // Enter belongs to "Wipe Media"; it must not fall to Exit because Exit
  // happens to hold the focus while the wipe button is disabled.
  ui_->Button_Close->setAutoDefault(false);
}

TMainForm::~TMainForm() = default;

void TMainForm::showEvent(QShowEvent* event) {
  TSkinnedForm::showEvent(event);
  if (g_firstShow) {
    // Asked from the message queue, so the question comes after the window
    // has finished showing.
    platform::PostWindowMessage(this, WM_ASK_UPDATE_CHECK, 0, 0);
    g_firstShow = false;
  }
  raise();
  activateWindow();
}

bool TMainForm::event(QEvent* event) {
  if (event->type() == platform::WindowMessageEvent::EventType()) {
    auto* message = static_cast<platform::WindowMessageEvent*>(event);
    if (message->message == WM_ASK_UPDATE_CHECK) {
      AskUpdateCheck();
      return true;
    }
  }
  return TSkinnedForm::event(event);
}

void TMainForm::AskUpdateCheck() {
  CSettings settings;
  if (!settings.IsUpdateCheckDue()) return;
  const int answer = SkinnedMessageBox(
      this, "Would you like to go online to check for the latest version of Nullifex?",
      "Check for Updates", ButtonsYesNo, IconQuestion);
  // Only the update window records a check; any other answer leaves the
  // check due, so it is offered again at the next start.
  if (answer == ResultYes) RunFeature(Feature::Update, false);
}

void TMainForm::RunFeature(Feature feature, bool hideMain) {
  const auto it = Factories().find(feature);
  if (it == Factories().end() || !it->second) return;
  if (hideMain) hide();
  {
    std::unique_ptr<QDialog> window = it->second(this);
    if (window) (void)window->exec();
  }
  if (hideMain) show();
}

void TMainForm::Button_WipeMediaClick() { RunFeature(Feature::WipeMedia, true); }
void TMainForm::Button_VerifyMediaClick() { RunFeature(Feature::VerifyMedia, true); }
void TMainForm::Button_ViewSectorsClick() { RunFeature(Feature::ViewSectors, true); }
void TMainForm::KTransToolsButtonMouseRelease() { RunFeature(Feature::Tools, false); }

void TMainForm::KTransHelpButtonMouseRelease() {
  TForm_Help help(this);
  (void)help.exec();
}

void TMainForm::ButtonOKMouseRelease() { close(); }

void TMainForm::Label_BrandingClick() { OpenBrandingLink(ui_->Label_Branding); }
void TMainForm::Label_BrandingMouseEnter() { HoverBrandingLink(ui_->Label_Branding, true); }
void TMainForm::Label_BrandingMouseLeave() { HoverBrandingLink(ui_->Label_Branding, false); }

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->Label_Branding &&
      RouteBrandingEvent(
          ui_->Label_Branding, event, [this] { Label_BrandingMouseEnter(); }, [this] { Label_BrandingMouseLeave(); },
          [this] { Label_BrandingClick(); })) {
    return true;
  }
  return TSkinnedForm::eventFilter(watched, event);
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
  // The main window has no cancel button: Escape does not close it.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  TSkinnedForm::keyPressEvent(event);
}
