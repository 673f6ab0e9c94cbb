// Runs code so that any exception it leaves unhandled (a hardware fault, a
// code raised with RaiseException, a C++ exception of any compiler, a
// non-continuable exception, a stack overflow) ends the code instead of the
// process.
#pragma once

#include "platform/ProcessEnv.h"
#include "platform/win32/ThreadSlot.h"

namespace platform::win32 {

// MinGW has no __try/__except, so the guard builds its own: the code runs
// from a small assembly routine that registers a frame-based handler (an
// fs:0 record on x86, an unwind-table handler on x64). Windows asks that
// handler only once every frame inside the code has declined the
// exception, so exceptions the code handles itself never reach the guard.
// The handler jumps back to a point the guard set (__builtin_setjmp); the
// jump is left to the compiler, which knows what it must reload at the
// landing. Guards nest.
//
// Like __except without unwinding, the ended code's stack is abandoned:
// destructors below the guard do not run and locks taken there stay taken.
//
// A stack overflow is handled on the little stack Windows keeps for it,
// which the guard asks for on each thread (SetThreadStackGuarantee), with
// a guard page above it where Windows raises the overflow. An overflow
// takes that guard page, so it is put back after one; where that cannot be
// done, the thread's later guarded calls are refused, as they are when the
// guard cannot be set up at all.
class FaultGuard {
public:
    FaultGuard() = default;
    FaultGuard(const FaultGuard&) = delete;
    FaultGuard& operator=(const FaultGuard&) = delete;

    GuardOutcome Run(void (*body)(void*), void* context);

private:
    // Bits of what the guard knows of the calling thread.
    ThreadSlot threadState_;
};

}  // namespace platform::win32
