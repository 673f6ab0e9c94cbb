// The Windows folders the library works in, resolved once, the six roots
// of the iTunes user data, and the Apple program folders on the machine.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "Brisalen/PlistNode.h"
#include "include/Brisalen.h"
#include "platform/Platform.h"

class CCollectDirMgr {
public:
    static CCollectDirMgr& Instance();
    explicit CCollectDirMgr(platform::Platform& os);

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

    // iOS device backups. ParseBackupDir is true when the folder is laid out
    // as a backup; it then fills the record's path, device fields, date and
    // size (nId and bValid are the caller's) and logs what it found. A
    // backup whose property lists cannot be read is still a backup.
    bool ParseBackupDir(ST_ITUNES_USER_DATA_ITEM& item, const std::wstring& folder) const;
    // Ten folders of two-character names or ten files of 40 (hashed names)
    // among the folder's first 300 entries.
    bool IsBackupLayout(const std::wstring& folder) const;
    // Takes "Date" (when the record has no date yet) and the device fields
    // of "Lockdown" from one property list. False when the file gives no
    // dictionary; the record is then untouched.
    bool ReadBackupPlist(ST_ITUNES_USER_DATA_ITEM& item, const std::wstring& file) const;
    // The property list in the file, binary or XML, or none for a missing,
    // empty, damaged or hostile file and one above kMaxPlistFileBytes
    // (which is not read).
    PlistPtr LoadPlistFile(const std::wstring& file) const;

private:
    void DateFromCreationTime(ST_ITUNES_USER_DATA_ITEM& item, const std::wstring& folder) const;
    void DateFromPlistDate(ST_ITUNES_USER_DATA_ITEM& item) const;
    void CollectAppleFoldersUnder(const std::wstring& programFiles, std::set<std::wstring>& folders) const;

    platform::Platform& m_os;

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
