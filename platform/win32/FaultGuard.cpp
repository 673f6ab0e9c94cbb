#include "platform/win32/FaultGuard.h"

#include <cstdint>

#include "platform/win32/WinApi.h"

namespace platform::win32 {

namespace {

// What a thread's state slot holds.
constexpr uintptr_t kGuaranteeAsked = 1;  // the thread's stack guarantee is set
constexpr uintptr_t kStackSpent = 2;      // an overflow took the guard page for good

// Room kept for handling a stack overflow: the dispatcher's frames, the
// exception and context records and the guard's handler.
constexpr ULONG kStackGuarantee = 32 * 1024;

// Any of the flags Windows sets when it calls a handler to unwind rather
// than to handle (unwinding, exit unwind, target unwind, collided unwind).
constexpr DWORD kUnwindFlags = 0x66;

// Thread state outside the stack and the callee-saved registers that
// abandoned code can leave in a bad shape. The x87 register stack must be
// empty between calls, and a fault in the middle of floating-point work
// leaves values on it and may leave other control words. The head of the
// thread block's handler chain still names records on the abandoned stack
// after the jump: on x86 the chain of frame-based handlers (the dispatcher's
// own record among them), on x64 the frames Wine's dispatcher pushes there
// around each handler it calls (Windows leaves it empty on x64).
struct ThreadExtras {
    unsigned short x87Control;
    uint32_t sseControl;
    void* handlerChain;
};

NT_TIB& ThreadBlock() { return *reinterpret_cast<NT_TIB*>(::NtCurrentTeb()); }

ThreadExtras SaveExtras() {
    ThreadExtras extras{};
    __asm__ __volatile__("fnstcw %0" : "=m"(extras.x87Control));
    __asm__ __volatile__("stmxcsr %0" : "=m"(extras.sseControl));
    extras.handlerChain = ThreadBlock().ExceptionList;
    return extras;
}

void RestoreExtras(const ThreadExtras& extras) {
    __asm__ __volatile__("fninit\n\tfldcw %0" : : "m"(extras.x87Control));
    __asm__ __volatile__("ldmxcsr %0" : : "m"(extras.sseControl));
    ThreadBlock().ExceptionList = static_cast<EXCEPTION_REGISTRATION_RECORD*>(extras.handlerChain);
}

}  // namespace

// Shared with the assembly routine below, hence outside the anonymous
// namespace and with C names.
struct GuardFrame {
    void* jump[5];  // the layout __builtin_setjmp wants
    DWORD exceptionCode;
    ThreadExtras extras;
};

}  // namespace platform::win32

using platform::win32::GuardFrame;

extern "C" {

// Calls body(context) from a frame whose handler is the guard's; the frame
// keeps `guard` where the handler finds it from the establisher frame.
void brisalen_guarded_call(void (*body)(void*), void* context, GuardFrame* guard);

// Windows calls it for an exception no frame inside the body handled: it
// notes the code and jumps back to the guard's landing. Calls made to
// unwind pass through.
__attribute__((used)) EXCEPTION_DISPOSITION brisalen_guard_handler(EXCEPTION_RECORD* record, void* establisher,
                                                                  CONTEXT* /*cpu*/, void* /*dispatcher*/) {
    if ((record->ExceptionFlags & platform::win32::kUnwindFlags) != 0) return ExceptionContinueSearch;
#if defined(__i386__)
    // The establisher frame is the fs:0 record: next, handler, then the guard.
    GuardFrame* guard = static_cast<GuardFrame**>(establisher)[2];
#else
    // The establisher frame is the routine's stack pointer after its
    // prologue; the guard sits above the home area of the call it makes.
    GuardFrame* guard = *reinterpret_cast<GuardFrame**>(static_cast<char*>(establisher) + 32);
#endif
    guard->exceptionCode = record->ExceptionCode;
    __builtin_longjmp(guard->jump, 1);
}

}  // extern "C"

#if defined(__i386__)
// cdecl: body at 8(%ebp), context at 12(%ebp), guard at 16(%ebp). The
// record {next, handler, guard} is pushed on the stack and made the head
// of the thread's chain for the length of the call.
__asm__(
    ".text\n"
    ".globl _brisalen_guarded_call\n"
    ".def _brisalen_guarded_call; .scl 2; .type 32; .endef\n"
    "_brisalen_guarded_call:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl 16(%ebp)\n"
    "    pushl $_brisalen_guard_handler\n"
    "    pushl %fs:0\n"
    "    movl %esp, %fs:0\n"
    "    pushl 12(%ebp)\n"
    "    call *8(%ebp)\n"
    "    addl $4, %esp\n"
    "    popl %fs:0\n"
    "    movl %ebp, %esp\n"
    "    popl %ebp\n"
    "    ret\n");
#elif defined(__x86_64__)
// Microsoft x64: body in RCX, context in RDX, guard in R8. 56 bytes keep
// the call aligned (8 mod 16 on entry) and hold the home area (32 bytes)
// and the guard's slot. The nop keeps the return address inside the
// routine, so Windows finds its handler for exceptions in the body.
__asm__(
    ".text\n"
    ".globl brisalen_guarded_call\n"
    ".def brisalen_guarded_call; .scl 2; .type 32; .endef\n"
    ".seh_proc brisalen_guarded_call\n"
    "brisalen_guarded_call:\n"
    "    subq $56, %rsp\n"
    "    .seh_stackalloc 56\n"
    "    .seh_handler brisalen_guard_handler, @except\n"
    "    .seh_endprologue\n"
    "    movq %r8, 32(%rsp)\n"
    "    movq %rcx, %rax\n"
    "    movq %rdx, %rcx\n"
    "    callq *%rax\n"
    "    nop\n"
    "    addq $56, %rsp\n"
    "    ret\n"
    ".seh_endproc\n");
#else
#error "the fault guard knows x86 and x64 only"
#endif

namespace platform::win32 {

namespace {

uintptr_t RoundUp(uintptr_t value, uintptr_t page) { return (value + page - 1) & ~(page - 1); }

// Makes sure the thread keeps room to handle its own stack overflow, and
// answers how much.
bool AskStackGuarantee(ULONG& guarantee) {
    guarantee = 0;  // zero asks without changing it
    if (!::SetThreadStackGuarantee(&guarantee)) return false;
    if (guarantee >= kStackGuarantee) return true;
    ULONG wanted = kStackGuarantee;
    if (!::SetThreadStackGuarantee(&wanted)) return false;
    guarantee = kStackGuarantee;
    return true;
}

// Windows raises a stack overflow when the stack grows into the guarantee,
// so the guarantee is left for the overflow's own handling. That needs a
// guard page above it: on a stack that is reserved there, Windows moves
// its guard page down as the stack grows, but Wine commits its stacks
// whole with one guard page at the bottom (the overflow then comes with no
// room to handle it), and an overflow takes the guard page for good. Either
// way the guard goes where Windows would raise the overflow, above the
// guarantee and the page Windows never commits; once the stack is already
// deeper than that, there is no room to keep.
bool PlaceStackGuard(ULONG guarantee) {
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    const uintptr_t page = system.dwPageSize;
    volatile char marker = 0;
    const auto here = reinterpret_cast<uintptr_t>(&marker);
    MEMORY_BASIC_INFORMATION stack{};
    if (::VirtualQuery(reinterpret_cast<const void*>(here), &stack, sizeof stack) == 0) return false;
    const uintptr_t guardPage = reinterpret_cast<uintptr_t>(stack.AllocationBase) + 2 * page + RoundUp(guarantee, page);
    if (guardPage + page > (here & ~(page - 1))) return false;
    void* const guard = reinterpret_cast<void*>(guardPage);
    MEMORY_BASIC_INFORMATION at{};
    if (::VirtualQuery(guard, &at, sizeof at) == 0) return false;
    if (at.State != MEM_COMMIT || (at.Protect & PAGE_GUARD) != 0) return true;
    DWORD previous = 0;
    return ::VirtualProtect(guard, page, PAGE_READWRITE | PAGE_GUARD, &previous) != 0;
}

}  // namespace

// Kept out of line so the jump point belongs to this frame alone and no
// caller's locals share the landing's rules.
__attribute__((noinline)) GuardOutcome FaultGuard::Run(void (*body)(void*), void* context) {
    if (!threadState_.Valid()) return GuardOutcome::Refused(L"no thread-local slot was left for the fault guard");
    auto state = reinterpret_cast<uintptr_t>(threadState_.Get());
    if ((state & kStackSpent) != 0) {
        return GuardOutcome::Refused(L"a stack overflow took this thread's guard page and it could not be put back");
    }
    if ((state & kGuaranteeAsked) == 0) {
        ULONG guarantee = 0;
        if (!AskStackGuarantee(guarantee) || !PlaceStackGuard(guarantee)) {
            return GuardOutcome::Refused(L"the thread's stack keeps no room to handle an overflow");
        }
        threadState_.Set(reinterpret_cast<void*>(state | kGuaranteeAsked));
    }

    GuardFrame frame;
    frame.exceptionCode = 0;
    frame.extras = SaveExtras();
    if (__builtin_setjmp(frame.jump) != 0) {
        RestoreExtras(frame.extras);
        const DWORD code = frame.exceptionCode;
        ULONG guarantee = 0;
        if (code == EXCEPTION_STACK_OVERFLOW &&
            (!::SetThreadStackGuarantee(&guarantee) || !PlaceStackGuard(guarantee))) {
            state = reinterpret_cast<uintptr_t>(threadState_.Get());
            threadState_.Set(reinterpret_cast<void*>(state | kStackSpent));
        }
        return GuardOutcome::Exception(code);
    }
    brisalen_guarded_call(body, context, &frame);
    return {};
}

}  // namespace platform::win32
