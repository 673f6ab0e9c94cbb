#include "platform/win32/ModuleFile.h"

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
    std::wstring buffer(MAX_PATH, L'\0');
    while (buffer.size() <= kLongestModulePath) {
        const DWORD length = ::GetModuleFileNameW(module, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        // A result that fills the buffer was cut short (XP does not even say
        // so through the last error).
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
    return {};
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
