// Read-only view of one Windows Installer package: the services it installs,
// where its directories lie, and which of its files are missing or damaged
// on disk. Directories resolve only through four known root folders; the
// installer's own folder resolution is not run.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Brisalen/CollectDirMgr.h"
#include "platform/Platform.h"

class CMsiDB {
public:
    // Reads packages through `os`; the folders resolve a package's roots.
    CMsiDB(platform::Platform& os, const CCollectDirMgr& folders);
    CMsiDB(const CMsiDB&) = delete;
    CMsiDB& operator=(const CMsiDB&) = delete;

    bool Init(std::wstring packagePath);
    bool QuerySql(const std::wstring& sql, std::unique_ptr<platform::IMsiView>& view);
    static std::wstring GetRecordString(const platform::IMsiRecord& record, unsigned int field);

    bool QueryDirInfo();
    bool QueryAbsoluteDir(const std::wstring& directoryKey, std::wstring& path) const;
    static bool GetLongName(const std::wstring& nameField, std::wstring& name);
    void QueryServiceInstall(std::vector<std::wstring>& names);

    // Compares every file the package installs for this Windows with the
    // disk. True when the tables could be read; the lists then hold the
    // verdict and replace the callers' contents.
    bool CheckItunesProductFile(int productType, const std::wstring& installDir, int& checkedCount,
                                std::vector<std::wstring>& badFiles, std::vector<std::wstring>& missFiles);
    // Every file of the package that the installed product `productCode`
    // has on the machine: each component Windows Installer reports as
    // present, its files in the folder of its key path.
    bool InstalledFiles(const std::wstring& productCode, std::vector<std::wstring>& files);
    bool QueryComponent();
    bool QueryFileInfo();

    // The Windows version the component conditions are judged against
    // (major*100+minor).
    int32_t VersionNT = 0;
    bool isWin81OrLater = false;

    platform::Platform& m_os;
    std::wstring m_strInstallDir;
    std::wstring m_strPackagePath;
    std::unique_ptr<platform::IMsiDatabase> m_hDatabase;
    std::map<std::wstring, std::wstring> m_mapComponent;                         // component -> directory
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> m_mapDirectory;  // key -> (parent, DefaultDir)
    std::vector<std::wstring> m_vecBadFile;
    std::vector<std::wstring> m_vecMissFile;
    std::vector<std::wstring> m_vecCheckFile;
    int32_t SumCheck = 0;
    int32_t m_nProductType = 0;
    std::wstring m_strCommonFiles64;
    std::wstring m_strCommonFiles;
    std::wstring m_strCommonAppData;

private:
    bool RootFolder(const std::wstring& key, std::wstring& folder) const;
    void LogCheckResult() const;
};
