#include "Brisalen/FileVerify.h"

#include "Brisalen/MsiDB.h"
#include "logging/Log.h"

CFileVerify& CFileVerify::Instance() {
    static CFileVerify instance;
    return instance;
}

bool CFileVerify::VerifyByFi(const std::wstring& fiPath, const std::wstring& installDir) {
    // "ERR: this function is retired!" in the GBK code page, as it was always logged.
    LOG_INFO_A("ERR: \xB8\xC3\xB9\xA6\xC4\xDC\xD2\xD1\xB7\xCF\xC6\xFA!");
    return true;
}

bool CFileVerify::VerifyByMsi(int productType, const std::wstring& packagePath, const std::wstring& installDir,
                              int& checkedCount, std::vector<std::wstring>& badFiles,
                              std::vector<std::wstring>& missFiles) {
    CMsiDB package;
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
