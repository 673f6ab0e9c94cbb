#include "platform/sim/processes/FaultGuard.h"

#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <mutex>

namespace sim {

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);

struct sigaction g_previous[kSignalCount];

// Where the innermost guarded call on this thread resumes after a fault.
// The handler also reads it on threads that never made a guarded call. In
// the initial-exec model it lies in the static TLS block every thread gets
// at creation, so that read never makes the loader allocate thread storage,
// which is not safe inside a signal handler.
__attribute__((tls_model("initial-exec"))) thread_local sigjmp_buf* t_resume = nullptr;
// The Windows code of the fault that ended the innermost guarded call.
__attribute__((tls_model("initial-exec"))) thread_local uint32_t t_faultCode = 0;

std::atomic<bool> g_available{true};

// The code Windows raises for the fault a signal stands for.
uint32_t WindowsCodeOf(int signal, const siginfo_t* info) {
    switch (signal) {
        case SIGFPE:
            if (info->si_code == FPE_INTDIV) return 0xC0000094;  // EXCEPTION_INT_DIVIDE_BY_ZERO
            if (info->si_code == FPE_INTOVF) return 0xC0000095;  // EXCEPTION_INT_OVERFLOW
            return 0xC0000090;                                   // EXCEPTION_FLT_INVALID_OPERATION
        case SIGILL: return 0xC000001D;                          // EXCEPTION_ILLEGAL_INSTRUCTION
        default: return 0xC0000005;                              // EXCEPTION_ACCESS_VIOLATION
    }
}

void ChainToPrevious(int signal, siginfo_t* info, void* ucontext) {
    for (int i = 0; i < kSignalCount; ++i) {
        if (kFaultSignals[i] != signal) continue;
        const struct sigaction& previous = g_previous[i];
        if (previous.sa_flags & SA_SIGINFO) {
            previous.sa_sigaction(signal, info, ucontext);
            return;
        }
        if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
            previous.sa_handler(signal);
            return;
        }
    }
    // Nobody else wanted it: die the way the fault would have killed us.
    // The signal stays blocked until the handler returns, then the default
    // action runs.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void OnFault(int signal, siginfo_t* info, void* ucontext) {
    if (sigjmp_buf* resume = t_resume) {
        t_faultCode = WindowsCodeOf(signal, info);
        siglongjmp(*resume, 1);
    }
    ChainToPrevious(signal, info, ucontext);
}

void InstallHandlers() {
    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &action, &g_previous[i]);
}

}  // namespace

void SetFaultGuardAvailable(bool available) { g_available.store(available); }

platform::GuardOutcome RunWithFaultGuard(void (*body)(void*), void* context) {
    if (!g_available.load()) return platform::GuardOutcome::Refused(L"the machine gives no fault guard");
    static std::once_flag installed;
    std::call_once(installed, InstallHandlers);

    sigjmp_buf* const outer = t_resume;
    sigjmp_buf resume;
    // Saving the signal mask matters: the handler leaves with the fault
    // signal blocked, and the next fault must reach it again.
    if (sigsetjmp(resume, 1) != 0) {
        t_resume = outer;
        return platform::GuardOutcome::Exception(t_faultCode);
    }
    t_resume = &resume;
    try {
        body(context);
    } catch (...) {
        t_resume = outer;
        return platform::GuardOutcome::Exception(platform::kCxxExceptionCode);
    }
    t_resume = outer;
    return {};
}

}  // namespace sim
