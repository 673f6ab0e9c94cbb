#include "Brisalen/itunesUserDataMgr.h"

#include <atomic>
#include <cstdint>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/ConfigMgr.h"
#include "Brisalen/UserDataItem.h"
#include "common/ChildPath.h"
#include "common/FileHelpers.h"
#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "common/Singleton.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/KnownFolders.h"
#include "platform/Platform.h"

namespace {

// Files classified by every scan of the process; each tenth sends a
// progress record.
std::atomic<uint32_t> g_progressTick{0};
constexpr uint32_t kProgressEvery = 10;

constexpr uint32_t kSkippedInDeepPass = platform::kAttrSystem | platform::kAttrReparsePoint;

const wchar_t* const kBackupProbes[] = {L"manifest.db", L"manifest.mbdb"};
// How much of a folder the scan reads before it decides whether the folder
// is a backup: enough for nearly every folder of a media library, little
// enough that the folders open along one path stay small.
constexpr size_t kScanReadAhead = 512;

}  // namespace

CItunesUserDataMgr::CItunesUserDataMgr(platform::Platform& os, const CCollectDirMgr& folders, CConfigMgr& config,
                                       CItunesLibraryMgr& library)
    : m_os(os),
      m_folders(folders),
      m_config(config),
      m_library(library),
      m_scanTask(m_os.Process(), FinalReportOrder::ReportThenRelease,
                 L"ERR:previous task is runing,can not exec new task\n"),
      m_deleteTask(m_os.Process(), FinalReportOrder::ReportThenRelease,
                   L"ERR:previous task is runing ,cant exec new task!\n") {}

void CItunesUserDataMgr::WaitIdle() const {
    m_scanTask.WaitIdle();
    m_deleteTask.WaitIdle();
}

bool CItunesUserDataMgr::EnumItunesUserData(EnumItunesUserDataCallback callback, void* pUser, bool bDeepScan,
                                            bool* pCancleEnumUserData) {
    try {
        LOG_INFO_W(L"EnumItunesUserData begin...");
        return m_scanTask.Start(
            [&] {
                LOG_INFO_W(L"bDeepScan = 0x%x, pCancleEnumUserData = 0x%x", bDeepScan ? 1 : 0,
                           static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pCancleEnumUserData)));
                m_enumCallback = callback;
                m_enumUser = pUser;
                m_bDeepScan = bDeepScan;
                m_pCancelScan = pCancleEnumUserData;
            },
            [this] {
                std::lock_guard<std::mutex> tables(m_tablesLock);
                EnumItunesUserDataImp();
            },
            [this](const TaskEnd& end) {
                if (end.threw) {
                    // The end state is the host's signal that the tables are
                    // stable again; it goes out whatever stopped the scan.
                    LOG_INFO_W(L"ERR:user data scan failed (%s), error %d\n", end.what, end.error);
                    SendEnumCallback(kEnumItunesUserDataState_Enum_End);
                }
                LOG_INFO_W(L"enum user data thread has exit!\n");
            });
    } catch (...) {
        return false;
    }
}

// ---------------------------------------------------------------------------
// The scan

void CItunesUserDataMgr::InitScanFolders() {
    const CCollectDirMgr& dirs = m_folders;
    const UserDataBases bases{dirs.GetMyMusicDir(), dirs.GetAppDataDir(), dirs.GetLocalAppDataDir(),
                              dirs.GetProgramDataDir()};
    BuildCategoryTables(bases, m_mapGroups, m_index);
    m_pBackupInfo = nullptr;
    m_vecClassifyFolders.clear();
    for (auto& [code, entry] : m_index) {
        if (code == kCategoryBackup) m_pBackupInfo = entry.pInfo;
        for (const std::wstring& folder : entry.pInfo->vecFolder) m_vecClassifyFolders.emplace_back(folder + L"\\", &entry);
    }
}

bool CItunesUserDataMgr::ScanCancelled() const { return IsCancelSet(m_pCancelScan); }

void CItunesUserDataMgr::EnumItunesUserDataImp() {
    InitScanFolders();
    m_lowered = {};
    m_mapBackups.clear();
    m_setJunkFiles.clear();
    m_progress = ST_ITUNES_SCAN_PROGRESS{};
    m_progress.bDeepScan = m_bDeepScan;
    CConfigMgr& config = m_config;
    m_progress.nTotalDir = static_cast<int32_t>(
        m_os.Files().GetPrivateProfileInt(L"global", L"DEEP", config.EstimatedFolderCount(), config.SettingsPath()));
    const std::wstring memory = FormatFileSize(static_cast<int64_t>(config.TotalDiskSize()));
    SendEnumCallback(kEnumItunesUserDataState_Enum_Begin);

    const std::vector<std::wstring> roots = m_folders.GetScanRoots();
    std::vector<std::wstring> categoryFolders;
    for (const auto& [folder, entry] : m_vecClassifyFolders) categoryFolders.push_back(folder);
    m_reach = UserDataReach(m_os, roots, categoryFolders);
    LOG_INFO_W(L"Scan itunes user data (%d folder)...", static_cast<int>(roots.size()));
    CFolderWalker walker(m_os.Files());
    walker.AddStartFolders(ReachableRoots(roots));
    walker.SetLinkFilter([this](const std::wstring& link) { return m_reach.Follows(link); });
    walker.AddExcludedFolder(GetSpecialFolder(m_os.Machine(), platform::csidl::kSystem));
    walker.AddExcludedFolder(GetSpecialFolder(m_os.Machine(), platform::csidl::kSystemX86));
    walker.SetHandler(&CItunesUserDataMgr::OnScanFile, this, m_pCancelScan);
    walker.SetReadAhead(kScanReadAhead);
    if (m_pCancelScan != nullptr) *m_pCancelScan = false;
    m_nPass = 1;
    m_pWalker = &walker;
    walker.Run();

    if (m_bDeepScan && !ScanCancelled()) {
        LOG_INFO_W(L"DeepScan => mem = %s,totalDir = %d\n", memory, m_progress.nTotalDir);
        RunDeepPass(walker, roots);
    }
    m_pWalker = nullptr;
    LOG_INFO_W(L"=> kEnumItunesUserDataState_Enum_End\n");
    SendEnumCallback(kEnumItunesUserDataState_Enum_End);
}

// A root reached through a link that leads into another root, or around
// one, is not walked: the deletion could then remove under one category
// what the scan counted under another. Every path the scan counts is
// thereby reached through links the reach follows, which is what the
// deletion checks before it acts.
std::vector<std::wstring> CItunesUserDataMgr::ReachableRoots(const std::vector<std::wstring>& roots) const {
    std::vector<std::wstring> walked;
    for (const std::wstring& root : roots) {
        std::wstring link;
        if (m_reach.Reaches(root, true, link)) {
            walked.push_back(root);
        } else {
            LOG_INFO_W(L"WARN:scan root [%s] is reached through the link [%s], not scanned\n", root, link);
        }
    }
    return walked;
}

void CItunesUserDataMgr::RunDeepPass(CFolderWalker& walker, const std::vector<std::wstring>& roots) {
    walker.ClearStartFolders();
    for (const std::wstring& root : roots) walker.AddExcludedFolder(root);
    std::vector<std::wstring> drives;
    GetFixedDrives(m_os.Machine(), drives);
    for (const std::wstring& drive : drives) {
        if (FileExists(m_os.Files(), drive)) walker.AddStartFolder(drive);
    }
    m_nPass = 2;
    SendEnumCallback(kEnumItunesUserDataState_DeepScan_Begin);
    walker.Run();
    if (ScanCancelled()) return;
    LOG_INFO_W(L"deeply scan complete,find [%d] folders,save...", m_progress.nScannedDir);
    m_config.SaveScanCache(m_progress.nScannedDir);
}

// The entries of one folder come one after another: its lower-cased path
// is made once a folder, not once an entry.
const std::wstring& CItunesUserDataMgr::LoweredFolder(const std::wstring& walkedPath) {
    if (walkedPath != m_lowered.walked) {
        m_lowered.walked = walkedPath;
        m_lowered.lowered = walkedPath;
        AsciiLowerInPlace(m_lowered.lowered);
    }
    return m_lowered.lowered;
}

bool CItunesUserDataMgr::OnScanFile(void* context, const std::wstring& walkedPath, const platform::FindData* entry,
                                    uint32_t code, uint32_t folderCount) {
    auto& self = *static_cast<CItunesUserDataMgr*>(context);
    self.m_progress.nScannedDir = static_cast<int32_t>(folderCount);
    const std::wstring& dirPath = self.LoweredFolder(walkedPath);
    if (code == kWalkCancelled) {
        LOG_INFO_W(L"kScanFinish_Cancle....\n");
        return false;
    }
    if (entry->IsDirectory()) return self.OnScanFolder(dirPath, *entry);
    if (code == kWalkStartFolderDone) {
        self.SendCategoryTotals();
        return true;
    }
    if (self.m_nPass == 1 && !dirPath.empty()) {
        self.ClassifyFile(dirPath, entry->name, static_cast<int64_t>(entry->size));
    }
    return true;
}

bool CItunesUserDataMgr::OnScanFolder(const std::wstring& dirPath, const platform::FindData& entry) {
    // The deep pass keeps away from every reparse point, placeholders too.
    if (m_nPass == 2 && (entry.attributes & kSkippedInDeepPass) != 0) return false;
    // A link is no backup: its target is not below the folder the deletion
    // would remove. Whether the walk goes through it is the reach's call.
    if (entry.IsLink()) return true;
    // A recognised backup is reported whole and never entered.
    return !TryAddBackup(dirPath + entry.name);
}

// The walker has usually just read the folder, and its listing answers
// the probes: asking the file system for a name a folder lacks costs a
// whole listing of it where names are case-insensitive above a file system
// that is not.
bool CItunesUserDataMgr::TryAddBackup(const std::wstring& folder) {
    for (const wchar_t* probe : kBackupProbes) {
        const CFolderWalker::Presence listed =
            m_pWalker != nullptr ? m_pWalker->AheadHas(probe) : CFolderWalker::Presence::Unknown;
        if (listed == CFolderWalker::Presence::Absent) continue;
        if (listed == CFolderWalker::Presence::Unknown && !FileExists(m_os.Files(), folder + L"\\" + probe)) continue;
        ST_ITUNES_USER_DATA_ITEM item = NewUserDataItem();
        if (!m_folders.ParseBackupDir(item, folder)) continue;
        auto backup = m_index.find(kCategoryBackup);
        if (backup != m_index.end()) {
            m_mapBackups[item.nId] = item;
            backup->second.pInfo->nSize += item.nSize;
            *backup->second.pGroupSize += item.nSize;
            item.bValid = true;
            SendEnumCallback(kEnumItunesUserDataState_Enum_Progress, &item, &backup->second);
        }
        return true;
    }
    return false;
}

void CItunesUserDataMgr::ClassifyFile(const std::wstring& dirPath, const std::wstring& name, int64_t size) {
    ST_ITUNES_CATEGORY_REF* claimed = nullptr;
    for (const auto& [folder, entry] : m_vecClassifyFolders) {
        if (dirPath.find(folder) != std::wstring::npos) {
            claimed = entry;
            break;
        }
    }
    if (claimed == nullptr) {
        auto junk = m_index.find(kCategoryJunk);
        if (junk == m_index.end()) return;
        claimed = &junk->second;
        std::wstring path = dirPath;
        AddTrailingBackslash(path);
        path += name;
        // The walk has just listed the file: its plain path reaches it
        // unless Win32 would rewrite the name or the folder is only reached
        // in the "\\?\" form, and only then does existence need asking.
        const bool plainPath = !NeedsLiteralPath(name) && path.rfind(L"\\\\?\\", 0) != 0;
        if (plainPath || FileExists(m_os.Files(), path)) m_setJunkFiles.insert(std::move(path));
    }
    claimed->pInfo->nSize += size;
    *claimed->pGroupSize += size;
    claimed->pInfo->nCount += 1;
    *claimed->pGroupCount += 1;
    if (++g_progressTick % kProgressEvery == 0) SendEnumCallback(kEnumItunesUserDataState_Enum_Progress, nullptr, claimed);
}

void CItunesUserDataMgr::SendCategoryTotals() {
    if (m_enumCallback == nullptr) return;
    for (const auto& [code, entry] : m_index) SendEnumCallback(kEnumItunesUserDataState_Enum_Progress, nullptr, &entry);
}

void CItunesUserDataMgr::SendEnumCallback(int32_t state, const ST_ITUNES_USER_DATA_ITEM* item,
                                          const ST_ITUNES_CATEGORY_REF* entry) {
    if (m_enumCallback == nullptr) return;
    ST_ITUNES_USER_DATA_ENUM_INFO record;
    record.pProgress = &m_progress;
    record.item = item != nullptr ? *item : NewUserDataItem();
    if (state == kEnumItunesUserDataState_Enum_Progress && entry != nullptr) {
        record.nGroup = entry->nGroup;
        record.nCategory = entry->nCategory;
        record.nCategorySize = entry->pInfo->nSize;
        record.nCategoryCount = entry->pInfo->nCount;
        record.nGroupSize = *entry->pGroupSize;
        record.nGroupCount = *entry->pGroupCount;
    }
    m_enumCallback(m_enumUser, state, &record);
}
