#pragma once
#include <functional>

namespace platform {

// Runs `work` (opening a drive) and returns when it is done. On the GUI
// thread it runs on a thread of its own when it takes longer than a moment,
// while the windows go on drawing and their timers keep running, but take no
// input: a user's drive comes from the storage service, which may wait a
// minute for the person to answer the system's authorisation dialog. Work
// that ends at once (an image file, a device the user may open) behaves as a
// plain call. Elsewhere `work` simply runs.
void RunWithoutFreezing(const std::function<void()>& work);

}  // namespace platform
