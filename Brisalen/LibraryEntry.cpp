// The library's load entry: it sets up logging before any export can be
// called and arranges the orderly shutdown of the library's objects, and
// does nothing else.
#include "Brisalen/LibraryContext.h"
#include "common/Singleton.h"
#include "logging/Log.h"

namespace {

void OnLibraryLoaded() {
    logging::SetupAtLoad();
    // After the log set-up, so the shutdown runs before the logging back
    // end's statics go and the workers it waits for can still log.
    RegisterLibraryShutdown(LibraryPlatform().Process());
}

}  // namespace

#if defined(_WIN32)
#include "platform/win32/WinApi.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) OnLibraryLoaded();
    return TRUE;
}
#else
__attribute__((constructor)) static void BrisalenLibraryLoaded() { OnLibraryLoaded(); }
#endif
