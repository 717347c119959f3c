#include "app/Application.h"

#include <QApplication>

#include "app/SkinnedForm.h"
#include "app/TXAMessageBox.h"
#include "platform/AskUser.h"
#include "platform/Dispatcher.h"
#include "platform/qt/QtDispatcher.h"
#include "platform/qt/SingleInstance.h"
#include "settings/TForm_DNSMessage.h"

QWidget* CurrentOwnerWindow() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

void BindGuiServices() {
  static platform::QtDispatcher dispatcher;
  platform::SetMainThreadDispatcher(&dispatcher);
  // Questions are asked on the main thread (workers go through
  // Synchronize), so the box can be shown directly.
  platform::SetAskUser([](const std::string& text, const std::string& title, int buttons, int icon) {
    return SkinnedMessageBox(CurrentOwnerWindow(), text, title, buttons, icon);
  });
  BindDontShowAgainWindow();
  // Widgets matched by the skin's style sheet take the application's font
  // rather than their window's, so the body font is made the default too.
  QApplication::setFont(skin::BodyFont());
}

void ConnectRaiseRequests(platform::SingleInstance& instance, QWidget& mainWindow) {
  QObject::connect(&instance, &platform::SingleInstance::raiseRequested, &mainWindow, [&mainWindow] {
    QWidget* target = mainWindow.isVisible() ? &mainWindow : QApplication::activeModalWidget();
    if (!target) return;
    target->raise();
    target->activateWindow();
  });
}
