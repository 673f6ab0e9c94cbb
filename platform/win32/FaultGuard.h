// Runs code so that a hardware fault inside it (an access violation, a bad
// instruction, an integer division by zero) ends the code instead of the
// process.
#pragma once

#include <atomic>

#include "platform/win32/ThreadSlot.h"
#include "platform/win32/VectoredHandler.h"
#include "platform/win32/WinApi.h"

namespace platform::win32 {

// MinGW has no __try/__except, so the guard works with a vectored handler.
// On entry the guard sets a jump point (__builtin_setjmp). When a fault hits
// a thread inside a guard, the handler lets Windows finish the exception
// normally but resumes the thread in a small routine, on fresh stack below
// the fault, that jumps back to that point. The jump is left to the
// compiler, which knows what it must reload at the landing, so nothing
// depends on how a register snapshot would describe an optimised frame.
// Guards nest; each thread has its own chain.
//
// Like __except without unwinding, the faulting code's stack is abandoned:
// destructors below the guard do not run and locks taken there stay taken.
//
// One instance per process: the handler finds it through a static.
class FaultGuard {
public:
    FaultGuard();
    ~FaultGuard();
    FaultGuard(const FaultGuard&) = delete;
    FaultGuard& operator=(const FaultGuard&) = delete;

    // True when `body` returned, false when a fault ended it.
    bool Run(void (*body)(void*), void* context);

private:
    static LONG CALLBACK OnException(EXCEPTION_POINTERS* info);

    static inline std::atomic<FaultGuard*> instance_{nullptr};

    ThreadSlot innermost_;  // the calling thread's innermost guard, if any
    VectoredHandler handler_;
};

}  // namespace platform::win32
