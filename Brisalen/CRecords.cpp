#include "Brisalen/CRecords.h"

BRISALEN_CHECK_INFO ToCRecord(const ST_MSI_PRODUCT_UI_INFO& info, CRecordBlock& block) {
    BRISALEN_CHECK_INFO record{};
    record.nType = info.nType;
    record.nState = info.nState;
    record.pszProductName = block.Keep(info.strProductName);
    record.pszVersion = block.Keep(info.strVersion);
    record.pszMessage = block.Keep(info.strMessage);
    record.pszServices = block.Keep(info.strServices);
    record.files = block.Strings(info.vecFiles);
    record.nRepairCount = info.nRepairCount;
    record.bNeedPackage = ToCTruth(info.bNeedPackage);
    record.nInstalledCount = info.nInstalledCount;
    record.nCheckedFiles = info.nCheckedFiles;
    return record;
}

BRISALEN_REPAIR_INFO ToCRecord(const ST_REPAIR_PROGRESS_INFO& info, CRecordBlock& block) {
    BRISALEN_REPAIR_INFO record{};
    record.nType = info.nType;
    record.nKind = info.nKind;
    record.bSuccess = ToCTruth(info.bSuccess);
    record.nErrorCode = info.nErrorCode;
    record.pszMessage = block.Keep(info.strMessage);
    return record;
}

BRISALEN_UNINSTALL_INFO ToCRecord(const ST_ONEKEY_UNINSTALL_INFO& info, CRecordBlock& block) {
    BRISALEN_UNINSTALL_INFO record{};
    record.nType = info.nType;
    record.bSuccess = ToCTruth(info.bSuccess);
    record.nErrorCode = info.nErrorCode;
    record.pszProductName = block.Keep(info.strProductName);
    record.pszPath = block.Keep(info.strPath);
    record.pszMessage = block.Keep(info.strMessage);
    record.files = block.Strings(info.vecFiles);
    return record;
}

BRISALEN_INSTALL_INFO ToCRecord(const ST_ONEKEY_INSTALL_INFO& info, CRecordBlock& block) {
    BRISALEN_INSTALL_INFO record{};
    record.pszPackage = block.Keep(info.strPackage);
    record.bSuccess = ToCTruth(info.bSuccess);
    record.nErrorCode = info.nErrorCode;
    return record;
}

BRISALEN_USER_DATA_ITEM ToCRecord(const ST_ITUNES_USER_DATA_ITEM& item, CRecordBlock& block) {
    BRISALEN_USER_DATA_ITEM record{};
    record.nSize = item.nSize;
    record.nDate = item.nDate;
    record.nId = item.nId;
    record.bValid = ToCTruth(item.bValid);
    record.pszPath = block.Keep(item.strPath);
    record.pszDeviceId = block.Keep(item.strDeviceId);
    record.pszDeviceName = block.Keep(item.strDeviceName);
    record.pszVersion = block.Keep(item.strVersion);
    record.pszDate = block.Keep(item.strDate);
    return record;
}

BRISALEN_SCAN_PROGRESS ToCRecord(const ST_ITUNES_SCAN_PROGRESS& progress) {
    BRISALEN_SCAN_PROGRESS record{};
    record.bDeepScan = ToCTruth(progress.bDeepScan);
    record.nScannedDir = progress.nScannedDir;
    record.nTotalDir = progress.nTotalDir;
    return record;
}

BRISALEN_DELETE_INFO ToCRecord(const ST_ITUNES_DELETE_INFO& info, CRecordBlock& block) {
    BRISALEN_DELETE_INFO record{};
    record.nDeletedSize = info.nDeletedSize;
    record.nTotalSize = info.nTotalSize;
    record.bSuccess = ToCTruth(info.bSuccess);
    record.nResult = info.nResult;
    record.residual = block.Strings(info.vecResidual);
    return record;
}

BRISALEN_PRODUCT ToCRecord(const std::wstring& code, const ST_MSI_PRODUCT_RAW_DATA& product, CRecordBlock& block) {
    BRISALEN_PRODUCT record{};
    record.nProductType = product.nProductTypeCopy;
    record.pszProductCode = block.Keep(code);
    record.nPropertyCount = static_cast<uint32_t>(product.mapProperty.size());
    BRISALEN_PROPERTY* properties = block.Records<BRISALEN_PROPERTY>(product.mapProperty.size());
    size_t i = 0;
    for (const auto& [name, value] : product.mapProperty) {
        properties[i].pszName = block.Keep(name);
        properties[i].pszValue = block.Keep(value);
        ++i;
    }
    record.pProperties = properties;
    return record;
}

BRISALEN_PATH_LIST ToCRecord(const std::vector<UserDataFileSetEntry>& entries, CRecordBlock& block) {
    BRISALEN_PATH_LIST list{};
    list.nCount = static_cast<uint32_t>(entries.size());
    BRISALEN_PATH_ENTRY* items = block.Records<BRISALEN_PATH_ENTRY>(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        items[i].nSize = static_cast<int64_t>(entries[i].size);
        items[i].pszPath = block.Keep(entries[i].path);
        items[i].bFolder = ToCTruth(entries[i].folder);
    }
    list.pItems = items;
    return list;
}

void FillGroupList(const ItunesTypeInfoMap& groups, BRISALEN_GROUP_LIST& list, CRecordBlock& block) {
    list.nCount = static_cast<uint32_t>(groups.size());
    BRISALEN_GROUP_INFO* items = block.Records<BRISALEN_GROUP_INFO>(groups.size());
    size_t g = 0;
    for (const auto& [code, group] : groups) {
        BRISALEN_GROUP_INFO& item = items[g++];
        item.nSize = group.nSize;
        item.nGroup = code;
        item.nCount = group.nCount;
        item.nCategoryCount = static_cast<uint32_t>(group.mapCategory.size());
        BRISALEN_CATEGORY_INFO* categories = block.Records<BRISALEN_CATEGORY_INFO>(group.mapCategory.size());
        size_t c = 0;
        for (const auto& [categoryCode, category] : group.mapCategory) {
            BRISALEN_CATEGORY_INFO& entry = categories[c++];
            entry.nSize = category.nSize;
            entry.nCategory = categoryCode;
            entry.nCount = category.nCount;
            entry.folders = block.Strings(category.vecFolder);
        }
        item.pCategories = categories;
    }
    list.pItems = items;
}

ST_MSI_PRODUCT_UI_INFO FromCRecord(const BRISALEN_CHECK_INFO& info) {
    ST_MSI_PRODUCT_UI_INFO record;
    record.nType = info.nType;
    record.nState = info.nState;
    record.strProductName = FromCString(info.pszProductName);
    record.strVersion = FromCString(info.pszVersion);
    record.strMessage = FromCString(info.pszMessage);
    record.strServices = FromCString(info.pszServices);
    if (info.files.ppItems != nullptr) {
        for (uint32_t i = 0; i < info.files.nCount; ++i) record.vecFiles.push_back(FromCString(info.files.ppItems[i]));
    }
    record.nRepairCount = info.nRepairCount;
    record.bNeedPackage = info.bNeedPackage != 0;
    record.nInstalledCount = info.nInstalledCount;
    record.nCheckedFiles = info.nCheckedFiles;
    return record;
}

std::vector<int32_t> FromCArray(const int32_t* values, uint32_t count) {
    if (values == nullptr) return {};
    return std::vector<int32_t>(values, values + count);
}

std::wstring FromCString(const wchar_t* text) { return text == nullptr ? std::wstring() : std::wstring(text); }
