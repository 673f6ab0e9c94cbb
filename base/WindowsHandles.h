// Traits of the Windows handles both the back end and the companions own.
#pragma once

#include <windows.h>

#include "base/UniqueHandle.h"

namespace base {

// CreateFileW reports failure with INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};

// Threads, events, processes and the like report failure with null.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle key) { ::RegCloseKey(key); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using RegistryKeyHandle = UniqueHandle<RegistryKeyTraits>;

// Closes the file and tells whether CloseHandle succeeded, which is where
// some file systems report a failed write.
inline bool CloseReporting(FileHandle& file) { return ::CloseHandle(file.Release()) != 0; }

}  // namespace base
