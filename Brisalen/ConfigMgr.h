// The settings of the user-data scan ("ScanCache.ini" beside the host
// program): how many folders the last deep scan walked, and the estimate
// used until a scan has run, scaled from a reference machine by the fixed
// drives' capacity. Also the byte-count text the scan's log lines use.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

class CConfigMgr {
public:
    // A machine with this much fixed-drive capacity holds about this many
    // folders.
    static constexpr uint64_t kReferenceCapacity = 0xE8DA4FC000ull;  // 1,000,095,072,256 bytes
    static constexpr int32_t kReferenceFolderCount = 90426;

    // The process's settings, read on first use.
    static CConfigMgr& Instance();
    // Reads the machine afresh; Instance() is the one the scan shares.
    explicit CConfigMgr(platform::Platform& os);

    // The folder estimate for a machine with `capacity` bytes of fixed
    // drives, with half again as much for safety.
    static int32_t EstimateFolderCount(uint64_t capacity);

    // Remembers the folder count of the deep scan just finished.
    void SaveScanCache(int32_t folderCount);

    const std::wstring& SettingsPath() const { return m_strSettingsPath; }
    int32_t EstimatedFolderCount() const { return m_nEstimatedFolders; }
    uint64_t TotalDiskSize() const { return m_nTotalDiskSize; }

private:
    platform::IFileSystem& m_files;
    std::wstring m_strSettingsPath;
    int32_t m_nEstimatedFolders = 0;
    uint64_t m_nTotalDiskSize = 0;
};

// "512B", "2 KB" (rounded up), "3 MB" (rounded down) or "1.50 GB".
std::wstring FormatFileSize(int64_t bytes);
