#include "platform/win32/FaultGuard.h"

#include <cstdint>

namespace platform::win32 {

namespace {

// Thread state outside the stack and the callee-saved registers that
// abandoned code can leave in a bad shape. The x87 register stack must be
// empty between calls, and a fault in the middle of long double (or, on
// x86, any floating-point) work leaves values on it. On x86 the chain of
// frame-based handlers lives in the thread block and may still name records
// on the abandoned stack; x64 finds its handlers through tables.
struct ThreadExtras {
    unsigned short x87Control;
#if defined(__i386__)
    void* handlerChain;
#endif
};

ThreadExtras SaveExtras() {
    ThreadExtras extras{};
    __asm__ __volatile__("fnstcw %0" : "=m"(extras.x87Control));
#if defined(__i386__)
    // The chain's head is the first word of the thread block, at fs:0.
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(extras.handlerChain));
#endif
    return extras;
}

void RestoreExtras(const ThreadExtras& extras) {
    __asm__ __volatile__("fninit\n\tfldcw %0" : : "m"(extras.x87Control));
#if defined(__i386__)
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(extras.handlerChain) : "memory");
#endif
}

struct GuardFrame {
    void* jump[5];  // the layout __builtin_setjmp wants
    GuardFrame* outer;
    ThreadExtras extras;
};

// Makes a frame the thread's innermost guard for as long as its body runs
// normally, an escaping C++ exception included.
class ActiveFrame {
public:
    ActiveFrame(const ThreadSlot& slot, GuardFrame& frame) : slot_(slot), outer_(frame.outer) { slot_.Set(&frame); }
    ~ActiveFrame() { slot_.Set(outer_); }
    ActiveFrame(const ActiveFrame&) = delete;
    ActiveFrame& operator=(const ActiveFrame&) = delete;

private:
    const ThreadSlot& slot_;
    GuardFrame* outer_;
};

// A stack overflow is left alone: its guard page is spent, and resuming
// higher up the same stack would leave the thread without one.
// Breakpoints and single steps belong to debuggers, guard-page hits to
// whoever set the guard page.
bool IsHardwareFault(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_INT_OVERFLOW:
        case EXCEPTION_FLT_DENORMAL_OPERAND:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_INEXACT_RESULT:
        case EXCEPTION_FLT_INVALID_OPERATION:
        case EXCEPTION_FLT_OVERFLOW:
        case EXCEPTION_FLT_STACK_CHECK:
        case EXCEPTION_FLT_UNDERFLOW:
            return true;
        default:
            return false;
    }
}

// The resume routine takes its frame in ECX/RCX: the handler can set a
// register, but must not write to the stack below the fault, where Windows
// is still dispatching the exception.
#if defined(__i386__)
#define BRISALEN_REGISTER_ARGUMENT __attribute__((fastcall))
#else
#define BRISALEN_REGISTER_ARGUMENT
#endif

[[noreturn]] __attribute__((noinline)) BRISALEN_REGISTER_ARGUMENT void ResumeAfterFault(GuardFrame* frame) {
    __builtin_longjmp(frame->jump, 1);
}

// Room left between the fault's stack pointer and the resume routine's, so
// the routine's own frame (and the x64 home area above it) stays clear of
// anything the faulting code still had there.
constexpr uintptr_t kResumeGap = 512;

// Points the faulting thread at ResumeAfterFault as if the routine had just
// been called: x64 expects RSP = 8 mod 16 on entry, x86 code from this
// compiler only needs 4-byte alignment, which 16 - 4 also gives.
void RedirectToResume(CONTEXT& cpu, GuardFrame* frame) {
    const auto entry = reinterpret_cast<uintptr_t>(&ResumeAfterFault);
    const auto argument = reinterpret_cast<uintptr_t>(frame);
#if defined(__x86_64__)
    cpu.Rsp = ((cpu.Rsp - kResumeGap) & ~static_cast<uintptr_t>(15)) - 8;
    cpu.Rip = entry;
    cpu.Rcx = argument;
#elif defined(__i386__)
    cpu.Esp = ((cpu.Esp - kResumeGap) & ~static_cast<uintptr_t>(15)) - 4;
    cpu.Eip = entry;
    cpu.Ecx = argument;
#else
#error "the fault guard knows x86 and x64 only"
#endif
}

}  // namespace

FaultGuard::FaultGuard() : handler_(&FaultGuard::OnException, true) {
    instance_.store(this, std::memory_order_release);
}

FaultGuard::~FaultGuard() { instance_.store(nullptr, std::memory_order_release); }

// Kept out of line so the jump point belongs to this frame alone and no
// caller's locals share the landing's rules.
__attribute__((noinline)) bool FaultGuard::Run(void (*body)(void*), void* context) {
    if (!innermost_.Valid() || !handler_.Registered()) {
        body(context);
        return true;
    }
    GuardFrame frame;
    frame.outer = static_cast<GuardFrame*>(innermost_.Get());
    frame.extras = SaveExtras();
    if (__builtin_setjmp(frame.jump) != 0) {
        // Back from ResumeAfterFault; the handler already took this frame
        // off the chain.
        RestoreExtras(frame.extras);
        return false;
    }
    const ActiveFrame active(innermost_, frame);
    body(context);
    return true;
}

LONG CALLBACK FaultGuard::OnException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (!IsHardwareFault(record.ExceptionCode) || (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const FaultGuard* guard = instance_.load(std::memory_order_acquire);
    if (guard == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    auto* frame = static_cast<GuardFrame*>(guard->innermost_.Get());
    if (frame == nullptr) return EXCEPTION_CONTINUE_SEARCH;

    guard->innermost_.Set(frame->outer);
    RedirectToResume(*info->ContextRecord, frame);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace platform::win32
