#include "Brisalen/UninstallPlan.h"

#include <algorithm>

#include "Brisalen/ItunesRegistry.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"

ProductRemovalPlan PlanProductRemoval(std::vector<FamilyProductFacts> products) {
    std::stable_sort(products.begin(), products.end(),
                     [](const FamilyProductFacts& a, const FamilyProductFacts& b) { return a.type < b.type; });
    ProductRemovalPlan plan;
    for (size_t i = 0; i < products.size(); ++i) {
        ProductRemovalStep step;
        step.position = static_cast<int>(i + 1);
        step.product = products[i];
        step.folder = products[i].location;
        NormalizePath(step.folder);
        AsciiLowerInPlace(step.folder);
        // An empty location stays queued: nothing exists under that name,
        // so nothing acts on it.
        step.queuesFolder = MayDeleteInstallDir(step.product.type, step.folder);
        if (step.queuesFolder) plan.queuedFolders.insert(step.folder);
        plan.leavingCodes.push_back(step.product.code);
        plan.steps.push_back(std::move(step));
    }
    return plan;
}

std::vector<std::wstring> PlanResidualFolders(const std::vector<ResidualFolderFacts>& candidates) {
    std::vector<std::wstring> folders;
    for (const ResidualFolderFacts& candidate : candidates) {
        if (candidate.exists && candidate.guardAllows) folders.push_back(candidate.folder);
    }
    return folders;
}

std::set<std::wstring> PlanLeftoverDeletion(const std::vector<std::vector<std::wstring>>& listed) {
    std::set<std::wstring> paths;
    for (const std::vector<std::wstring>& folder : listed) {
        for (std::wstring path : folder) {
            NormalizePath(path);
            AsciiLowerInPlace(path);
            paths.insert(std::move(path));
        }
    }
    return paths;
}
