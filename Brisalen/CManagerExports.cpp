// The C interface over the two managers: each function calls the manager's
// operation of the same name, so both interfaces share one engine, one task
// slot and one set of log lines; only the records change form on the way.
#include "Brisalen/CHandout.h"
#include "Brisalen/CRecords.h"
#include "Brisalen/CTaskAdapters.h"
#include "Brisalen/NeverThrow.h"
#include "include/Brisalen.h"
#include "include/BrisalenC.h"

namespace {

// A C++ task callback that hands the record on in its C form.
template <typename Callback, typename CxxRecord>
void Relay(void* user, int32_t state, const void* data) {
    auto& adapter = *static_cast<CallbackAdapter<Callback>*>(user);
    CRecordBlock block;
    const auto record = ToCRecord(*static_cast<const CxxRecord*>(data), block);
    adapter.function(adapter.user, state, &record);
    if (state == adapter.finalState) adapter.finished.store(true);
}

bool RelayScan(void* user, int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO* info) {
    auto& adapter = *static_cast<CallbackAdapter<BrisalenEnumCallback>*>(user);
    CRecordBlock block;
    BRISALEN_ENUM_INFO record{};
    BRISALEN_SCAN_PROGRESS progress{};
    if (info != nullptr) {
        record.nCategorySize = info->nCategorySize;
        record.nGroupSize = info->nGroupSize;
        record.nGroup = info->nGroup;
        record.nCategory = info->nCategory;
        record.nCategoryCount = info->nCategoryCount;
        record.nGroupCount = info->nGroupCount;
        if (info->pProgress != nullptr) {
            progress = ToCRecord(*info->pProgress);
            record.pProgress = &progress;
        }
        record.item = ToCRecord(info->item, block);
    }
    const bool result = adapter.function(adapter.user, state, info == nullptr ? nullptr : &record) != 0;
    if (state == adapter.finalState) adapter.finished.store(true);
    return result;
}

bool RelayDeletion(void* user, int32_t state, const ST_ITUNES_DELETE_INFO* info) {
    auto& adapter = *static_cast<CallbackAdapter<BrisalenDeleteCallback>*>(user);
    CRecordBlock block;
    BRISALEN_DELETE_INFO record{};
    if (info != nullptr) record = ToCRecord(*info, block);
    const bool result = adapter.function(adapter.user, state, info == nullptr ? nullptr : &record) != 0;
    if (state == adapter.finalState) adapter.finished.store(true);
    return result;
}

template <typename Callback, typename CxxRecord>
TaskCallback RelayFor(const void* adapter) {
    return adapter == nullptr ? nullptr : &Relay<Callback, CxxRecord>;
}

IFixItunesMgr& RepairManager() { return *CreateFixItuensMgr(); }

// The cancel flag is the one byte the host owns; the managers read and
// clear it as a bool, which has that size and representation on every
// target the library is built for.
static_assert(sizeof(bool) == sizeof(uint8_t), "a cancel flag is one byte");
bool* AsFlag(uint8_t* flag) { return reinterpret_cast<bool*>(flag); }

}  // namespace

extern "C" {

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenIsItunes64Bit(void) {
    return ToCTruth(RepairManager().IsItunes64Bit());
}

BRISALEN_C_API const wchar_t* BRISALEN_CALL BrisalenGetItunesVersion(void) {
    return NeverThrow<const wchar_t*>(nullptr, [] {
        auto block = std::make_unique<CRecordBlock>();
        const wchar_t* text = block->Keep(RepairManager().GetItunesVersion());
        return CHandoutShelf::Instance().HandOut(std::move(block), text);
    });
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenCheckMicrosoftStoreItunes(void) {
    return ToCTruth(RepairManager().CheckMicrosoftStoreItunes());
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenIsOs64Bit(void) { return ToCTruth(RepairManager().IsOs64Bit()); }

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenOpenItunes(void) { return ToCTruth(RepairManager().OpenItunes()); }

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenCheckAllItunesComponent(BrisalenCheckCallback pfn, void* pUser,
                                                                     int32_t bVerifyFiles) {
    return ToCTruth(NeverThrow(false, [&] {
        return StartWithAdapter(pfn, pUser, kCheckItunesProductState_All_CheckComplete, [&](void* adapter) {
            return RepairManager().CheckAllItunesComponent(
                RelayFor<BrisalenCheckCallback, ST_MSI_PRODUCT_UI_INFO>(adapter), adapter, bVerifyFiles != 0);
        });
    }));
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenRepairAllItunesComponent(const wchar_t* pszPackageFolder,
                                                                      BrisalenRepairCallback pfn, void* pUser) {
    return ToCTruth(NeverThrow(false, [&] {
        return StartWithAdapter(pfn, pUser, kRepairItunesState_All_Complete, [&](void* adapter) {
            return RepairManager().RepairAllItunesComponent(
                FromCString(pszPackageFolder), RelayFor<BrisalenRepairCallback, ST_REPAIR_PROGRESS_INFO>(adapter),
                adapter);
        });
    }));
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenRepairBadComponent(BrisalenRepairCallback pfn, void* pUser) {
    return ToCTruth(NeverThrow(false, [&] {
        return StartWithAdapter(pfn, pUser, kRepairItunesState_All_Complete, [&](void* adapter) {
            return RepairManager().RepairBadComponent(
                RelayFor<BrisalenRepairCallback, ST_REPAIR_PROGRESS_INFO>(adapter), adapter);
        });
    }));
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenOneKeyUninstall(BrisalenUninstallCallback pfn, void* pUser,
                                                             int32_t bDeleteUserData, uint8_t* pCancel) {
    return ToCTruth(NeverThrow(false, [&] {
        return StartWithAdapter(pfn, pUser, kOneKeyUninstallState_All_UninstallComplete, [&](void* adapter) {
            return RepairManager().OneKeyUninstall(
                RelayFor<BrisalenUninstallCallback, ST_ONEKEY_UNINSTALL_INFO>(adapter), adapter,
                bDeleteUserData != 0, AsFlag(pCancel));
        });
    }));
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenOneKeyInstall(const wchar_t* pszUnzipFolder, BrisalenInstallCallback pfn,
                                                           void* pUser) {
    return ToCTruth(NeverThrow(false, [&] {
        return StartWithAdapter(pfn, pUser, kOneKeyInstallState_All_Complete, [&](void* adapter) {
            return RepairManager().OneKeyInstall(FromCString(pszUnzipFolder),
                                                 RelayFor<BrisalenInstallCallback, ST_ONEKEY_INSTALL_INFO>(adapter),
                                                 adapter);
        });
    }));
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenEnumItunesUserData(BrisalenEnumCallback pfn, void* pUser,
                                                                int32_t bDeepScan, uint8_t* pCancel) {
    return ToCTruth(NeverThrow(false, [&] {
        IItunesUserDataMgr* manager = CreateItunesUserDataMgr();
        if (manager == nullptr) return false;
        return StartWithAdapter(pfn, pUser, kEnumItunesUserDataState_Enum_End, [&](void* adapter) {
            return manager->EnumItunesUserData(adapter == nullptr ? nullptr : &RelayScan, adapter, bDeepScan != 0,
                                               AsFlag(pCancel));
        });
    }));
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenDeleteItunesUserData(BrisalenDeleteCallback pfn, void* pUser,
                                                                  const int32_t* pCategories, uint32_t nCategoryCount,
                                                                  const int32_t* pItems, uint32_t nItemCount,
                                                                  uint8_t* pCancel) {
    return ToCTruth(NeverThrow(false, [&] {
        IItunesUserDataMgr* manager = CreateItunesUserDataMgr();
        if (manager == nullptr) return false;
        std::vector<int32_t> categories = FromCArray(pCategories, nCategoryCount);
        std::vector<int32_t> items = FromCArray(pItems, nItemCount);
        return StartWithAdapter(pfn, pUser, kDeleteItunesUserDataState_DeleteComplete, [&](void* adapter) {
            return manager->DeleteItuensUserData(adapter == nullptr ? nullptr : &RelayDeletion, adapter, categories,
                                                 items, AsFlag(pCancel));
        });
    }));
}

}  // extern "C"
