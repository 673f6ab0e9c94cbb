// Worker threads that keep the library mapped while they run.
#pragma once

#include <functional>

namespace platform::win32 {

// Runs `body` on a new thread. The thread holds a reference on the back
// end's module and drops it as its very last act, so unloading the library
// cannot pull the code from under a running worker. The thread owns its
// lifetime; nobody joins it. False when no thread could be created.
bool StartWorkerThread(std::function<void()> body);

}  // namespace platform::win32
