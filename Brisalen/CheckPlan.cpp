#include "Brisalen/CheckPlan.h"

#include "Brisalen/MsiEnum.h"
#include "include/Brisalen.h"

namespace {

SkipReason SkipOnThisMachine(const CheckMachineFacts& machine, int type) {
    if (type == kProductAppleApplicationSupport64 && !machine.windows64) return SkipReason::NoWindows64;
    if (type == kProductBonjour && machine.itunesVersion.find(L"12.7.0") != std::wstring::npos) {
        return SkipReason::BonjourNotNeeded;
    }
    return SkipReason::None;
}

ST_MSI_PRODUCT_REPAIR_INFO RepairEntry(const ProductCheckFacts& product, int32_t kind) {
    ST_MSI_PRODUCT_REPAIR_INFO entry;
    entry.nType = product.type;
    entry.nKind = kind;
    if (product.installed) {
        entry.strInstallLocation = product.installed->location;
        entry.strProductCode = product.installed->code;
        entry.strLocalPackage = product.installed->localPackage;
        entry.strPackageName = product.installed->packageName;
    }
    return entry;
}

}  // namespace

ProductCheckPlan PlanProductCheck(const CheckMachineFacts& machine, const ProductCheckFacts& product) {
    ProductCheckPlan plan;
    plan.type = product.type;
    plan.skip = SkipOnThisMachine(machine, product.type);
    if (plan.skip != SkipReason::None) {
        plan.verdict = CheckVerdict::Skipped;
        return plan;
    }
    if (!product.installed || product.installed->location.empty()) {
        if (product.installed) plan.unregisterCode = product.installed->code;
        plan.verdict = CheckVerdict::Missing;
        plan.needPackage = true;
        plan.repair = RepairEntry(product, kRepairKindMissing);
        return plan;
    }
    plan.needPackage = !product.installed->localPackageExists;
    if (!product.files) {
        plan.verdict = CheckVerdict::FilesToCheck;
        return plan;
    }
    if (!product.files->verified) {
        plan.verdict = CheckVerdict::NotVerifiable;
        return plan;
    }
    plan.files = product.files->bad;
    plan.files.insert(plan.files.end(), product.files->missing.begin(), product.files->missing.end());
    if (plan.files.empty()) {
        plan.verdict = CheckVerdict::Sound;
        return plan;
    }
    plan.verdict = CheckVerdict::Damaged;
    plan.repair = RepairEntry(product, kRepairKindDamaged);
    return plan;
}
