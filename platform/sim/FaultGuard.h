// Structured exception handling for the simulated machine: a hardware fault
// inside a guarded call ends that call instead of the process.
#pragma once

namespace sim {

// Runs `body(context)`; false when it faulted (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL). Faults outside any guarded call go to whichever handler was
// installed before, so sanitizers and core dumps keep working. As with
// __except, nothing the body had under way is unwound.
bool RunWithFaultGuard(void (*body)(void*), void* context);

}  // namespace sim
