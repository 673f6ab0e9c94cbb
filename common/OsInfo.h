// Version and bitness facts of the running Windows, gathered once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class COsInfo {
public:
    COsInfo();

    // Always true; kept for callers that test it.
    bool GetVersion(uint32_t& version, uint32_t& major, uint32_t& minor, std::wstring& description) const;

    bool bIsWow64 = false;
    bool bIsWin10OrLater = false;
    uint32_t dwMajor = 0;
    uint32_t dwMinor = 0;
    uint32_t dwVersion = 0;
    std::wstring strDescription;
};

const COsInfo& GetOsInfo();

bool GetDiskSpace(const std::wstring& root, uint64_t& freeToCaller, uint64_t& total, uint64_t& totalFree);
bool GetFixedDrives(std::vector<std::wstring>& drives);
uint64_t GetTotalFixedDiskSize();
std::wstring GetSpecialFolder(int csidl);
