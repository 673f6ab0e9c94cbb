#include "platform/sim/system/SimMachineInfo.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/sim/processes/LastError.h"
#include "platform/sim/files/WinPath.h"

namespace sim {

using namespace platform;

namespace {

// GetDriveTypeW takes a root ("C:\"), nothing deeper; a bare "C:" is
// accepted as well.
bool ParseRoot(const std::wstring& root, wchar_t& letter) {
    WinPath path;
    if (root.size() > 3 || !WinPath::Parse(root, path) || !path.IsRoot()) return false;
    letter = path.Drive();
    return true;
}

}  // namespace

OsVersion SimMachineInfo::ReportedVersion() {
    const OsVersion actual = machine_->Read([](const MachineState& s) { return s.version; });
    // Since Windows 8.1 a program without a compatibility manifest is told
    // it runs on Windows 8.
    if (actual.major > 6 || (actual.major == 6 && actual.minor >= 2)) return OsVersion{6, 2, 9200};
    return actual;
}

bool SimMachineInfo::TrueVersion(OsVersion& version) {
    version = machine_->Read([](const MachineState& s) { return s.version; });
    return true;
}

bool SimMachineInfo::Is64BitWindows(bool& available) {
    available = true;
    return machine_->Read([](const MachineState& s) { return s.is64Bit; });
}

std::vector<std::wstring> SimMachineInfo::LogicalDrives() {
    std::vector<wchar_t> letters = machine_->Read([](const MachineState& s) {
        std::vector<wchar_t> out;
        for (const DriveInfo& drive : s.drives) out.push_back(drive.letter);
        return out;
    });
    std::sort(letters.begin(), letters.end());
    letters.erase(std::unique(letters.begin(), letters.end()), letters.end());
    std::vector<std::wstring> roots;
    for (wchar_t letter : letters) roots.push_back(std::wstring{letter, L':', L'\\'});
    return roots;
}

DriveType SimMachineInfo::GetDriveType(const std::wstring& root) {
    wchar_t letter = 0;
    if (!ParseRoot(root, letter)) return DriveType::NoRootDir;
    return machine_->Read([letter](const MachineState& s) {
        for (const DriveInfo& drive : s.drives) {
            if (drive.letter == letter) return drive.type;
        }
        return DriveType::NoRootDir;
    });
}

bool SimMachineInfo::GetDiskSpace(const std::wstring& root, DiskSpace& space) {
    // Any existing folder on the drive will do, as for GetDiskFreeSpaceExW.
    WinPath path;
    std::string host;
    struct stat st {};
    if (!WinPath::Parse(root, path) || !machine_->Resolve(path.ToString(), host) || ::stat(host.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
        Fail(kErrPathNotFound);
        return false;
    }
    return machine_->Read([&](const MachineState& s) {
        for (const DriveInfo& drive : s.drives) {
            if (drive.letter != path.Drive()) continue;
            space.freeToCaller = drive.freeBytes;
            space.totalFree = drive.freeBytes;
            space.total = drive.totalBytes;
            return true;
        }
        return false;
    });
}

std::wstring SimMachineInfo::SpecialFolder(int csidl) {
    return machine_->Read([csidl](const MachineState& s) {
        auto it = s.specialFolders.find(csidl);
        return it == s.specialFolders.end() ? std::wstring() : it->second;
    });
}

}  // namespace sim
