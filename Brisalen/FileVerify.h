// Whether the files of one installed product are present and sound, and the
// list of every file each product's package placed, kept for the clean-up
// after an uninstall.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Brisalen/CollectDirMgr.h"
#include "platform/Platform.h"

class CFileVerify {
public:
    static CFileVerify& Instance();
    CFileVerify(platform::Platform& os, const CCollectDirMgr& folders) : m_os(os), m_folders(folders) {}

    // The prepared-list route is retired: it logs so and reports success.
    bool VerifyByFi(const std::wstring& fiPath, const std::wstring& installDir);
    // Compares the product's files with its cached package. True when the
    // package could be read; the two lists then tell what is wrong.
    bool VerifyByMsi(int productType, const std::wstring& packagePath, const std::wstring& installDir,
                     int& checkedCount, std::vector<std::wstring>& badFiles, std::vector<std::wstring>& missFiles);

    // The files the last successful check of that type visited.
    std::vector<std::wstring> ProductFiles(int productType) const;

    // After an uninstall: deletes those files that are still there. Files a
    // running program of the product holds get one more try after the
    // processes named like the leftover executables are ended. For iTunes
    // the install folder and version it records are forgotten as well.
    void DeleteProductInstallFiles(int productType);

private:
    platform::Platform& m_os;
    const CCollectDirMgr& m_folders;

    std::map<int, std::vector<std::wstring>> m_mapProductFiles;
    mutable std::mutex m_lock;
};
