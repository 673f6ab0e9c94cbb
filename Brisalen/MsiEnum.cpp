#include "Brisalen/MsiEnum.h"

#include <set>

#include "Brisalen/MsiDB.h"
#include "Brisalen/ProductFamily.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

// The installed-product properties kept for each product, in the order the
// table is filled ("State" twice, as it always was; the map keeps one).
constexpr const wchar_t* kPropertyNames[] = {
    L"PackageName",   L"Transforms",        L"Language",      L"ProductName",     L"AssignmentType",
    L"InstanceType",  L"AuthorizedLUAApp",  L"PackageCode",   L"Version",         L"ProductIcon",
    L"InstalledProductName", L"VersionString", L"HelpLink",  L"HelpTelephone",   L"InstallLocation",
    L"InstallSource", L"InstallDate",       L"Publisher",     L"LocalPackage",    L"URLInfoAbout",
    L"URLUpdateInfo", L"VersionMinor",      L"VersionMajor",  L"ProductID",       L"RegCompany",
    L"RegOwner",      L"InstalledLanguage", L"Uninstallable", L"State",           L"State",
    L"PatchType",     L"LUAEnabled",        L"DisplayName",   L"MoreInfoURL",     L"LastUsedSource",
    L"LastUsedType",  L"MediaPackagePath",  L"DiskPrompt",
};

bool Contains(const std::wstring& text, const wchar_t* part) { return text.find(part) != std::wstring::npos; }

}  // namespace

const wchar_t* ProductTypeName(int32_t type) {
    const ProductFamilyRecord* record = FamilyRecord(type);
    return record != nullptr ? record->typeName : L"unknown";
}

std::wstring ProductProperty(const ST_MSI_PRODUCT_RAW_DATA& record, const wchar_t* name) {
    const auto value = record.mapProperty.find(name);
    return value == record.mapProperty.end() ? std::wstring() : value->second;
}

CMsiEnum::CMsiEnum(platform::Platform& os, const CCollectDirMgr& folders) : m_os(os), m_folders(folders) {
    for (const wchar_t* name : kPropertyNames) m_mapPropertyName[name] = name;
    for (const ProductFamilyRecord& record : kProductFamily) {
        if (record.service != nullptr) m_mapProductService[record.type] = {record.service};
    }
}

void CMsiEnum::LoadAllInstallProduct(bool bAll) {
    std::lock_guard<std::mutex> lock(m_lock);
    LOG_INFO_W(L"===========[LoadAllInstallProduct being]===========");
    m_mapAllProduct.clear();
    if (!bAll) m_mapItunesProduct.clear();
    platform::IInstaller& installer = m_os.Installer();
    for (uint32_t index = 0;; ++index) {
        std::wstring productCode;
        if (installer.EnumProducts(index, productCode) != platform::kErrSuccess) break;
        EnumProduct(productCode, bAll);
    }
    LOG_INFO_W(L"===========[LoadAllInstallProduct end]===========\n\n");
}

void CMsiEnum::EnumProduct(const std::wstring& productCode, bool bAll) {
    bool elevated = false;
    if (m_os.Installer().IsProductElevated(productCode, elevated) != platform::kErrSuccess) return;

    std::wstring productName, installLocation, packageName;
    QueryProductProperty(productCode, L"ProductName", productName);
    QueryProductProperty(productCode, L"InstallLocation", installLocation);
    QueryProductProperty(productCode, L"PackageName", packageName);
    int type = kProductUnknown;
    if (!bAll && !GetItunesProductType(productName, installLocation, packageName, type)) return;
    logging::LogW(L"CMsiEnum::EnumItunesProduct", logging::Widen(__FILE__).c_str(), __LINE__, 1,
                  L"=>Find Product:%s,%s", productName, packageName);

    ST_MSI_PRODUCT_RAW_DATA record;
    record.nProductType = type;
    record.strProductCode = productCode;
    record.nProductTypeCopy = type;
    for (const auto& property : m_mapPropertyName) {
        std::wstring value;
        if (QueryProductProperty(productCode, property.first, value)) record.mapProperty[property.first] = value;
    }
    const std::wstring key = AsciiLower(productCode);
    if (bAll) {
        m_mapAllProduct[key] = std::move(record);
        return;
    }
    // Every family record carries the entry, read or not.
    const std::wstring localPackage = record.mapProperty[L"LocalPackage"];
    UpdateServicesFromPackage(type, localPackage);
    m_mapItunesProduct[key] = std::move(record);
}

void CMsiEnum::UpdateServicesFromPackage(int type, const std::wstring& localPackage) {
    if (!FileExists(m_os.Files(), localPackage)) return;
    CMsiDB package(m_os, m_folders);
    package.Init(localPackage);  // an unreadable package just lists nothing
    std::vector<std::wstring> services;
    package.QueryServiceInstall(services);
    if (services.empty()) return;
    LOG_INFO_W(L"Find %d service:[%s]...", static_cast<int>(services.size()), services.front());
    m_mapProductService[type] = std::move(services);
}

bool CMsiEnum::QueryProductProperty(const std::wstring& productCode, const std::wstring& property,
                                    std::wstring& value) const {
    std::wstring read;
    if (m_os.Installer().GetProductInfo(productCode, property, read) != platform::kErrSuccess) {
        return false;
    }
    value = std::move(read);
    return true;
}

bool CMsiEnum::GetItunesProductType(const std::wstring& productName, const std::wstring& installLocation,
                                    const std::wstring& packageName, int& type) {
    // Names compared without regard to case, then exact ones, then the
    // package's name, then the folder's; the first match decides.
    const std::wstring lowerName = AsciiLower(productName);
    for (const ProductFamilyRecord& known : kProductFamily) {
        if (known.nameIgnoresCase && lowerName == AsciiLower(known.productName)) {
            type = known.type;
            return true;
        }
    }
    for (const ProductFamilyRecord& known : kProductFamily) {
        if (known.nameIgnoresCase) continue;
        if (productName == known.productName ||
            (known.translatedName != nullptr && productName == known.translatedName)) {
            type = known.type;
            return true;
        }
    }
    const std::wstring lowerPackage = AsciiLower(packageName);
    for (const ProductFamilyRecord& known : kProductFamily) {
        if (known.packageNamePart != nullptr && Contains(lowerPackage, known.packageNamePart)) {
            type = known.type;
            return true;
        }
    }
    std::wstring folder = AsciiLower(installLocation);
    RemoveTrailingBackslash(folder);
    const std::wstring lastComponent = GetFileNameFromPath(folder);
    for (const ProductFamilyRecord& known : kProductFamily) {
        if (known.folderName == nullptr || lastComponent != known.folderName) continue;
        if (known.folderBitness != nullptr && !Contains(productName, known.folderBitness)) continue;
        type = known.type;
        return true;
    }
    return false;
}

std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA> CMsiEnum::ItunesProducts() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_mapItunesProduct;
}

std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA> CMsiEnum::AllProducts() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_mapAllProduct;
}

std::vector<std::wstring> CMsiEnum::ServicesOf(int type) const {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto entry = m_mapProductService.find(type);
    return entry == m_mapProductService.end() ? std::vector<std::wstring>() : entry->second;
}

std::vector<std::wstring>* CMsiEnum::StoredServicesOf(int type) {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto entry = m_mapProductService.find(type);
    return entry == m_mapProductService.end() ? nullptr : &entry->second;
}
