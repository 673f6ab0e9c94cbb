// The owners of the back end's Windows handles: the shared owner, with the
// traits of the handles only the back end opens.
#pragma once

#include "platform/win32/WinApi.h"

#include "base/UniqueHandle.h"
#include "base/WindowsHandles.h"

namespace platform::win32 {

using base::FileHandleTraits;
using base::KernelHandleTraits;
using base::RegistryKeyTraits;
using base::UniqueHandle;

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::FindClose(handle); }
};

// A counted reference on a loaded module.
struct ModuleReferenceTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle module) { ::FreeLibrary(module); }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::CloseServiceHandle(handle); }
};

// Installer handles are plain integers, released by msi.dll's own call.
struct MsiHandleTraits {
    using Handle = MSIHANDLE;
    static Handle Invalid() { return 0; }
    static void Close(Handle handle) { ::MsiCloseHandle(handle); }
};

using base::FileHandle;
using base::KernelHandle;
using base::RegistryKeyHandle;
using FindHandle = UniqueHandle<FindHandleTraits>;
using ModuleReference = UniqueHandle<ModuleReferenceTraits>;
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;
using MsiHandle = UniqueHandle<MsiHandleTraits>;

}  // namespace platform::win32
