#include "Brisalen/CollectDirMgr.h"

#include <cstdlib>
#include <memory>

#include "Brisalen/ConfigMgr.h"
#include "Brisalen/PlistParser.h"
#include "common/FileHelpers.h"
#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/KnownFolders.h"
#include "platform/Platform.h"

namespace {

using namespace platform::csidl;

// Seconds from 1970-01-01 to 2001-01-01, where property-list dates count from.
constexpr int64_t kAppleEpochFromUnix = 978307200;
// 100-nanosecond intervals from 1601-01-01 (FILETIME) to 1970-01-01.
constexpr int64_t kFileTimeOfUnixEpoch = 116444736000000000;
// A backup is recognised within its first entries or not at all: the scan
// asks this of every folder on the disks.
constexpr int kLayoutEntryLimit = 300;
constexpr int kLayoutMarkCount = 10;

struct MallocFree {
    void operator()(void* block) const { std::free(block); }
};

// Dates are stored as 32-bit values, as the backups' readers always have.
int64_t KeptTo32Bits(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

std::wstring DateText(const platform::LocalTime& time) {
    return FormatString(L"%d-%02d-%02d", time.year, time.month, time.day);
}

// The string under `key` of a dictionary; empty when it is missing or no string.
std::wstring StringItem(platform::ICodePages& codePages, plist_t dict, const char* key) {
    return Utf8ToWide(codePages, PlistStringValue(plist_dict_get_item(dict, key)));
}

// A 32-bit process is told the x86 folder for both Program Files; rebuild
// the pair from the drive the folder is on.
void SplitProgramFilesPair(std::wstring& programFiles, std::wstring& programFilesX86) {
    const size_t cut = programFiles.rfind(L'\\');
    const std::wstring parent = cut == std::wstring::npos ? std::wstring() : programFiles.substr(0, cut);
    programFilesX86 = parent + L"\\Program Files (x86)";
    programFiles = parent + L"\\Program Files";
}

void InsertIfExists(platform::IFileSystem& files, const std::wstring& folder, const wchar_t* name,
                    std::set<std::wstring>& folders) {
    std::wstring candidate = folder + L"\\" + name;
    NormalizePath(candidate);
    candidate = AsciiLower(candidate);
    if (FileExists(files, candidate)) folders.insert(candidate);
}

}  // namespace

CCollectDirMgr::CCollectDirMgr(platform::Platform& os) : m_os(os) {
    platform::IMachineInfo& machine = os.Machine();
    m_strAppData = GetSpecialFolder(machine, kAppData);
    m_strLocalAppData = GetSpecialFolder(machine, kLocalAppData);
    m_strMyMusic = GetSpecialFolder(machine, kMyMusic);
    m_strProgramData = GetSpecialFolder(machine, kCommonAppData);
    m_strProgramFiles = GetSpecialFolder(machine, kProgramFiles);
    m_strProgramFilesX86 = GetSpecialFolder(machine, kProgramFilesX86);
    if (COsInfo(machine).bIsWow64 && m_strProgramFiles == m_strProgramFilesX86) {
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
    std::wstring programFiles = GetSpecialFolder(m_os.Machine(), kProgramFiles);
    std::wstring programFilesX86 = GetSpecialFolder(m_os.Machine(), kProgramFilesX86);
    if (programFiles == programFilesX86) SplitProgramFilesPair(programFiles, programFilesX86);
    if (FileExists(m_os.Files(), programFiles)) CollectAppleFoldersUnder(programFiles, folders);
    if (FileExists(m_os.Files(), programFilesX86)) CollectAppleFoldersUnder(programFilesX86, folders);
}

void CCollectDirMgr::CollectAppleFoldersUnder(const std::wstring& programFiles, std::set<std::wstring>& folders) const {
    platform::IFileSystem& files = m_os.Files();
    for (const wchar_t* name : {L"iTunes", L"Bonjour", L"iPod"}) InsertIfExists(files, programFiles, name, folders);
    const std::wstring appleCommon = programFiles + L"\\Common Files\\Apple";
    if (!FileExists(files, appleCommon)) return;
    for (const wchar_t* name : {L"Mobile Device Support", L"Apple Application Support", L"CoreFP"}) {
        InsertIfExists(files, appleCommon, name, folders);
    }
}

bool CCollectDirMgr::IsBackupLayout(const std::wstring& folder) const {
    platform::FindData entry;
    auto search = m_os.Files().FindFirst(FormatString(L"%s\\*.*", folder), entry);
    if (!search) return false;
    int entries = 0;
    int shortFolders = 0;
    int longFiles = 0;
    do {
        if (entry.name == L"." || entry.name == L"..") continue;
        ++entries;
        if (entry.IsDirectory()) {
            if (entry.name.size() == 2) ++shortFolders;
        } else if (entry.name.size() == 40) {
            ++longFiles;
        }
        if (shortFolders >= kLayoutMarkCount || longFiles >= kLayoutMarkCount) return true;
        if (entries >= kLayoutEntryLimit) return false;
    } while ((*search)->Next(entry));
    return false;
}

bool CCollectDirMgr::ParseBackupDir(ST_ITUNES_USER_DATA_ITEM& item, const std::wstring& folder) const {
    const std::wstring manifest = FormatString(L"%s\\Manifest.plist", folder);
    const std::wstring info = FormatString(L"%s\\Info.plist", folder);
    if (!IsBackupLayout(folder)) return false;
    item.strPath = folder;
    if (FileExists(m_os.Files(), manifest)) ReadBackupPlist(item, manifest);
    // Info.plist goes second, so what it has wins.
    if (FileExists(m_os.Files(), info)) ReadBackupPlist(item, info);
    if (item.nDate == 0) {
        DateFromCreationTime(item, folder);
    } else {
        DateFromPlistDate(item);
    }
    item.nSize = static_cast<int64_t>(GetDirSize(m_os.Files(), folder));
    LOG_INFO_W(L"backup:[%s][%s][%s][%s][%s] => [%s]\n", item.strDeviceName, item.strVersion, item.strDeviceId,
               FormatFileSize(item.nSize), item.strDate, folder);
    return true;
}

// The creation day of the first of the backup's own files that exists, in
// local time; a file whose time cannot be read or converted is passed over.
void CCollectDirMgr::DateFromCreationTime(ST_ITUNES_USER_DATA_ITEM& item, const std::wstring& folder) const {
    platform::IFileSystem& files = m_os.Files();
    platform::IProcessEnv& process = m_os.Process();
    for (const wchar_t* name : {L"manifest.db", L"Manifest.mbdb", L"Info.plist", L"Status.plist", L"Manifest.plist"}) {
        const std::wstring file = FormatString(L"%s\\%s", folder, name);
        if (!FileExists(files, file)) continue;
        const auto attributes = files.GetAttributesEx(file);
        platform::LocalTime local;
        local.year = 0;
        if (!attributes || !process.FileTimeToLocalTime((*attributes).creationTime, local)) continue;
        if (local.year <= 0) continue;
        item.strDate = DateText(local);
        // The local time read back as if it were UTC: seconds of the local
        // calendar, which is how the date has always been kept.
        uint64_t localFileTime = 0;
        if (process.SystemTimeToFileTime(local, localFileTime)) {
            item.nDate = KeptTo32Bits((static_cast<int64_t>(localFileTime) - kFileTimeOfUnixEpoch) / 10000000);
        }
        return;
    }
}

void CCollectDirMgr::DateFromPlistDate(ST_ITUNES_USER_DATA_ITEM& item) const {
    platform::LocalTime local;
    if (m_os.Process().UnixTimeToLocalTime(item.nDate, local)) item.strDate = DateText(local);
}

bool CCollectDirMgr::ReadBackupPlist(ST_ITUNES_USER_DATA_ITEM& item, const std::wstring& file) const {
    const PlistPtr root = LoadPlistFile(file);
    if (root == nullptr || plist_get_node_type(root.get()) != PLIST_DICT) return false;
    if (item.nDate == 0) {
        plist_t date = plist_dict_get_item(root.get(), "Date");
        int32_t seconds = 0;
        if (PlistDateSeconds(date, seconds)) {
            if (seconds > 0) item.nDate = KeptTo32Bits(int64_t{seconds} + kAppleEpochFromUnix);
        } else if (date != nullptr && plist_get_node_type(date) == PLIST_DATE) {
            LOG_INFO_W(L"WARN:plist [%s]: Date beyond what 32-bit seconds hold, not used\n", file);
        }
    }
    plist_t lockdown = plist_dict_get_item(root.get(), "Lockdown");
    if (lockdown != nullptr && plist_get_node_type(lockdown) == PLIST_DICT) {
        item.strDeviceName = StringItem(m_os.CodePages(), lockdown, "DeviceName");
        item.strVersion = StringItem(m_os.CodePages(), lockdown, "ProductVersion");
        item.strDeviceId = StringItem(m_os.CodePages(), lockdown, "UniqueDeviceID");
    }
    return true;
}

PlistPtr CCollectDirMgr::LoadPlistFile(const std::wstring& file) const {
    uint64_t size = 0;
    const std::unique_ptr<char, MallocFree> data(ReadWholeFile(m_os.Files(), file, &size, kMaxPlistFileBytes));
    if (data == nullptr) {
        LOG_INFO_W(L"WARN:plist [%s] not read: missing, empty, unreadable or above %s\n", file,
                   FormatFileSize(static_cast<int64_t>(kMaxPlistFileBytes)));
        return nullptr;
    }
    CPlistParser parser;
    PlistPtr root = parser.Parse(data.get(), static_cast<size_t>(size));
    if (root == nullptr) LOG_INFO_W(L"WARN:plist [%s] refused: %s\n", file, Utf8ToWide(m_os.CodePages(), parser.Why()));
    return root;
}
