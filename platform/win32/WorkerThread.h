// Worker threads that keep the library mapped while they run.
#pragma once

#include <functional>

namespace platform::win32 {

// Runs `body` on a new thread. The thread holds a reference on the back
// end's module and drops it as its very last act, so unloading the library
// cannot pull the code from under a running worker. The thread owns its
// lifetime; nobody joins it. False when no thread could be created.
bool StartWorkerThread(std::function<void()> body);

// Blocks until every worker started above has run its body to the end,
// apart from the calling thread when it is one of them. Must not be called
// under the loader lock.
void WaitForWorkerThreads();

}  // namespace platform::win32
