#include "platform/qt/QtDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace platform {

void QtDispatcher::Synchronize(const std::function<void()>& fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || app->thread() == QThread::currentThread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(app, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

}  // namespace platform
