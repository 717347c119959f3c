#include "app/Application.h"

#include <QApplication>

#include "platform/qt/SingleInstance.h"
#include "settings/TForm_DNSMessage.h"
#include "widgets/WidgetServices.h"

void BindGuiServices() {
  BindWidgetServices();
  BindDontShowAgainWindow();
}

void ConnectRaiseRequests(platform::SingleInstance& instance, QWidget& mainWindow) {
  QObject::connect(&instance, &platform::SingleInstance::raiseRequested, &mainWindow, [&mainWindow] {
    QWidget* target = mainWindow.isVisible() ? &mainWindow : QApplication::activeModalWidget();
    if (!target) return;
    target->raise();
    target->activateWindow();
  });
}
