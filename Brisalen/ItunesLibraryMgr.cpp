#include "Brisalen/ItunesLibraryMgr.h"

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/GoneMediaRule.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"

namespace {

// Locations of files on this machine; anything else (a web address, a
// cloud entry) is not ours to judge.
constexpr wchar_t kLocalPrefix[] = L"file://localhost/";
constexpr size_t kLocalPrefixLength = sizeof(kLocalPrefix) / sizeof(kLocalPrefix[0]) - 1;

}  // namespace

CItunesLibraryMgr::CItunesLibraryMgr(platform::Platform& os, const CCollectDirMgr& folders)
    : m_os(os),
      m_companion(os),
      m_strItlPath(FormatString(L"%s\\itunes\\iTunes Library.itl", folders.GetMyMusicDir())) {}

bool CItunesLibraryMgr::Init() {
    // Handles of the old object die with it, so the map goes first.
    m_mapMedia.clear();
    m_library.reset();
    m_library = m_companion.Create();
    LOG_INFO_W(L"解析ITL:%s...\n", m_strItlPath);
    if (!m_library) return false;
    if (!FileExists(m_os.Files(), m_strItlPath)) {
        LOG_INFO_W(L"WARN:itl文件不存在![%s]\n", m_strItlPath);
        return false;
    }
    const ITL::ITL_SE_ERROR read = m_companion.Read(*m_library, m_strItlPath);
    if (read != ITL::ITL_SE_OK) {
        if (read == ITL::ITL_SE_NESTED_TOO_DEEPLY) {
            LOG_INFO_W(L"ERR:itl file [%s] is nested too deeply to be read, left as it is\n", m_strItlPath);
        }
        LOG_INFO_W(L"解析ITL失败!\n");
        return false;
    }
    m_companion.EnumMediaBlock(*m_library, &CItunesLibraryMgr::MediaFilterCallback, this);
    return true;
}

bool CItunesLibraryMgr::MediaFilterCallback(ITL::eEnumAndDeleteItunesState state, std::string text, void* block,
                                            void* context) {
    auto& self = *static_cast<CItunesLibraryMgr*>(context);
    switch (state) {
        case ITL::eEnumItunesBegin:
            LOG_INFO_W(L"枚举ITL所有媒体文件:%s...\n", Utf8ToWide(self.m_os.CodePages(), text));
            break;
        case ITL::eEnumItunesMedia: self.OnFindMedia(text, block); break;
        case ITL::eEnumItunesEnd: LOG_INFO_W(L"枚举ITL结束!\n"); break;
    }
    return true;
}

void CItunesLibraryMgr::OnFindMedia(std::string location, void* block) {
    const std::wstring decoded = Utf8ToWide(m_os.CodePages(), UrlDecode(location));
    if (decoded.compare(0, kLocalPrefixLength, kLocalPrefix) != 0) return;
    std::wstring path = decoded.substr(kLocalPrefixLength);
    if (path.empty()) return;
    LOG_INFO_W(L"FIND [%s] total = %d\n", path, static_cast<int>(m_mapMedia.size()));
    m_mapMedia[block] = std::move(path);
}

bool CItunesLibraryMgr::UpdateItunesLibrary(const std::set<std::wstring>& removedFolders) {
    Init();
    CGoneMediaRule rule(m_os, removedFolders);
    bool changed = false;
    for (auto it = m_mapMedia.begin(); it != m_mapMedia.end();) {
        if (!rule.IsGone(it->second)) {
            ++it;
            continue;
        }
        LOG_INFO_W(L"即将删除媒体信息:%s...\n", it->second);
        changed = true;
        void* const block = it->first;
        it = m_mapMedia.erase(it);
        m_companion.RemoveMediaBlock(*m_library, block);
    }
    if (!changed) {
        LOG_INFO_W(L"WARN:没有本地媒体被删除,不需要更新ITL文件!\n");
        return false;
    }
    WriteBack();
    return changed;
}

void CItunesLibraryMgr::WriteBack() {
    switch (m_companion.Write(*m_library, m_strItlPath)) {
        case ITL::ITL_SE_OK: LOG_INFO_W(L"已更新ITL文件成功!\n"); return;
        case ITL::ITL_SE_READ_ONLY:
            LOG_INFO_W(L"WARN:itl file [%s] is read-only, left as it is\n", m_strItlPath);
            break;
        case ITL::ITL_SE_IN_USE:
            LOG_INFO_W(L"WARN:itl file [%s] is held by another process, left as it is\n", m_strItlPath);
            break;
        default: break;
    }
    LOG_INFO_W(L"已更新ITL文件失败!\n");
}
