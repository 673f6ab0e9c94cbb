// A thread-local pointer in a Windows TLS slot. Unlike the compiler's
// thread_local (emulated on MinGW, and allocating on a thread's first use)
// it can be read from an exception handler on any thread without touching
// the heap.
#pragma once

#include "platform/win32/WinApi.h"

namespace platform::win32 {

class ThreadSlot {
public:
    ThreadSlot() : index_(::TlsAlloc()) {}
    ~ThreadSlot() {
        if (Valid()) ::TlsFree(index_);
    }
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;

    bool Valid() const { return index_ != TLS_OUT_OF_INDEXES; }

    // TlsGetValue clears the thread's last error on success; callers of the
    // seam must still find the error their own last call left.
    void* Get() const {
        const DWORD lastError = ::GetLastError();
        void* value = ::TlsGetValue(index_);
        ::SetLastError(lastError);
        return value;
    }

    void Set(void* value) const { ::TlsSetValue(index_, value); }

private:
    DWORD index_;
};

}  // namespace platform::win32
