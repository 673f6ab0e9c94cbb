// Ownership of Windows handles. Each kind of handle has its own "nothing"
// value and its own release call, so the owner is parameterised on both.
#pragma once

#include "platform/win32/WinApi.h"

namespace platform::win32 {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::Empty(); }

    Handle Release() {
        const Handle handle = handle_;
        handle_ = Traits::Empty();
        return handle;
    }

    void Reset(Handle handle = Traits::Empty()) {
        const Handle old = handle_;
        handle_ = handle;
        if (old != Traits::Empty()) Traits::Close(old);
    }

private:
    Handle handle_ = Traits::Empty();
};

// CreateFileW reports failure with INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};

// Threads, events and the like report failure with null.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::FindClose(handle); }
};

// A counted reference on a loaded module.
struct ModuleReferenceTraits {
    using Handle = HMODULE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle module) { ::FreeLibrary(module); }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Empty() { return nullptr; }
    static void Close(Handle handle) { ::CloseServiceHandle(handle); }
};
struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Empty() { return nullptr; }
    static void Close(Handle key) { ::RegCloseKey(key); }
};
// Installer handles are plain integers, released by msi.dll's own call.
struct MsiHandleTraits {
    using Handle = MSIHANDLE;
    static Handle Empty() { return 0; }
    static void Close(Handle handle) { ::MsiCloseHandle(handle); }
};
using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using ModuleReference = UniqueHandle<ModuleReferenceTraits>;
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;
using RegistryKeyHandle = UniqueHandle<RegistryKeyTraits>;
using MsiHandle = UniqueHandle<MsiHandleTraits>;

}  // namespace platform::win32
