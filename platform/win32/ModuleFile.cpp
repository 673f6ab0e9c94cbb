#include "platform/win32/ModuleFile.h"

#include "platform/win32/GrowingBuffer.h"

namespace platform::win32 {

namespace {

// Paths may reach the 32767-character limit of the W functions; the cap
// only stops a runaway loop.
constexpr size_t kLongestModulePath = 65536;

// Any address inside the back end identifies its module.
void AnchorInBackEnd() {}

LPCWSTR BackEndAddress() { return reinterpret_cast<LPCWSTR>(&AnchorInBackEnd); }

}  // namespace

std::wstring ModuleFileName(HMODULE module) {
    auto path = ReadIntoGrowingBuffer<std::wstring>(
        MAX_PATH,
        [&](wchar_t* buffer, size_t size) {
            const DWORD length = ::GetModuleFileNameW(module, buffer, static_cast<DWORD>(size));
            if (length == 0) return BufferFill::Failed(::GetLastError());
            // A result that fills the buffer was cut short (XP does not even
            // say so through the last error).
            return length < size ? BufferFill::Whole(length) : BufferFill::Truncated();
        },
        BufferLimit{kLongestModulePath});
    return path ? path.Take() : std::wstring();
}

HMODULE BackEndModule() {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              BackEndAddress(), &module)) {
        return nullptr;
    }
    return module;
}

ModuleReference PinBackEndModule() {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, BackEndAddress(), &module)) return {};
    return ModuleReference(module);
}

}  // namespace platform::win32
