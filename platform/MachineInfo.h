// Facts about the machine: Windows version, bitness, drives, shell folders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace platform {

class IMachineInfo {
public:
    virtual ~IMachineInfo() = default;

    // GetVersionExW with a basic OSVERSIONINFOW: what Windows tells programs
    // without a compatibility manifest.
    virtual OsVersion ReportedVersion() = 0;
    // RtlGetNtVersionNumbers from ntdll; false when the export is missing.
    virtual bool TrueVersion(OsVersion& version) = 0;
    // True on 64-bit Windows: IsWow64Process in a 32-bit process, always true
    // in a 64-bit one. `available` is false when IsWow64Process is missing.
    virtual bool Is64BitWindows(bool& available) = 0;

    // GetLogicalDriveStringsW, one root ("C:\") per entry, in Windows order.
    virtual std::vector<std::wstring> LogicalDrives() = 0;
    virtual DriveType GetDriveType(const std::wstring& root) = 0;
    // GetDiskFreeSpaceExW; false when the call fails.
    virtual bool GetDiskSpace(const std::wstring& root, DiskSpace& space) = 0;
    // SHGetSpecialFolderPathW without creating the folder; empty when the
    // shell does not know the CSIDL.
    virtual std::wstring SpecialFolder(int csidl) = 0;
};

}  // namespace platform
