// Version and bitness facts of the running Windows, gathered once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class IMachineInfo;
class Platform;
}  // namespace platform

// Cheap to build: each user reads the facts where it needs them.
class COsInfo {
public:
    explicit COsInfo(platform::IMachineInfo& machine);

    // Always true; kept for callers that test it.
    bool GetVersion(uint32_t& version, uint32_t& major, uint32_t& minor, std::wstring& description) const;

    bool bIsWow64 = false;
    bool bIsWin10OrLater = false;
    uint32_t dwMajor = 0;
    uint32_t dwMinor = 0;
    uint32_t dwVersion = 0;
    std::wstring strDescription;
};

bool GetDiskSpace(platform::IMachineInfo& machine, const std::wstring& root, uint64_t& freeToCaller, uint64_t& total,
                  uint64_t& totalFree);
bool GetFixedDrives(platform::IMachineInfo& machine, std::vector<std::wstring>& drives);
uint64_t GetTotalFixedDiskSize(platform::Platform& os);
std::wstring GetSpecialFolder(platform::IMachineInfo& machine, int csidl);
