#include "PowerShell.h"

#include <windows.h>

#include <vector>

namespace removepackage {

namespace {

constexpr wchar_t kBelowSystem[] = L"\\WindowsPowerShell\\v1.0\\powershell.exe";

bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// GetSystemDirectoryW and GetWindowsDirectoryW: the size they ask for, then
// the text.
template <typename Getter>
std::wstring Folder(Getter getter) {
    const UINT needed = getter(nullptr, 0);
    if (needed == 0) return std::wstring();
    std::vector<wchar_t> buffer(needed);
    const UINT written = getter(buffer.data(), needed);
    if (written == 0 || written >= needed) return std::wstring();
    return std::wstring(buffer.data(), written);
}

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

std::wstring PowerShellPath() {
    std::wstring candidate;
    if (RunsUnderWow64()) {
        const std::wstring windows = Folder(::GetWindowsDirectoryW);
        if (!windows.empty()) candidate = windows + L"\\Sysnative" + kBelowSystem;
    } else {
        const std::wstring system = Folder(::GetSystemDirectoryW);
        if (!system.empty()) candidate = system + kBelowSystem;
    }
    return !candidate.empty() && IsFile(candidate) ? candidate : std::wstring();
}

std::wstring RemovalCommandLine(const std::wstring& powerShell, const PackageId& package) {
    return L"\"" + powerShell + L"\" -NoProfile -NonInteractive -WindowStyle Hidden -Command \"Remove-AppxPackage -Package '" +
           package.fullName + L"'\"";
}

}  // namespace removepackage
