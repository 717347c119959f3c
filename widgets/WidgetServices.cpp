#include "widgets/WidgetServices.h"

#include <QApplication>

#include "platform/AskUser.h"
#include "platform/Dispatcher.h"
#include "platform/qt/QtDispatcher.h"
#include "widgets/SkinnedForm.h"
#include "widgets/TXAMessageBox.h"

QWidget* CurrentOwnerWindow() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

void BindWidgetServices() {
  static platform::QtDispatcher dispatcher;
  platform::SetMainThreadDispatcher(&dispatcher);
  // Questions are asked on the main thread (workers go through
  // Synchronize), so the box can be shown directly.
  platform::SetAskUser([](const std::string& text, const std::string& title, int buttons, int icon) {
    return SkinnedMessageBox(CurrentOwnerWindow(), text, title, buttons, icon);
  });
  // Widgets matched by the skin's style sheet take the application's font
  // rather than their window's, so the body font is made the default too.
  QApplication::setFont(skin::BodyFont());
}
