#include "Brisalen/MsiDB.h"

#include <mutex>

#include "Brisalen/CollectDirMgr.h"
#include "common/FileHelpers.h"
#include "common/OsInfo.h"
#include "common/DeletionGuard.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

constexpr wchar_t kDirectorySql[] = L"SELECT Directory, Directory_Parent ,DefaultDir FROM Directory";
constexpr wchar_t kComponentSql[] = L"SELECT Component, Directory_ ,KeyPath,Condition FROM Component";
constexpr wchar_t kFileSql[] = L"SELECT File,FileSize,Component_,FileName FROM File";
constexpr wchar_t kComponentIdSql[] = L"SELECT Component, ComponentId FROM Component";
constexpr wchar_t kFileNameSql[] = L"SELECT File, Component_, FileName FROM File";
constexpr wchar_t kServiceSql[] = L"SELECT Name  FROM ServiceInstall";

constexpr int kMaxDirectoryChain = 20;
constexpr size_t kMaxLoggedFiles = 10;
constexpr size_t kMaxVersionConditionLength = 15;
constexpr int kMinRuntimeFilesPresent = 4;

// Fetches every row of an executed view, then closes it.
template <typename RowHandler>
void ForEachRow(std::unique_ptr<platform::IMsiView>& view, RowHandler&& onRow) {
    while (const auto record = view->Fetch()) onRow(**record);
    view.reset();
}

void LogVersionOnce(const COsInfo& os, int32_t versionNT, bool win81OrLater) {
    static std::once_flag logged;
    std::call_once(logged, [&] {
        uint32_t version = 0, major = 0, minor = 0;
        std::wstring description;
        os.GetVersion(version, major, minor, description);
        LOG_INFO_W(L"VersionNT = %d,major = %d,minor = %d,isWin81OrLater = %d  %s", versionNT, major, minor,
                   win81OrLater ? 1 : 0, description);
    });
}

// "versionnt>=602" selects the component when 0 < 602 <= VersionNT; any
// other shape of condition naming the version leaves it out.
bool VersionConditionHolds(std::wstring condition, int32_t versionNT) {
    ReplaceAll(condition, L" ", L"");
    constexpr wchar_t kOperator[] = L"versionnt>=";
    constexpr size_t kOperatorLength = sizeof(kOperator) / sizeof(kOperator[0]) - 1;
    const size_t at = condition.find(kOperator);
    if (at == std::wstring::npos || condition.size() > kMaxVersionConditionLength) return false;
    const std::wstring number = condition.substr(at + kOperatorLength);
    if (!IsAllDigits(number)) return false;
    const int32_t required = StringToInt(number);
    return required > 0 && required <= versionNT;
}

bool IsRuntimeComponent(const std::wstring& component) {
    return component.find(L"api_ms_win") != std::wstring::npos ||
           component.find(L"ucrtbase.dll") != std::wstring::npos;
}

}  // namespace

CMsiDB::CMsiDB(platform::Platform& os, const CCollectDirMgr& folders) : m_os(os) {
    // Asked afresh for each package so a machine whose Windows changes (the
    // simulated one) is judged as it is now.
    const COsInfo version(os.Machine());
    VersionNT = static_cast<int32_t>(version.dwVersion);
    isWin81OrLater = VersionNT >= 603;
    m_strCommonFiles64 = FormatString(L"%s\\Common Files", folders.GetProgramFilesDir());
    m_strCommonFiles = FormatString(L"%s\\Common Files", folders.GetProgramFilesX86Dir());
    m_strCommonAppData = folders.GetProgramDataDir();
    LogVersionOnce(version, VersionNT, isWin81OrLater);
}

bool CMsiDB::Init(std::wstring packagePath) {
    NormalizePath(packagePath);
    if (!FileExists(m_os.Files(), packagePath)) {
        LOG_INFO_W(L"[CMsiDB] file not exist [%s]! \n", packagePath);
        return false;
    }
    m_strPackagePath = packagePath;
    m_hDatabase.reset();
    auto opened = m_os.Installer().OpenDatabase(packagePath);
    if (!opened) {
        LOG_INFO_W(L"[CMsiDB] open [%s] fail! err = %d\n", packagePath, opened.Error());
        return false;
    }
    m_hDatabase = opened.Take();
    return true;
}

bool CMsiDB::QuerySql(const std::wstring& sql, std::unique_ptr<platform::IMsiView>& view) {
    if (!m_hDatabase) {
        LOG_INFO_W(L"ERR:m_hDatabase == NULL");
        return false;
    }
    auto opened = m_hDatabase->OpenView(sql);
    if (!opened) {
        LOG_INFO_W(L"ERR:MsiDatabaseOpenView fail! ret = %d", opened.Error());
        return false;
    }
    view = opened.Take();
    const uint32_t result = view->Execute();
    if (result != platform::kErrSuccess) {
        view.reset();
        LOG_INFO_W(L"ERR:MsiViewExecute fail! ERR:%d", result);
        return false;
    }
    return true;
}

std::wstring CMsiDB::GetRecordString(const platform::IMsiRecord& record, unsigned int field) {
    return record.GetString(field);
}

bool CMsiDB::QueryDirInfo() {
    std::unique_ptr<platform::IMsiView> view;
    if (!QuerySql(kDirectorySql, view)) return false;
    ForEachRow(view, [this](const platform::IMsiRecord& record) {
        std::wstring directory = GetRecordString(record, 1);
        std::wstring parent = GetRecordString(record, 2);
        std::wstring defaultDir = GetRecordString(record, 3);
        if (directory.empty() || parent.empty()) return;
        AsciiLowerInPlace(directory);
        AsciiLowerInPlace(parent);
        AsciiLowerInPlace(defaultDir);
        // The top-level folders are the standard ones; those that matter are
        // known by name.
        if (parent == L"targetdir") return;
        m_mapDirectory[directory] = {parent, defaultDir};
    });
    return true;
}

bool CMsiDB::RootFolder(const std::wstring& key, std::wstring& folder) const {
    if (key == L"installdir") folder = m_strInstallDir;
    else if (key == L"commonfiles64folder") folder = m_strCommonFiles64;
    else if (key == L"commonfilesfolder") folder = m_strCommonFiles;
    else if (key == L"applecommonappdatafolder") folder = m_strCommonAppData;
    else return false;
    return true;
}

bool CMsiDB::GetLongName(const std::wstring& nameField, std::wstring& name) {
    if (nameField.find(L'|') == std::wstring::npos) {
        name = nameField;
        return true;
    }
    const std::vector<std::wstring> parts = SplitString(nameField, L'|');
    if (parts.size() != 2) return false;
    name = parts[1];
    return !name.empty();
}

bool CMsiDB::QueryAbsoluteDir(const std::wstring& directoryKey, std::wstring& path) const {
    std::vector<std::wstring> parts;  // innermost first
    std::wstring current = directoryKey;
    for (int step = 1;; ++step) {
        std::wstring root;
        if (RootFolder(current, root)) {
            parts.push_back(root);
            break;
        }
        if (step > kMaxDirectoryChain) {
            LOG_INFO_W(L"ERR:[QueryAbsoluteDir] loop!");
            return false;
        }
        const auto entry = m_mapDirectory.find(current);
        if (entry == m_mapDirectory.end()) return false;
        const std::wstring& parent = entry->second.first;
        const std::wstring& defaultDir = entry->second.second;
        if (defaultDir == L".") {
            // "." only names the install folder itself.
            if (parent != L"installdir") return false;
            current = parent;
            continue;
        }
        std::wstring name;
        if (!GetLongName(defaultDir, name)) return false;
        if (!DeletionGuard::IsPlainName(name)) {
            // The check's paths end up in the residual-file deletion; a
            // folder name that climbs or names a drive has no place there.
            LOG_INFO_W(L"WARN:[QueryAbsoluteDir] folder name [%s] refused!", name);
            return false;
        }
        parts.push_back(name);
        current = parent;
    }
    path.clear();
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        path += *part;
        path += L'\\';
    }
    return true;
}

void CMsiDB::QueryServiceInstall(std::vector<std::wstring>& names) {
    std::unique_ptr<platform::IMsiView> view;
    if (!QuerySql(kServiceSql, view)) return;
    ForEachRow(view, [&names](const platform::IMsiRecord& record) {
        std::wstring name = GetRecordString(record, 1);
        if (!name.empty()) names.push_back(std::move(name));
    });
}

bool CMsiDB::CheckItunesProductFile(int productType, const std::wstring& installDir, int& checkedCount,
                                    std::vector<std::wstring>& badFiles, std::vector<std::wstring>& missFiles) {
    if (!m_hDatabase) return false;
    m_nProductType = productType;
    m_strInstallDir = installDir;
    if (!QueryDirInfo()) {
        LOG_INFO_W(L"ERR:[CheckItunesProductFile] QueryDirInfofail!");
        return false;
    }
    if (!QueryComponent()) {
        LOG_INFO_W(L"ERR:[CheckItunesProductFile] QueryComponentfail!");
        return false;
    }
    if (!QueryFileInfo()) {
        LOG_INFO_W(L"ERR:[CheckItunesProductFile] QueryFileInfofail!\n");
        return false;
    }
    checkedCount = SumCheck;
    badFiles = m_vecBadFile;
    missFiles = m_vecMissFile;
    LogCheckResult();
    return true;
}

void CMsiDB::LogCheckResult() const {
    LOG_INFO_W(L"SumCheck = %d,bad = %d,miss = %d", SumCheck, static_cast<int>(m_vecBadFile.size()),
               static_cast<int>(m_vecMissFile.size()));
    // Only the head of a long list goes to the log; the caller has it whole.
    if (!m_vecBadFile.empty()) {
        LOG_INFO_W(L"----bad file list----");
        for (size_t i = 0; i < m_vecBadFile.size() && i < kMaxLoggedFiles; ++i) LOG_INFO_W(L"    %s", m_vecBadFile[i]);
        LOG_INFO_W(L"--------\n");
    }
    if (!m_vecMissFile.empty()) {
        LOG_INFO_W(L"{");
        for (size_t i = 0; i < m_vecMissFile.size() && i < kMaxLoggedFiles; ++i) {
            LOG_INFO_W(L"    %s", m_vecMissFile[i]);
        }
        LOG_INFO_W(L"}\n");
    }
}

bool CMsiDB::InstalledFiles(const std::wstring& productCode, std::vector<std::wstring>& files) {
    if (!m_hDatabase) return false;
    std::unique_ptr<platform::IMsiView> view;
    if (!QuerySql(kComponentIdSql, view)) return false;
    std::map<std::wstring, std::wstring> folders;  // by component
    ForEachRow(view, [&](const platform::IMsiRecord& record) {
        std::wstring keyPath;
        const int state = m_os.Installer().GetComponentPath(productCode, GetRecordString(record, 2), keyPath);
        // A registry key path ("02:\\...") places no file.
        if (state != platform::kInstallStateLocal || keyPath.size() < 3 || keyPath[1] != L':') return;
        std::wstring folder;
        if (keyPath.back() == L'\\') {
            folder = keyPath;
        } else if (GetParentDir(keyPath, folder)) {
            AddTrailingBackslash(folder);
        } else {
            return;
        }
        folders[AsciiLower(GetRecordString(record, 1))] = folder;
    });
    if (!QuerySql(kFileNameSql, view)) return false;
    ForEachRow(view, [&](const platform::IMsiRecord& record) {
        const auto folder = folders.find(AsciiLower(GetRecordString(record, 2)));
        std::wstring name;
        if (folder == folders.end() || !GetLongName(GetRecordString(record, 3), name)) return;
        if (!DeletionGuard::IsPlainName(name)) return;
        files.push_back(folder->second + name);
    });
    return true;
}

bool CMsiDB::QueryComponent() {
    std::unique_ptr<platform::IMsiView> view;
    if (!QuerySql(kComponentSql, view)) return false;
    // The C runtime the package carries for systems without one: checked
    // only when the install folder shows it was really put there.
    std::map<std::wstring, std::wstring> runtime;
    int present = 0;
    ForEachRow(view, [&](const platform::IMsiRecord& record) {
        const std::wstring component = AsciiLower(GetRecordString(record, 1));
        const std::wstring directory = AsciiLower(GetRecordString(record, 2));
        const std::wstring keyPath = AsciiLower(GetRecordString(record, 3));
        const std::wstring condition = AsciiLower(GetRecordString(record, 4));
        if (keyPath.empty()) return;
        if (condition.empty()) {
            m_mapComponent[component] = directory;
        } else if (condition.find(L"versionnt") != std::wstring::npos) {
            if (VersionConditionHolds(condition, VersionNT)) m_mapComponent[component] = directory;
        } else if (condition.find(L"not ucrtinstalled") != std::wstring::npos) {
            if (isWin81OrLater) return;
            if (IsRuntimeComponent(component)) {
                runtime[component] = directory;
                if (FileExists(m_os.Files(), FormatString(L"%s\\%s", m_strInstallDir, component))) ++present;
            } else {
                m_mapComponent[component] = directory;
            }
        } else {
            m_mapComponent[component] = directory;
        }
    });
    if (present > kMinRuntimeFilesPresent) {
        LOG_INFO_W(L"Find vs2015 dll %d> 4 (total vs2015 = %d),api_ms_win*.dll", present,
                   static_cast<int>(runtime.size()));
        int added = 0;
        for (const auto& entry : runtime) added += m_mapComponent.insert(entry).second ? 1 : 0;
        LOG_INFO_W(L"add [%d] VS2015 files to checklist", added);
    }
    return true;
}

bool CMsiDB::QueryFileInfo() {
    std::unique_ptr<platform::IMsiView> view;
    if (!QuerySql(kFileSql, view)) return false;
    // Each placed file costs one open: existence and length together. A
    // package puts many files in few folders, so each folder is resolved once.
    std::map<std::wstring, std::pair<bool, std::wstring>> folders;
    ForEachRow(view, [this, &folders](const platform::IMsiRecord& record) {
        const int packageSize = record.GetInteger(2);
        const std::wstring component = AsciiLower(GetRecordString(record, 3));
        const std::wstring fileName = AsciiLower(GetRecordString(record, 4));
        const auto owner = m_mapComponent.find(component);
        if (owner == m_mapComponent.end()) return;
        std::wstring name;
        if (!GetLongName(fileName, name)) return;
        if (!DeletionGuard::IsPlainName(name)) {
            LOG_INFO_W(L"WARN:package file name [%s] refused!", name);
            return;
        }
        auto folder = folders.find(owner->second);
        if (folder == folders.end()) {
            std::wstring resolved;
            const bool ok = QueryAbsoluteDir(owner->second, resolved);
            folder = folders.emplace(owner->second, std::make_pair(ok, std::move(resolved))).first;
        }
        if (!folder->second.first) return;
        std::wstring path = folder->second.second + name;
        NormalizePath(path);
        int64_t size = 0;
        if (!ProbeFileSize(m_os.Files(), path, size)) {
            m_vecMissFile.push_back(path);
        } else if (static_cast<uint32_t>(size) != static_cast<uint32_t>(packageSize)) {
            m_vecBadFile.push_back(path);
        }
        m_vecCheckFile.push_back(std::move(path));
        ++SumCheck;
    });
    m_mapComponent.clear();
    return true;
}
