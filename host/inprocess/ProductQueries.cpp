#include "host/inprocess/ProductQueries.h"

#include "Brisalen/FileVerify.h"
#include "Brisalen/MsiEnum.h"
#include "common/ServiceControl.h"

namespace inprocess {

namespace {

InstalledProduct FromRecord(const ST_MSI_PRODUCT_RAW_DATA& record, const CMsiEnum& products) {
    InstalledProduct product;
    product.type = record.nProductTypeCopy;
    product.code = record.strProductCode;
    product.name = ProductProperty(record, L"ProductName");
    product.version = ProductProperty(record, L"VersionString");
    product.installLocation = ProductProperty(record, L"InstallLocation");
    product.package = ProductProperty(record, L"PackageName");
    product.localPackage = ProductProperty(record, L"LocalPackage");
    product.services = products.ServicesOf(record.nProductTypeCopy);
    return product;
}

}  // namespace

std::vector<InstalledProduct> InstalledProducts(bool all) {
    CMsiEnum& products = CMsiEnum::Instance();
    products.LoadAllInstallProduct(all);
    std::vector<InstalledProduct> list;
    for (const auto& entry : all ? products.AllProducts() : products.ItunesProducts()) {
        list.push_back(FromRecord(entry.second, products));
    }
    return list;
}

FileCheck VerifyFiles(const InstalledProduct& product) {
    FileCheck check;
    check.packageRead = CFileVerify::Instance().VerifyByMsi(product.type, product.localPackage,
                                                            product.installLocation, check.checked, check.bad,
                                                            check.missing);
    return check;
}

ServiceStatus QueryService(const std::wstring& name) {
    ServiceStatus status;
    status.state = GetServiceStateText(name);
    CServiceCtrl service;
    status.startTypeKnown = service.Open(name) && service.QueryStartType(status.startType);
    return status;
}

}  // namespace inprocess
