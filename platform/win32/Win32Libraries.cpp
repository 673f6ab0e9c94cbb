#include "platform/win32/Win32Libraries.h"

#include "platform/win32/WinApi.h"

namespace platform::win32 {

namespace {

// Never calls FreeLibrary (see ILibrary).
class Win32Library final : public ILibrary {
public:
    explicit Win32Library(HMODULE module) : module_(module) {}

    ExportedFunction Export(const char* name) override {
        // Going through FARPROC is the one cast GetProcAddress's contract
        // allows; the caller restores the real signature.
        return reinterpret_cast<ExportedFunction>(::GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};

}  // namespace

Result<std::unique_ptr<ILibrary>> Win32Libraries::Load(const std::wstring& name) {
    const HMODULE module = ::LoadLibraryW(name.c_str());
    if (module == nullptr) return Failure(::GetLastError());
    return std::unique_ptr<ILibrary>(std::make_unique<Win32Library>(module));
}

}  // namespace platform::win32
