#include "common/OsInfo.h"

#include "common/PathHelpers.h"
#include "platform/Platform.h"

COsInfo::COsInfo(platform::IMachineInfo& machine) {
    bool wow64Known = false;
    bIsWow64 = machine.Is64BitWindows(wow64Known) && wow64Known;

    // What Windows tells programs without a manifest, then the true version
    // when ntdll can say it.
    const platform::OsVersion reported = machine.ReportedVersion();
    dwMajor = reported.major;
    dwMinor = reported.minor;
    platform::OsVersion trueVersion;
    if (machine.TrueVersion(trueVersion)) {
        dwMajor = trueVersion.major;
        dwMinor = trueVersion.minor;
        if (dwMajor == 6 && dwMinor == 3) strDescription = L"=> Microsoft Windows 8.1\n";
        if (dwMajor == 10 && dwMinor == 0) strDescription = L"=> Microsoft Windows 10\n";
        bIsWin10OrLater = dwMajor >= 10;
    }
    dwVersion = dwMajor * 100 + dwMinor;
}

bool COsInfo::GetVersion(uint32_t& version, uint32_t& major, uint32_t& minor,
                         std::wstring& description) const {
    version = dwVersion;
    major = dwMajor;
    minor = dwMinor;
    description = strDescription;
    return true;
}

bool GetDiskSpace(platform::IMachineInfo& machine, const std::wstring& root, uint64_t& freeToCaller, uint64_t& total,
                  uint64_t& totalFree) {
    platform::DiskSpace space;
    if (!machine.GetDiskSpace(root, space)) return false;
    freeToCaller = space.freeToCaller;
    total = space.total;
    totalFree = space.totalFree;
    return true;
}

bool GetFixedDrives(platform::IMachineInfo& machine, std::vector<std::wstring>& drives) {
    for (const std::wstring& root : machine.LogicalDrives()) {
        if (machine.GetDriveType(root) == platform::DriveType::Fixed) drives.push_back(root);
    }
    return true;
}

uint64_t GetTotalFixedDiskSize(platform::Platform& os) {
    std::vector<std::wstring> drives;
    GetFixedDrives(os.Machine(), drives);
    uint64_t sum = 0;
    for (const std::wstring& root : drives) {
        if (!FileExists(os.Files(), root)) continue;
        uint64_t freeToCaller = 0, total = 0, totalFree = 0;
        if (GetDiskSpace(os.Machine(), root, freeToCaller, total, totalFree)) sum += total;
    }
    return sum;
}

std::wstring GetSpecialFolder(platform::IMachineInfo& machine, int csidl) { return machine.SpecialFolder(csidl); }
