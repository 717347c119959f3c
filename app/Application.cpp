#include "app/Application.h"

#include <QApplication>

#include "platform/qt/SingleInstance.h"
#include "app/TMainForm.h"
#include "settings/TForm_DNSMessage.h"
#include "settings/TForm_Tools.h"
#include "update/TForm_Update.h"
#include "verify/TForm_VerifyDrive.h"
#include "viewer/TForm_ViewSectors.h"
#include "wipe/TForm_WipeMedia.h"
#include "widgets/WidgetServices.h"

void BindGuiServices() {
  BindWidgetServices();
  BindDontShowAgainWindow();
}

void RegisterFeatureWindows() {
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::WipeMedia,
                                   [](QWidget* owner) { return std::make_unique<TForm_WipeMedia>(owner); });
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::VerifyMedia,
                                   [](QWidget* owner) { return std::make_unique<TForm_VerifyDrive>(owner); });
  // "View Sectors" starts on the system drive; the viewer only reads.
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::ViewSectors, [](QWidget* owner) {
    return std::make_unique<TForm_ViewSectors>(owner, nullptr, '\0');
  });
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::Update,
                                   [](QWidget* owner) { return std::make_unique<TForm_Update>(owner); });
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::Tools,
                                   [](QWidget* owner) { return std::make_unique<TForm_Tools>(owner); });
}

void ConnectRaiseRequests(platform::SingleInstance& instance, QWidget& mainWindow) {
  QObject::connect(&instance, &platform::SingleInstance::raiseRequested, &mainWindow, [&mainWindow] {
    QWidget* target = mainWindow.isVisible() ? &mainWindow : QApplication::activeModalWidget();
    if (!target) return;
    target->raise();
    target->activateWindow();
  });
}
