#pragma once
#include "platform/Dispatcher.h"

namespace platform {

// Synchronize for the GUI program: the function runs on the thread of the
// QApplication while the calling worker waits; on the GUI thread itself it
// runs at once (a blocking queued call to one's own thread would deadlock).
class QtDispatcher : public Dispatcher {
 public:
  void Synchronize(const std::function<void()>& fn) override;
};

}  // namespace platform
