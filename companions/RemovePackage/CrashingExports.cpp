// A test build of RemovePackage.dll whose exports fail the way a broken
// companion would. Which failure is named by the first word of the file
// RemovePackage.fault beside the DLL, read at every call, so one loaded copy
// can be made to fail every way in turn:
//   access-violation     a write through a null pointer (also when the file
//                        is missing or names nothing known)
//   divide-by-zero       an integer division by zero
//   illegal-instruction  an undefined instruction
//   raise                RaiseException with a code of its own, continuable
//   noncontinuable       the same code, raised non-continuable
//   msvc-cxx             what a throw compiled by Microsoft's compiler
//                        raises (0xE06D7363, with its magic number)
//   stack-overflow       recursion without end
//   handled              a C++ exception thrown and caught inside; the call
//                        then returns normally ("handled" as the version,
//                        removal code 7)
// Only the Wine scenarios use it, to see the caller survive.
#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "RemovePackage.h"

namespace {

constexpr DWORD kOwnCode = 0xE0425243;  // 'BRC', customer bit set
constexpr DWORD kMsvcCxxCode = 0xE06D7363;
constexpr ULONG_PTR kMsvcCxxMagic = 0x19930520;

enum class Failure { kAccessViolation, kDivideByZero, kIllegalInstruction, kRaise, kNonContinuable, kMsvcCxx,
                     kStackOverflow, kHandled };

struct Named {
    const char* name;
    Failure failure;
};

constexpr Named kFailures[] = {
    {"access-violation", Failure::kAccessViolation}, {"divide-by-zero", Failure::kDivideByZero},
    {"illegal-instruction", Failure::kIllegalInstruction}, {"raise", Failure::kRaise},
    {"noncontinuable", Failure::kNonContinuable}, {"msvc-cxx", Failure::kMsvcCxx},
    {"stack-overflow", Failure::kStackOverflow}, {"handled", Failure::kHandled},
};

// The file beside this DLL, RemovePackage.fault.
Failure ChosenFailure() {
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&ChosenFailure), &self)) {
        return Failure::kAccessViolation;
    }
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return Failure::kAccessViolation;
    wchar_t* slash = std::wcsrchr(path, L'\\');
    if (slash == nullptr) return Failure::kAccessViolation;
    std::wcscpy(slash + 1, L"RemovePackage.fault");

    const HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failure::kAccessViolation;
    char text[64] = {};
    DWORD read = 0;
    const BOOL ok = ::ReadFile(file, text, sizeof text - 1, &read, nullptr);
    ::CloseHandle(file);
    if (!ok) return Failure::kAccessViolation;
    size_t word = 0;
    while (word < read && text[word] > ' ') ++word;
    for (const Named& named : kFailures) {
        if (std::strlen(named.name) == word && std::memcmp(named.name, text, word) == 0) return named.failure;
    }
    return Failure::kAccessViolation;
}

// Volatile on both sides, or the compiler may drop an access it can prove
// undefined.
void WriteThroughNull() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 0;
}

int DivideByZero() {
    volatile int zero = 0;
    volatile int dividend = 7;
    return dividend / zero;
}

__attribute__((noinline)) int Recurse(int depth) {
    volatile char block[2048];
    block[0] = static_cast<char>(depth);
    return Recurse(depth + 1) + block[0];
}

// The parameters of a Microsoft C++ throw: magic, object, throw info and, on
// x64, the image base its offsets are relative to. No catch block of ours
// reads them.
void RaiseMsvcCxx() {
    static int thrown = 7;
    const ULONG_PTR parameters[4] = {kMsvcCxxMagic, reinterpret_cast<ULONG_PTR>(&thrown), 0, 0};
    ::RaiseException(kMsvcCxxCode, EXCEPTION_NONCONTINUABLE, sizeof(void*) == 8 ? 4 : 3, parameters);
}

// Fails as chosen; false when the failure was one handled inside.
bool Fail() {
    switch (ChosenFailure()) {
        case Failure::kDivideByZero:
            return DivideByZero() == 0;
        case Failure::kIllegalInstruction:
            __builtin_trap();
        case Failure::kRaise:
            ::RaiseException(kOwnCode, 0, 0, nullptr);
            return true;
        case Failure::kNonContinuable:
            ::RaiseException(kOwnCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
            return true;
        case Failure::kMsvcCxx:
            RaiseMsvcCxx();
            return true;
        case Failure::kStackOverflow:
            return Recurse(0) == 0;
        case Failure::kHandled:
            try {
                throw std::runtime_error("handled inside the companion");
            } catch (const std::runtime_error&) {
                return false;
            }
        case Failure::kAccessViolation:
            break;
    }
    WriteThroughNull();
    return true;
}

}  // namespace

extern "C" bool REMOVEPACKAGE_CDECL CheckInstallMicrosoftStoreItunes(wchar_t* version, int32_t /*reserved*/) {
    if (!Fail() && version != nullptr) std::wcscpy(version, L"handled");
    return false;
}

extern "C" int32_t REMOVEPACKAGE_CDECL UninstallMicrosoftStoreItunes() {
    return Fail() ? removepackage::kRemoved : removepackage::kInternalError;
}
