#include "Brisalen/UninstallFacts.h"

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/MsiEnum.h"
#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"

std::vector<FamilyProductFacts> ReadFamilyProducts(CMsiEnum& products) {
    products.LoadAllInstallProduct(false);
    std::vector<FamilyProductFacts> family;
    for (const auto& entry : products.ItunesProducts()) {
        const ST_MSI_PRODUCT_RAW_DATA& record = entry.second;
        FamilyProductFacts product;
        product.type = record.nProductTypeCopy;
        product.code = record.strProductCode;
        product.name = ProductProperty(record, L"ProductName");
        product.location = ProductProperty(record, L"InstallLocation");
        family.push_back(std::move(product));
    }
    return family;
}

std::set<std::wstring> ResidualCandidates(const CCollectDirMgr& folders, const ProductRemovalPlan& plan) {
    std::set<std::wstring> candidates = plan.queuedFolders;
    folders.CollectAppleProgramFolders(candidates);
    return candidates;
}

std::vector<ResidualFolderFacts> JudgeResidualFolders(platform::Platform& os, const std::set<std::wstring>& candidates,
                                                      const std::vector<std::wstring>& leavingCodes) {
    const DeletionGuard guard(os, leavingCodes);
    std::vector<ResidualFolderFacts> judged;
    for (const std::wstring& folder : candidates) {
        ResidualFolderFacts facts;
        facts.folder = folder;
        facts.exists = FileExists(os.Files(), folder);
        std::wstring canonical;
        if (facts.exists) facts.guardAllows = guard.AllowsProductTree(folder, canonical);
        judged.push_back(std::move(facts));
    }
    return judged;
}

std::vector<std::vector<std::wstring>> ListResidualFiles(platform::IFileSystem& fs,
                                                         const std::vector<std::wstring>& folders) {
    std::vector<std::vector<std::wstring>> listed;
    for (const std::wstring& folder : folders) {
        if (!FileExists(fs, folder) || IsLink(fs, folder)) continue;
        std::vector<std::wstring> files;
        ListFilesRecursive(fs, folder, files);
        listed.push_back(std::move(files));
    }
    return listed;
}
