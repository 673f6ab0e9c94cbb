#include "Brisalen/ConfigMgr.h"

#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

constexpr wchar_t kSection[] = L"global";
constexpr wchar_t kDeepKey[] = L"DEEP";
constexpr wchar_t kCapacityKey[] = L"SCAN_MEMORY";
constexpr double kSafetyFactor = 1.5;

constexpr int64_t kKiB = 1024;
constexpr int64_t kMiB = kKiB * 1024;
constexpr int64_t kGiB = kMiB * 1024;

}  // namespace

CConfigMgr::CConfigMgr(platform::Platform& os)
    : m_files(os.Files()),
      m_strSettingsPath(FormatString(L"%s\\ScanCache.ini", GetExeDir(os.Process()))),
      m_nTotalDiskSize(GetTotalFixedDiskSize(os)) {
    m_nEstimatedFolders = EstimateFolderCount(m_nTotalDiskSize);
    LOG_INFO_W(L"%s => %d foder，%s => %d foder(*1.5)\n", FormatFileSize(static_cast<int64_t>(kReferenceCapacity)),
               kReferenceFolderCount, FormatFileSize(static_cast<int64_t>(m_nTotalDiskSize)), m_nEstimatedFolders);
}

int32_t CConfigMgr::EstimateFolderCount(uint64_t capacity) {
    const double estimate = static_cast<double>(capacity) / static_cast<double>(kReferenceCapacity) *
                            kReferenceFolderCount * kSafetyFactor;
    // No real machine comes near, but a capacity past the range must not
    // turn into undefined behaviour.
    if (estimate >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(estimate);
}

void CConfigMgr::SaveScanCache(int32_t folderCount) {
    platform::IFileSystem& files = m_files;
    files.WritePrivateProfileString(kSection, kDeepKey, FormatString(L"%d", folderCount), m_strSettingsPath);
    files.WritePrivateProfileString(kSection, kCapacityKey, FormatString(L"%dM", m_nTotalDiskSize / 1024 / 1024),
                                    m_strSettingsPath);
}

std::wstring FormatFileSize(int64_t bytes) {
    if (bytes < kKiB) return FormatString(L"%dB", bytes);
    if (bytes < kMiB) return FormatString(L"%d KB", bytes / kKiB + 1);
    if (bytes < kGiB) return FormatString(L"%d MB", bytes / kMiB);
    return FormatString(L"%.2f GB", static_cast<double>(bytes) / static_cast<double>(kGiB));
}
