// The installed products Windows Installer knows, and which of them belong
// to the iTunes family. One process-wide object; every load and every copy
// out of its maps is serialised by one lock.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "include/Brisalen.h"
#include "Brisalen/CollectDirMgr.h"
#include "platform/Platform.h"

enum ItunesProductType : int32_t {
    kProductUnknown = 0,
    kProductItunes = 1,
    kProductAppleSoftwareUpdate = 2,
    kProductMobileDeviceSupport = 3,
    kProductBonjour = 4,
    kProductAppleApplicationSupport = 5,
    kProductAppleApplicationSupport64 = 6,
};

// The name log lines use for a product type; "unknown" outside 1 to 6.
const wchar_t* ProductTypeName(int32_t type);

// A property of a product record; empty when Windows Installer did not
// return it.
std::wstring ProductProperty(const ST_MSI_PRODUCT_RAW_DATA& record, const wchar_t* name);

class CMsiEnum {
public:
    static CMsiEnum& Instance();
    // Asks `os`'s Windows Installer; the family's packages are read with
    // `folders` for their roots.
    CMsiEnum(platform::Platform& os, const CCollectDirMgr& folders);

    // Rebuilds the all-products map (bAll) or the family map; a family load
    // also empties the all-products map.
    void LoadAllInstallProduct(bool bAll);
    bool QueryProductProperty(const std::wstring& productCode, const std::wstring& property, std::wstring& value) const;
    static bool GetItunesProductType(const std::wstring& productName, const std::wstring& installLocation,
                                     const std::wstring& packageName, int& type);

    // Copies taken under the lock, so a caller never reads a map mid-load.
    std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA> ItunesProducts() const;
    std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA> AllProducts() const;
    std::vector<std::wstring> ServicesOf(int type) const;

    // The stored maps themselves, for the exports that hand their addresses
    // to the host: the nodes live as long as this object, a later load
    // changes what they hold.
    std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA>* AllProductsMap() { return &m_mapAllProduct; }
    // Null when the type has no list.
    std::vector<std::wstring>* StoredServicesOf(int type);

private:
    void EnumProduct(const std::wstring& productCode, bool bAll);
    void UpdateServicesFromPackage(int type, const std::wstring& localPackage);

    platform::Platform& m_os;
    const CCollectDirMgr& m_folders;
    std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA> m_mapItunesProduct;
    std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA> m_mapAllProduct;
    std::map<std::wstring, std::wstring> m_mapPropertyName;
    std::map<int, std::vector<std::wstring>> m_mapProductService;
    mutable std::mutex m_lock;
};
