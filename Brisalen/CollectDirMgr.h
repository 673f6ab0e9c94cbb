// The Windows folders the library works in, resolved once, the six roots
// of the iTunes user data, and the Apple program folders on the machine.
#pragma once

#include <set>
#include <string>
#include <vector>

class CCollectDirMgr {
public:
    static CCollectDirMgr& Instance();
    CCollectDirMgr();

    std::wstring GetAppDataDir() const { return m_strAppData; }
    std::wstring GetLocalAppDataDir() const { return m_strLocalAppData; }
    std::wstring GetMyMusicDir() const { return m_strMyMusic; }
    std::wstring GetProgramDataDir() const { return m_strProgramData; }
    std::wstring GetProgramFilesDir() const { return m_strProgramFiles; }
    std::wstring GetProgramFilesX86Dir() const { return m_strProgramFilesX86; }
    std::wstring GetCommonFilesDir() const { return m_strCommonFiles; }
    std::wstring GetCommonFilesX86Dir() const { return m_strCommonFilesX86; }
    std::vector<std::wstring> GetScanRoots() const { return m_vecScanRoots; }

    // Adds the existing Apple program folders, lower-cased, to `folders`.
    void CollectAppleProgramFolders(std::set<std::wstring>& folders) const;

private:
    static void CollectAppleFoldersUnder(const std::wstring& programFiles, std::set<std::wstring>& folders);

    std::wstring m_strAppData;
    std::wstring m_strLocalAppData;
    std::wstring m_strMyMusic;
    std::wstring m_strProgramData;
    std::wstring m_strProgramFiles;
    std::wstring m_strProgramFilesX86;
    std::wstring m_strCommonFiles;
    std::wstring m_strCommonFilesX86;
    std::vector<std::wstring> m_vecScanRoots;
};
