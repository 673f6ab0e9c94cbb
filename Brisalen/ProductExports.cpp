// The plain exports beside the two managers: product queries, single
// product installs, and the user-data group map.
#include "Brisalen/FileVerify.h"
#include "Brisalen/MsiEnum.h"
#include "Brisalen/MsiInstaller.h"
#include "Brisalen/NeverThrow.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "include/Brisalen.h"

BRISALEN_API std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA>* BRISALEN_CDECL GetAllInstallProductInfo() {
    return NeverThrow<std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA>*>(nullptr, [] {
        CMsiEnum& products = CMsiEnum::Instance();
        products.LoadAllInstallProduct(true);
        return products.AllProductsMap();
    });
}

BRISALEN_API bool BRISALEN_CDECL QueryItunesService(std::vector<ST_MSI_PRODUCT_RAW_DATA>& products) {
    return NeverThrow(false, [&] {
        products.clear();
        CMsiEnum& family = CMsiEnum::Instance();
        family.LoadAllInstallProduct(false);
        for (auto& [code, record] : family.ItunesProducts()) products.push_back(std::move(record));
        return !products.empty();
    });
}

BRISALEN_API std::vector<std::wstring>* BRISALEN_CDECL QueryProductService(int productType) {
    return NeverThrow<std::vector<std::wstring>*>(nullptr,
                                                  [&] { return CMsiEnum::Instance().StoredServicesOf(productType); });
}

BRISALEN_API bool BRISALEN_CDECL InstallProduct(std::wstring packagePath, int* err) {
    return NeverThrow(false, [&] { return CMsiInstaller::Instance().Install(packagePath, err); });
}

BRISALEN_API bool BRISALEN_CDECL UninstallProduct(int productType, std::wstring productCode, int* err) {
    return NeverThrow(false, [&] { return CMsiInstaller::Instance().Uninstall(productType, productCode, err); });
}

BRISALEN_API bool BRISALEN_CDECL SaveProductVerifyInfo(std::vector<ST_MSI_PRODUCT_UI_INFO>& /*infos*/,
                                                      std::wstring& /*path*/) {
    // Only the verification object is made, as a host calling this expects.
    NeverThrow(false, [] {
        CFileVerify::Instance();
        return true;
    });
    return true;
}

BRISALEN_API void* BRISALEN_CDECL GetAllItunesTypeInfoMap() {
    return NeverThrow<void*>(nullptr, [] { return CItunesUserDataMgr::Instance().GetAllItunesTypeInfoMap(); });
}
