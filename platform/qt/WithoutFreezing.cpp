#include "platform/qt/WithoutFreezing.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <future>
#include <thread>

namespace platform {

void RunWithoutFreezing(const std::function<void()>& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || app->thread() != QThread::currentThread()) {
    work();
    return;
  }
  QEventLoop loop;
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  std::thread worker([&] {
    work();
    // Posted before the promise is kept, so a loop that never ran drops the
    // quit with itself, and one that runs always gets it.
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    done.set_value();
  });
  if (finished.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  worker.join();
}

}  // namespace platform
