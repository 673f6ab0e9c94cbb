// Version, bitness, drives and shell folders of the running Windows.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/WinApi.h"

#include "platform/MachineInfo.h"

namespace platform::win32 {

class Win32MachineInfo final : public IMachineInfo {
public:
    OsVersion ReportedVersion() override;
    bool TrueVersion(OsVersion& version) override;
    bool Is64BitWindows(bool& available) override;
    std::vector<std::wstring> LogicalDrives() override;
    DriveType GetDriveType(const std::wstring& root) override;
    bool GetDiskSpace(const std::wstring& root, DiskSpace& space) override;
    std::wstring SpecialFolder(int csidl) override;
};

}  // namespace platform::win32
