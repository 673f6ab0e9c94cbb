#include "Brisalen/CollectDirMgr.h"
#include "common/Singleton.h"

#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "platform/KnownFolders.h"

namespace {

using namespace platform::csidl;

// A 32-bit process is told the x86 folder for both Program Files; rebuild
// the pair from the drive the folder is on.
void SplitProgramFilesPair(std::wstring& programFiles, std::wstring& programFilesX86) {
    const size_t cut = programFiles.rfind(L'\\');
    const std::wstring parent = cut == std::wstring::npos ? std::wstring() : programFiles.substr(0, cut);
    programFilesX86 = parent + L"\\Program Files (x86)";
    programFiles = parent + L"\\Program Files";
}

void InsertIfExists(const std::wstring& folder, const wchar_t* name, std::set<std::wstring>& folders) {
    std::wstring candidate = folder + L"\\" + name;
    NormalizePath(candidate);
    candidate = AsciiLower(candidate);
    if (FileExists(candidate)) folders.insert(candidate);
}

}  // namespace

CCollectDirMgr& CCollectDirMgr::Instance() { return Singleton<CCollectDirMgr>::Instance(); }

CCollectDirMgr::CCollectDirMgr() {
    m_strAppData = GetSpecialFolder(kAppData);
    m_strLocalAppData = GetSpecialFolder(kLocalAppData);
    m_strMyMusic = GetSpecialFolder(kMyMusic);
    m_strProgramData = GetSpecialFolder(kCommonAppData);
    m_strProgramFiles = GetSpecialFolder(kProgramFiles);
    m_strProgramFilesX86 = GetSpecialFolder(kProgramFilesX86);
    if (GetOsInfo().bIsWow64 && m_strProgramFiles == m_strProgramFilesX86) {
        SplitProgramFilesPair(m_strProgramFiles, m_strProgramFilesX86);
    }
    m_strCommonFiles = m_strProgramFiles + L"\\Common Files";
    m_strCommonFilesX86 = m_strProgramFilesX86 + L"\\Common Files";
    m_vecScanRoots = {
        m_strAppData + L"\\Apple Computer",      m_strLocalAppData + L"\\Apple",
        m_strLocalAppData + L"\\Apple Computer", m_strProgramData + L"\\Apple",
        m_strProgramData + L"\\Apple Computer",  m_strMyMusic + L"\\iTunes",
    };
}

void CCollectDirMgr::CollectAppleProgramFolders(std::set<std::wstring>& folders) const {
    std::wstring programFiles = GetSpecialFolder(kProgramFiles);
    std::wstring programFilesX86 = GetSpecialFolder(kProgramFilesX86);
    if (programFiles == programFilesX86) SplitProgramFilesPair(programFiles, programFilesX86);
    if (FileExists(programFiles)) CollectAppleFoldersUnder(programFiles, folders);
    if (FileExists(programFilesX86)) CollectAppleFoldersUnder(programFilesX86, folders);
}

void CCollectDirMgr::CollectAppleFoldersUnder(const std::wstring& programFiles, std::set<std::wstring>& folders) {
    for (const wchar_t* name : {L"iTunes", L"Bonjour", L"iPod"}) InsertIfExists(programFiles, name, folders);
    const std::wstring appleCommon = programFiles + L"\\Common Files\\Apple";
    if (!FileExists(appleCommon)) return;
    for (const wchar_t* name : {L"Mobile Device Support", L"Apple Application Support", L"CoreFP"}) {
        InsertIfExists(appleCommon, name, folders);
    }
}
