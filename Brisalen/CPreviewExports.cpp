// The C interface's previews: the plans the tasks start from, worked out on
// the machine as it stands and handed to the host. Nothing here changes the
// machine. A preview is refused while a task that shares its data runs,
// since it reads the same tables the task rebuilds.
#include "Brisalen/CHandout.h"
#include "Brisalen/CRecords.h"
#include "Brisalen/ItunesCheck.h"
#include "Brisalen/LibraryContext.h"
#include "Brisalen/NeverThrow.h"
#include "Brisalen/OneKeyuninstall.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "include/BrisalenC.h"
#include "logging/Log.h"

namespace {

int32_t RepairActionCode(RepairAction action) {
    switch (action) {
        case RepairAction::Reinstall: return BRISALEN_REPAIR_REINSTALL;
        case RepairAction::Install: return BRISALEN_REPAIR_INSTALL;
        case RepairAction::NoPackage: return BRISALEN_REPAIR_NO_PACKAGE;
        case RepairAction::Unknown: break;
    }
    return BRISALEN_REPAIR_UNKNOWN;
}

bool Refused(bool busy, const wchar_t* preview) {
    if (busy) LOG_INFO_W(L"[%s] fail! because a task that shares its data is runing!\n", preview);
    return busy;
}

}  // namespace

extern "C" {

BRISALEN_C_API const BRISALEN_UNINSTALL_PREVIEW* BRISALEN_CALL BrisalenPreviewOneKeyUninstall(int32_t bDeleteUserData) {
    return NeverThrow<const BRISALEN_UNINSTALL_PREVIEW*>(nullptr, [&] {
        return HandOutRecord<BRISALEN_UNINSTALL_PREVIEW>([&](BRISALEN_UNINSTALL_PREVIEW& record, CRecordBlock& block) {
            COneKeyuninstall& uninstall = COneKeyuninstall::Instance();
            if (Refused(uninstall.IsRunning() || CItunesCheck::Instance().IsBusy(), L"PreviewOneKeyUninstall")) {
                return false;
            }
            const UninstallPreview preview = uninstall.Preview(bDeleteUserData != 0);
            record.nStepCount = static_cast<uint32_t>(preview.steps.size());
            BRISALEN_UNINSTALL_STEP* steps = block.Records<BRISALEN_UNINSTALL_STEP>(preview.steps.size());
            for (size_t i = 0; i < preview.steps.size(); ++i) {
                const FamilyProductFacts& product = preview.steps[i].product;
                steps[i].nType = product.type;
                steps[i].nAction = BRISALEN_STEP_UNINSTALL;
                steps[i].pszProductName = block.Keep(product.name);
                steps[i].pszProductCode = block.Keep(product.code);
                steps[i].pszInstallLocation = block.Keep(product.location);
            }
            record.pSteps = steps;
            record.residualFolders = block.Strings(preview.residualFolders);
            record.programs = block.Strings(preview.programs);
            record.paths = ToCRecord(preview.paths, block);
            record.userDataFolders = block.Strings(preview.userDataFolders);
            record.bStoreEdition = ToCTruth(preview.storeEdition);
            return true;
        });
    });
}

BRISALEN_C_API const BRISALEN_DELETION_PREVIEW* BRISALEN_CALL
BrisalenPreviewUserDataDeletion(const int32_t* pCategories, uint32_t nCategoryCount, const int32_t* pItems,
                                uint32_t nItemCount) {
    return NeverThrow<const BRISALEN_DELETION_PREVIEW*>(nullptr, [&] {
        return HandOutRecord<BRISALEN_DELETION_PREVIEW>([&](BRISALEN_DELETION_PREVIEW& record, CRecordBlock& block) {
            CItunesUserDataMgr& manager = CItunesUserDataMgr::Instance();
            if (Refused(manager.IsScanning() || manager.IsDeleting(), L"PreviewUserDataDeletion")) return false;
            int64_t total = 0;
            const std::vector<UserDataFileSetEntry> entries = manager.PreviewDeletion(
                FromCArray(pCategories, nCategoryCount), FromCArray(pItems, nItemCount), &total);
            record.nTotalSize = total;
            record.paths = ToCRecord(entries, block);
            return true;
        });
    });
}

BRISALEN_C_API const BRISALEN_REPAIR_PREVIEW* BRISALEN_CALL BrisalenPreviewRepair(int32_t bBadOnly,
                                                                                  const wchar_t* pszPackageFolder) {
    return NeverThrow<const BRISALEN_REPAIR_PREVIEW*>(nullptr, [&] {
        return HandOutRecord<BRISALEN_REPAIR_PREVIEW>([&](BRISALEN_REPAIR_PREVIEW& record, CRecordBlock& block) {
            CItunesCheck& check = CItunesCheck::Instance();
            if (Refused(check.IsBusy() || COneKeyuninstall::Instance().IsRunning(), L"PreviewRepair")) return false;
            std::wstring folder = FromCString(pszPackageFolder);
            if (bBadOnly == 0) {
                // As the repair's start: a folder that is not there is refused.
                NormalizePath(folder);
                if (!FileExists(LibraryPlatform().Files(), folder)) {
                    LOG_INFO_W(L"package [%s]not exist!\n", folder);
                    return false;
                }
            } else {
                folder.clear();
            }
            const std::vector<RepairStep> steps = check.PreviewCheckAndRepair(bBadOnly != 0, folder);
            record.nCount = static_cast<uint32_t>(steps.size());
            BRISALEN_REPAIR_STEP* items = block.Records<BRISALEN_REPAIR_STEP>(steps.size());
            for (size_t i = 0; i < steps.size(); ++i) {
                items[i].nType = steps[i].entry.nType;
                items[i].nKind = steps[i].entry.nKind;
                items[i].nAction = RepairActionCode(steps[i].action);
                items[i].pszProductCode = block.Keep(steps[i].entry.strProductCode);
                items[i].pszPackage = block.Keep(steps[i].package);
            }
            record.pItems = items;
            return true;
        });
    });
}

}  // extern "C"
