#include "app/Application.h"

#include <QApplication>

#include "platform/qt/SingleInstance.h"
#include "app/TMainForm.h"
#include "settings/TForm_DNSMessage.h"
#include "settings/TForm_Tools.h"
#include "update/TForm_Update.h"
#include "widgets/WidgetServices.h"

void BindGuiServices() {
  BindWidgetServices();
  BindDontShowAgainWindow();
}

void RegisterToolsAndUpdateWindows() {
  const auto update = [](QWidget* owner) -> std::unique_ptr<QDialog> {
    return std::make_unique<TForm_Update>(owner);
  };
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::Update, update);
  TMainForm::RegisterFeatureWindow(TMainForm::Feature::Tools, [](QWidget* owner) {
    return std::make_unique<TForm_Tools>(owner);
  });
}

void ConnectRaiseRequests(platform::SingleInstance& instance, QWidget& mainWindow) {
  QObject::connect(&instance, &platform::SingleInstance::raiseRequested, &mainWindow, [&mainWindow] {
    QWidget* target = mainWindow.isVisible() ? &mainWindow : QApplication::activeModalWidget();
    if (!target) return;
    target->raise();
    target->activateWindow();
  });
}
