#include "platform/win32/Win32MachineInfo.h"

#include "platform/win32/ExportLookup.h"
#include "platform/win32/GrowingBuffer.h"

namespace platform::win32 {

namespace {

using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD* major, DWORD* minor, DWORD* build);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE process, BOOL* wow64);

// The top bits of the build number say "free" or "checked" build.
constexpr DWORD kBuildNumberMask = 0x0FFFFFFF;

uint64_t Combined(const ULARGE_INTEGER& value) { return value.QuadPart; }

}  // namespace

// The library must see what any unmanifested program sees (Windows 8.1 and
// later answer 6.2 here), so the deprecated call is the point.
OsVersion Win32MachineInfo::ReportedVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL ok = ::GetVersionExW(&info);
#pragma GCC diagnostic pop
    OsVersion version;
    if (!ok) return version;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.build = info.dwBuildNumber;
    return version;
}

// ntdll answers the real numbers whatever the host's manifest says.
bool Win32MachineInfo::TrueVersion(OsVersion& version) {
    const auto query = LookupExport<RtlGetNtVersionNumbersFn>(L"ntdll.dll", "RtlGetNtVersionNumbers");
    if (query == nullptr) return false;
    DWORD major = 0, minor = 0, build = 0;
    query(&major, &minor, &build);
    version.major = major;
    version.minor = minor;
    version.build = build & kBuildNumberMask;
    return true;
}

bool Win32MachineInfo::Is64BitWindows(bool& available) {
    if (sizeof(void*) == 8) {
        // A 64-bit process only runs on 64-bit Windows.
        available = true;
        return true;
    }
    // IsWow64Process came with XP SP2; older systems are all 32-bit.
    const auto isWow64 = LookupExport<IsWow64ProcessFn>(L"kernel32.dll", "IsWow64Process");
    available = isWow64 != nullptr;
    if (!available) return false;
    BOOL wow64 = FALSE;
    if (!isWow64(::GetCurrentProcess(), &wow64)) return false;
    return wow64 != FALSE;
}

std::vector<std::wstring> Win32MachineInfo::LogicalDrives() {
    // A drive may appear between two calls, so the size is asked anew.
    const auto listed = ReadIntoGrowingBuffer<std::wstring>(64, [](wchar_t* buffer, size_t size) {
        const DWORD length = ::GetLogicalDriveStringsW(static_cast<DWORD>(size), buffer);
        if (length == 0) return BufferFill::Failed(::GetLastError());
        return length < size ? BufferFill::Whole(length) : BufferFill::NeedsSize(length + 1);
    });
    if (!listed) return {};
    const std::wstring& buffer = *listed;
    std::vector<std::wstring> roots;
    size_t start = 0;
    while (start < buffer.size()) {
        size_t end = buffer.find(L'\0', start);
        if (end == std::wstring::npos) end = buffer.size();
        if (end > start) roots.push_back(buffer.substr(start, end - start));
        start = end + 1;
    }
    return roots;
}

DriveType Win32MachineInfo::GetDriveType(const std::wstring& root) {
    return static_cast<DriveType>(::GetDriveTypeW(root.c_str()));
}

bool Win32MachineInfo::GetDiskSpace(const std::wstring& root, DiskSpace& space) {
    ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
    if (!::GetDiskFreeSpaceExW(root.c_str(), &freeToCaller, &total, &totalFree)) return false;
    space.freeToCaller = Combined(freeToCaller);
    space.total = Combined(total);
    space.totalFree = Combined(totalFree);
    return true;
}

std::wstring Win32MachineInfo::SpecialFolder(int csidl) {
    // The shell writes up to MAX_PATH characters and takes no size.
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return {};
    return buffer;
}

}  // namespace platform::win32
