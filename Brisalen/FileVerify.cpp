#include "Brisalen/FileVerify.h"

#include "Brisalen/ItunesRegistry.h"
#include "Brisalen/MsiDB.h"
#include "Brisalen/MsiEnum.h"
#include "common/DeletionGuard.h"
#include "common/PathHelpers.h"
#include "common/ProcessControl.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

bool CFileVerify::VerifyByFi(const std::wstring& fiPath, const std::wstring& installDir) {
    // "ERR: 该功能已废弃!" ("this function is retired") as GBK bytes, as it
    // was always logged, whatever the machine's code page.
    LOG_INFO_A("ERR: \xB8\xC3\xB9\xA6\xC4\xDC\xD2\xD1\xB7\xCF\xC6\xFA!");
    return true;
}

bool CFileVerify::VerifyByMsi(int productType, const std::wstring& packagePath, const std::wstring& installDir,
                              int& checkedCount, std::vector<std::wstring>& badFiles,
                              std::vector<std::wstring>& missFiles) {
    CMsiDB package(m_os, m_folders);
    if (!package.Init(packagePath)) return false;
    if (!package.CheckItunesProductFile(productType, installDir, checkedCount, badFiles, missFiles)) return false;
    std::lock_guard<std::mutex> lock(m_lock);
    m_mapProductFiles[productType] = package.m_vecCheckFile;
    return true;
}

std::vector<std::wstring> CFileVerify::ProductFiles(int productType) const {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto entry = m_mapProductFiles.find(productType);
    return entry == m_mapProductFiles.end() ? std::vector<std::wstring>() : entry->second;
}

void CFileVerify::DeleteProductInstallFiles(int productType) {
    LOG_INFO_W(L"[DeleteProductInstallFiles]:%s... \n", ProductTypeName(productType));
    platform::IFileSystem& files = m_os.Files();
    const DeletionGuard guard(m_os);
    std::vector<std::wstring> leftovers;
    std::vector<std::wstring> programNames;
    int found = 0;
    for (const std::wstring& listed : ProductFiles(productType)) {
        if (!FileExists(files, listed)) continue;
        ++found;
        // The list comes from a package; a name that climbs out of its
        // folder or lands in Windows is refused and counts as gone.
        std::wstring path;
        if (!guard.AllowsFile(listed, path)) continue;
        files.DeleteFile(path);
        if (!FileExists(files, path)) continue;
        leftovers.push_back(path);
        const std::wstring name = AsciiLower(GetFileNameFromPath(path));
        if (name.find(L".exe") != std::wstring::npos) programNames.push_back(name);
        LOG_INFO_W(L"WARN:File [%s] Can not be deleted!", path);
    }
    if (found > 0 && !leftovers.empty()) {
        LOG_INFO_W(L"Has delete %d Files, still has %d File Can not be delete!", found, leftovers.size());
    }
    // A leftover executable is most likely still running and holding the
    // rest; libraries alone give no process name to end.
    if (!programNames.empty()) {
        LOG_INFO_W(L"There are [%d] exe files in Residual file,try terminater their process...", programNames.size());
        KillProcessByPartName(m_os, programNames);
        LOG_INFO_W(L"delete Residual file again..\n");
        for (const std::wstring& path : leftovers) {
            if (!FileExists(files, path)) continue;
            files.DeleteFile(path);
            if (FileExists(files, path)) {
                LOG_INFO_W(L"ERR:File[%s]still can not delete !", path);
            } else {
                LOG_INFO_W(L"File[%s] has delete SUCCESS!!!", path);
            }
        }
    }
    if (productType == kProductItunes) ClearItunesInfoReg(m_os.Registry());
    LOG_INFO_W(L"[DeleteProductInstallFiles] end!");
}
