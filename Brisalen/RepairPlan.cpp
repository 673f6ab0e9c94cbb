#include "Brisalen/RepairPlan.h"

std::vector<RepairStep> PlanRepair(const std::vector<RepairEntryFacts>& entries, bool badOnly) {
    std::vector<RepairStep> steps;
    for (const RepairEntryFacts& facts : entries) {
        if (!facts.entry.bEnabled) continue;
        if (badOnly && facts.entry.nKind == kRepairKindMissing) continue;
        RepairStep step;
        step.entry = facts.entry;
        if (facts.localPackageExists) {
            step.package = facts.entry.strLocalPackage;
        } else if (facts.folderPackage) {
            step.package = *facts.folderPackage;
        }
        if (step.package.empty()) {
            step.action = RepairAction::NoPackage;
        } else if (facts.entry.nKind == kRepairKindDamaged) {
            step.action = RepairAction::Reinstall;
        } else if (facts.entry.nKind == kRepairKindMissing) {
            step.action = RepairAction::Install;
        } else {
            step.action = RepairAction::Unknown;
        }
        const bool last = step.action == RepairAction::NoPackage || step.action == RepairAction::Unknown;
        steps.push_back(std::move(step));
        if (last) break;
    }
    return steps;
}
