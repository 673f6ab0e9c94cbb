// Structured exception handling for the simulated machine: a hardware fault
// or a C++ exception inside a guarded call ends that call instead of the
// process.
#pragma once

#include "platform/ProcessEnv.h"
#include "platform/sim/Api.h"

namespace sim {

// Runs `body(context)`. A fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL) ends it
// with the code Windows gives that fault, a C++ exception with the code of
// a C++ exception. Faults outside any guarded call go to whichever handler
// was installed before, so sanitizers and core dumps keep working. As with
// __except, nothing the body had under way is unwound.
platform::GuardOutcome RunWithFaultGuard(void (*body)(void*), void* context);

// Whether a guard can be set up in this process, as when Windows has no
// thread-local slot or stack guarantee left to give: while it cannot,
// guarded calls are refused and their bodies not run. For tests.
SIM_API void SetFaultGuardAvailable(bool available);

}  // namespace sim
