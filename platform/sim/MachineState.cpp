#include "platform/sim/MachineState.h"

namespace sim {

namespace {
constexpr uint64_t kGiB = 1024ull * 1024 * 1024;
}

MachineState MachineState::Default() {
    MachineState state;
    state.drives.push_back(DriveInfo{L'C', platform::DriveType::Fixed, 256 * kGiB, 120 * kGiB});
    state.specialFolders = {
        {csidl::kAppData, L"C:\\Users\\Tarn\\AppData\\Roaming"},
        {csidl::kLocalAppData, L"C:\\Users\\Tarn\\AppData\\Local"},
        {csidl::kMyMusic, L"C:\\Users\\Tarn\\Music"},
        {csidl::kCommonAppData, L"C:\\ProgramData"},
        {csidl::kWindows, L"C:\\Windows"},
        {csidl::kProfile, L"C:\\Users\\Tarn"},
        {csidl::kPersonal, L"C:\\Users\\Tarn\\Documents"},
        {csidl::kDesktopDirectory, L"C:\\Users\\Tarn\\Desktop"},
    };
    state.SetWindows(WindowsRelease::Windows10, true);
    return state;
}

void MachineState::SetWindows(uint32_t major, uint32_t minor, uint32_t build, bool windows64) {
    version = platform::OsVersion{major, minor, build};
    is64Bit = windows64;
    // The library is a 32-bit module: on 64-bit Windows the shell hands it
    // the x86 folders even for the "native" CSIDLs.
    const std::wstring programFiles = windows64 ? L"C:\\Program Files (x86)" : L"C:\\Program Files";
    specialFolders[csidl::kProgramFiles] = programFiles;
    specialFolders[csidl::kProgramFilesX86] = programFiles;
    specialFolders[csidl::kProgramFilesCommon] = programFiles + L"\\Common Files";
    specialFolders[csidl::kProgramFilesCommonX86] = programFiles + L"\\Common Files";
    specialFolders[csidl::kSystem] = windows64 ? L"C:\\Windows\\SysWOW64" : L"C:\\Windows\\System32";
}

void MachineState::SetWindows(WindowsRelease release, bool windows64) {
    switch (release) {
        case WindowsRelease::Windows7: SetWindows(6, 1, 7601, windows64); break;
        case WindowsRelease::Windows81: SetWindows(6, 3, 9600, windows64); break;
        case WindowsRelease::Windows10: SetWindows(10, 0, 19045, windows64); break;
        case WindowsRelease::Windows11: SetWindows(10, 0, 22631, windows64); break;
    }
}

}  // namespace sim
