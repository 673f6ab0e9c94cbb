// Registration of a process-wide vectored exception handler.
#pragma once

#include "platform/win32/WinApi.h"

namespace platform::win32 {

class VectoredHandler {
public:
    // `first` puts the handler ahead of those already registered.
    VectoredHandler(PVECTORED_EXCEPTION_HANDLER handler, bool first)
        : registration_(::AddVectoredExceptionHandler(first ? 1 : 0, handler)) {}
    ~VectoredHandler() {
        if (registration_ != nullptr) ::RemoveVectoredExceptionHandler(registration_);
    }
    VectoredHandler(const VectoredHandler&) = delete;
    VectoredHandler& operator=(const VectoredHandler&) = delete;

    bool Registered() const { return registration_ != nullptr; }

private:
    void* registration_;
};

}  // namespace platform::win32
