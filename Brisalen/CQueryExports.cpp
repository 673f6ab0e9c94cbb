// The C interface's product queries, group map, version and the one
// function that takes back what the interface handed out. Each query calls
// the C++ export of the same name and copies its answer into a block of the
// host's own, so the answer no longer changes under the host when a later
// load rebuilds the library's maps.
#include "Brisalen/CHandout.h"
#include "Brisalen/CRecords.h"
#include "Brisalen/NeverThrow.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "logging/Log.h"
#include "include/Brisalen.h"
#include "include/BrisalenC.h"

#ifndef BRISALEN_VERSION_NUMBER
#error "the build defines BRISALEN_VERSION_NUMBER from the project version"
#endif

namespace {

template <typename Products>
const BRISALEN_PRODUCT_LIST* HandOutProducts(const Products& products) {
    return HandOutRecord<BRISALEN_PRODUCT_LIST>([&](BRISALEN_PRODUCT_LIST& list, CRecordBlock& block) {
        list.nCount = static_cast<uint32_t>(products.size());
        BRISALEN_PRODUCT* items = block.Records<BRISALEN_PRODUCT>(products.size());
        size_t i = 0;
        for (const auto& [code, product] : products) items[i++] = ToCRecord(code, product, block);
        list.pItems = items;
        return true;
    });
}

}  // namespace

extern "C" {

BRISALEN_C_API uint32_t BRISALEN_CALL BrisalenGetLibraryVersion(void) { return BRISALEN_VERSION_NUMBER; }

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenFree(const void* pValue) {
    if (pValue == nullptr) return 0;
    return ToCTruth(NeverThrow(false, [&] { return CHandoutShelf::Instance().TakeBack(pValue); }));
}

BRISALEN_C_API const BRISALEN_PRODUCT_LIST* BRISALEN_CALL BrisalenGetAllInstallProductInfo(void) {
    return NeverThrow<const BRISALEN_PRODUCT_LIST*>(nullptr, []() -> const BRISALEN_PRODUCT_LIST* {
        const std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA>* products = GetAllInstallProductInfo();
        if (products == nullptr) return nullptr;
        return HandOutProducts(*products);
    });
}

BRISALEN_C_API const BRISALEN_PRODUCT_LIST* BRISALEN_CALL BrisalenQueryItunesService(void) {
    return NeverThrow<const BRISALEN_PRODUCT_LIST*>(nullptr, [] {
        std::vector<ST_MSI_PRODUCT_RAW_DATA> family;
        QueryItunesService(family);
        std::vector<std::pair<std::wstring, ST_MSI_PRODUCT_RAW_DATA>> keyed;
        for (ST_MSI_PRODUCT_RAW_DATA& product : family) keyed.emplace_back(product.strProductCode, std::move(product));
        return HandOutProducts(keyed);
    });
}

BRISALEN_C_API const BRISALEN_STRING_LIST* BRISALEN_CALL BrisalenQueryProductService(int32_t nProductType) {
    return NeverThrow<const BRISALEN_STRING_LIST*>(nullptr, [&]() -> const BRISALEN_STRING_LIST* {
        const std::vector<std::wstring>* services = QueryProductService(nProductType);
        if (services == nullptr) return nullptr;
        return HandOutRecord<BRISALEN_STRING_LIST>([&](BRISALEN_STRING_LIST& list, CRecordBlock& block) {
            list = block.Strings(*services);
            return true;
        });
    });
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenInstallProduct(const wchar_t* pszPackagePath, int32_t* pErr) {
    return ToCTruth(NeverThrow(false, [&] {
        int error = 0;
        const bool installed = InstallProduct(FromCString(pszPackagePath), &error);
        if (pErr != nullptr) *pErr = error;
        return installed;
    }));
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenUninstallProduct(int32_t nProductType, const wchar_t* pszProductCode,
                                                              int32_t* pErr) {
    return ToCTruth(NeverThrow(false, [&] {
        int error = 0;
        const bool removed = UninstallProduct(nProductType, FromCString(pszProductCode), &error);
        if (pErr != nullptr) *pErr = error;
        return removed;
    }));
}

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenSaveProductVerifyInfo(const BRISALEN_CHECK_INFO* pInfos, uint32_t nCount,
                                                                   const wchar_t* pszPath) {
    return ToCTruth(NeverThrow(false, [&] {
        std::vector<ST_MSI_PRODUCT_UI_INFO> infos;
        for (uint32_t i = 0; pInfos != nullptr && i < nCount; ++i) infos.push_back(FromCRecord(pInfos[i]));
        std::wstring path = FromCString(pszPath);
        return SaveProductVerifyInfo(infos, path);
    }));
}

BRISALEN_C_API const BRISALEN_GROUP_LIST* BRISALEN_CALL BrisalenGetAllItunesTypeInfo(void) {
    return NeverThrow<const BRISALEN_GROUP_LIST*>(nullptr, []() -> const BRISALEN_GROUP_LIST* {
        if (CItunesUserDataMgr::Instance().IsScanning()) {
            LOG_INFO_W(L"[GetAllItunesTypeInfo] fail! because the scan is runing!\n");
            return nullptr;
        }
        const auto* groups = static_cast<const ItunesTypeInfoMap*>(GetAllItunesTypeInfoMap());
        if (groups == nullptr) return nullptr;
        return HandOutRecord<BRISALEN_GROUP_LIST>([&](BRISALEN_GROUP_LIST& list, CRecordBlock& block) {
            FillGroupList(*groups, list, block);
            return true;
        });
    });
}

}  // extern "C"
