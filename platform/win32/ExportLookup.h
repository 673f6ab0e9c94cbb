// Functions that only some Windows versions export are looked up at run
// time, so the library still loads where they are missing.
#pragma once

#include "platform/win32/WinApi.h"

namespace platform::win32 {

// Null when the module is not loaded or does not export `name`. Only
// modules every process has mapped (kernel32, ntdll) are asked, so no
// reference is taken.
template <typename Function>
Function LookupExport(const wchar_t* module, const char* name) {
    const HMODULE loaded = ::GetModuleHandleW(module);
    if (loaded == nullptr) return nullptr;
    const FARPROC address = ::GetProcAddress(loaded, name);
    // Going through void(*)() tells the compiler the signature change is
    // deliberate: GetProcAddress cannot know the export's real type.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

}  // namespace platform::win32
