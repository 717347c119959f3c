#pragma once
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <cstdint>

#include "platform/MessageTarget.h"

namespace platform {

// A numbered window message travelling as a Qt event. The receiving window
// handles it in its event() override and may set `result` for a sender.
class WindowMessageEvent : public QEvent {
 public:
  WindowMessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam)
      : QEvent(EventType()), message(message), wParam(wParam), lParam(lParam) {}

  // Registered once per process, so it never collides with another
  // library's custom events.
  static QEvent::Type EventType();

  const uint32_t message;
  const uintptr_t wParam;
  const intptr_t lParam;
  intptr_t result = 0;
};

// PostMessage: queues the message for the window's thread and returns.
void PostWindowMessage(QObject* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// SendMessage: handled at once on the window's own thread; from another
// thread the caller blocks until the window's thread has handled it.
intptr_t SendWindowMessage(QObject* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// What a worker holds instead of a window. A window outlives the worker it
// starts (it waits for the worker before it is destroyed); a message for a
// window that is already gone is dropped rather than delivered to freed
// memory.
class QtMessageTarget : public MessageTarget {
 public:
  explicit QtMessageTarget(QObject* window) : window_(window) {}
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

 private:
  QPointer<QObject> window_;
};

}  // namespace platform
