// What the component repair will do, worked out from the repair list and
// what the engine found of each entry's packages: which products, in which
// order, by which action, from which package. Nothing here touches the
// machine or the log; the repair then carries the steps out in order and
// stops at the first that fails.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Brisalen/CheckPlan.h"

struct RepairEntryFacts {
    ST_MSI_PRODUCT_REPAIR_INFO entry;
    bool localPackageExists = false;
    // The entry's package in the installer folder, when the cached one is
    // gone and the folder holds one.
    std::optional<std::wstring> folderPackage;
};

enum class RepairAction {
    Reinstall,  // a damaged product: uninstalled and installed again
    Install,    // a missing product
    NoPackage,  // no package to act with: the repair fails here
    Unknown,    // an entry of no kind the repair knows: it fails here
};

struct RepairStep {
    ST_MSI_PRODUCT_REPAIR_INFO entry;
    RepairAction action = RepairAction::Install;
    std::wstring package;  // empty for NoPackage
};

// The steps in the list's order; a bad-only repair passes the missing
// products by, disabled entries are no step. A step that can only fail is
// the last: nothing after it runs.
std::vector<RepairStep> PlanRepair(const std::vector<RepairEntryFacts>& entries, bool badOnly);
