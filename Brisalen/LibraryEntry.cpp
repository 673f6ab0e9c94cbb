// The library's load entry: it sets up logging before any export can be
// called, and does nothing else.
#include "logging/Log.h"

#if defined(_WIN32)
#include "platform/win32/WinApi.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) logging::SetupAtLoad();
    return TRUE;
}
#else
__attribute__((constructor)) static void BrisalenLibraryLoaded() { logging::SetupAtLoad(); }
#endif
