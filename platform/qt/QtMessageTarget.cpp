#include "platform/qt/QtMessageTarget.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace platform {

QEvent::Type WindowMessageEvent::EventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void PostWindowMessage(QObject* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!window) return;
  // postEvent takes ownership of the event and is safe from any thread.
  QCoreApplication::postEvent(window, new WindowMessageEvent(message, wParam, lParam));
}

intptr_t SendWindowMessage(QObject* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!window) return 0;
  intptr_t result = 0;
  auto deliver = [&] {
    WindowMessageEvent event(message, wParam, lParam);
    QCoreApplication::sendEvent(window, &event);
    result = event.result;
  };
  if (window->thread() == QThread::currentThread()) {
    deliver();
  } else {
    // The worker waits here while the window's thread runs the handler,
    // which is what a sent progress message relies on.
    QMetaObject::invokeMethod(window, deliver, Qt::BlockingQueuedConnection);
  }
  return result;
}

void QtMessageTarget::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  PostWindowMessage(window_.data(), message, wParam, lParam);
}

intptr_t QtMessageTarget::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return SendWindowMessage(window_.data(), message, wParam, lParam);
}

}  // namespace platform
