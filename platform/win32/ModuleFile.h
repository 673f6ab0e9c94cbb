// Which module a piece of code lives in, and that module's file.
#pragma once

#include <string>

#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WinApi.h"

namespace platform::win32 {

// GetModuleFileNameW without a length cap; null names the executable.
// Empty when Windows cannot tell.
std::wstring ModuleFileName(HMODULE module);

// The module holding the back end's code: the library when the back end is
// linked into it, the program when a program links the back end itself.
HMODULE BackEndModule();

// A counted reference on that module, so it stays mapped while the holder
// runs code from it.
ModuleReference PinBackEndModule();

}  // namespace platform::win32
