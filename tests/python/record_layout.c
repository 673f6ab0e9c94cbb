/* The C compiler's layout of every record of BrisalenC.h, as JSON, for the
 * Python binding's layout test: {"NAME": {"size": N, "fields": {"f": offset}}}.
 * Compiled as C so the header's C form is the one measured. */
#include <stddef.h>
#include <stdio.h>

#include "include/BrisalenC.h"

static int g_first_record = 1;
static int g_first_field = 1;

static void begin(const char* name, size_t size) {
    printf("%s\n  \"%s\": {\"size\": %u, \"fields\": {", g_first_record ? "{" : ",", name, (unsigned)size);
    g_first_record = 0;
    g_first_field = 1;
}

static void member(const char* name, size_t offset) {
    printf("%s\"%s\": %u", g_first_field ? "" : ", ", name, (unsigned)offset);
    g_first_field = 0;
}

static void end(void) { printf("}}"); }

#define RECORD(type) begin(#type, sizeof(type))
#define FIELD(type, name) member(#name, offsetof(type, name))

int main(void) {
    RECORD(BRISALEN_STRING_LIST);
    FIELD(BRISALEN_STRING_LIST, nCount);
    FIELD(BRISALEN_STRING_LIST, ppItems);
    end();

    RECORD(BRISALEN_PATH_ENTRY);
    FIELD(BRISALEN_PATH_ENTRY, nSize);
    FIELD(BRISALEN_PATH_ENTRY, pszPath);
    FIELD(BRISALEN_PATH_ENTRY, bFolder);
    FIELD(BRISALEN_PATH_ENTRY, nReserved);
    end();

    RECORD(BRISALEN_PATH_LIST);
    FIELD(BRISALEN_PATH_LIST, nCount);
    FIELD(BRISALEN_PATH_LIST, pItems);
    end();

    RECORD(BRISALEN_CHECK_INFO);
    FIELD(BRISALEN_CHECK_INFO, nType);
    FIELD(BRISALEN_CHECK_INFO, nState);
    FIELD(BRISALEN_CHECK_INFO, pszProductName);
    FIELD(BRISALEN_CHECK_INFO, pszVersion);
    FIELD(BRISALEN_CHECK_INFO, pszMessage);
    FIELD(BRISALEN_CHECK_INFO, pszServices);
    FIELD(BRISALEN_CHECK_INFO, files);
    FIELD(BRISALEN_CHECK_INFO, nRepairCount);
    FIELD(BRISALEN_CHECK_INFO, bNeedPackage);
    FIELD(BRISALEN_CHECK_INFO, nInstalledCount);
    FIELD(BRISALEN_CHECK_INFO, nCheckedFiles);
    end();

    RECORD(BRISALEN_REPAIR_INFO);
    FIELD(BRISALEN_REPAIR_INFO, nType);
    FIELD(BRISALEN_REPAIR_INFO, nKind);
    FIELD(BRISALEN_REPAIR_INFO, bSuccess);
    FIELD(BRISALEN_REPAIR_INFO, nErrorCode);
    FIELD(BRISALEN_REPAIR_INFO, pszMessage);
    end();

    RECORD(BRISALEN_UNINSTALL_INFO);
    FIELD(BRISALEN_UNINSTALL_INFO, nType);
    FIELD(BRISALEN_UNINSTALL_INFO, bSuccess);
    FIELD(BRISALEN_UNINSTALL_INFO, nErrorCode);
    FIELD(BRISALEN_UNINSTALL_INFO, nReserved);
    FIELD(BRISALEN_UNINSTALL_INFO, pszProductName);
    FIELD(BRISALEN_UNINSTALL_INFO, pszPath);
    FIELD(BRISALEN_UNINSTALL_INFO, pszMessage);
    FIELD(BRISALEN_UNINSTALL_INFO, files);
    end();

    RECORD(BRISALEN_INSTALL_INFO);
    FIELD(BRISALEN_INSTALL_INFO, pszPackage);
    FIELD(BRISALEN_INSTALL_INFO, bSuccess);
    FIELD(BRISALEN_INSTALL_INFO, nErrorCode);
    end();

    RECORD(BRISALEN_USER_DATA_ITEM);
    FIELD(BRISALEN_USER_DATA_ITEM, nSize);
    FIELD(BRISALEN_USER_DATA_ITEM, nDate);
    FIELD(BRISALEN_USER_DATA_ITEM, nId);
    FIELD(BRISALEN_USER_DATA_ITEM, bValid);
    FIELD(BRISALEN_USER_DATA_ITEM, pszPath);
    FIELD(BRISALEN_USER_DATA_ITEM, pszDeviceId);
    FIELD(BRISALEN_USER_DATA_ITEM, pszDeviceName);
    FIELD(BRISALEN_USER_DATA_ITEM, pszVersion);
    FIELD(BRISALEN_USER_DATA_ITEM, pszDate);
    end();

    RECORD(BRISALEN_SCAN_PROGRESS);
    FIELD(BRISALEN_SCAN_PROGRESS, bDeepScan);
    FIELD(BRISALEN_SCAN_PROGRESS, nScannedDir);
    FIELD(BRISALEN_SCAN_PROGRESS, nTotalDir);
    end();

    RECORD(BRISALEN_ENUM_INFO);
    FIELD(BRISALEN_ENUM_INFO, nCategorySize);
    FIELD(BRISALEN_ENUM_INFO, nGroupSize);
    FIELD(BRISALEN_ENUM_INFO, nGroup);
    FIELD(BRISALEN_ENUM_INFO, nCategory);
    FIELD(BRISALEN_ENUM_INFO, nCategoryCount);
    FIELD(BRISALEN_ENUM_INFO, nGroupCount);
    FIELD(BRISALEN_ENUM_INFO, pProgress);
    FIELD(BRISALEN_ENUM_INFO, item);
    end();

    RECORD(BRISALEN_DELETE_INFO);
    FIELD(BRISALEN_DELETE_INFO, nDeletedSize);
    FIELD(BRISALEN_DELETE_INFO, nTotalSize);
    FIELD(BRISALEN_DELETE_INFO, bSuccess);
    FIELD(BRISALEN_DELETE_INFO, nResult);
    FIELD(BRISALEN_DELETE_INFO, residual);
    end();

    RECORD(BRISALEN_CATEGORY_INFO);
    FIELD(BRISALEN_CATEGORY_INFO, nSize);
    FIELD(BRISALEN_CATEGORY_INFO, nCategory);
    FIELD(BRISALEN_CATEGORY_INFO, nCount);
    FIELD(BRISALEN_CATEGORY_INFO, folders);
    end();

    RECORD(BRISALEN_GROUP_INFO);
    FIELD(BRISALEN_GROUP_INFO, nSize);
    FIELD(BRISALEN_GROUP_INFO, nGroup);
    FIELD(BRISALEN_GROUP_INFO, nCount);
    FIELD(BRISALEN_GROUP_INFO, nCategoryCount);
    FIELD(BRISALEN_GROUP_INFO, pCategories);
    end();

    RECORD(BRISALEN_GROUP_LIST);
    FIELD(BRISALEN_GROUP_LIST, nCount);
    FIELD(BRISALEN_GROUP_LIST, pItems);
    end();

    RECORD(BRISALEN_PROPERTY);
    FIELD(BRISALEN_PROPERTY, pszName);
    FIELD(BRISALEN_PROPERTY, pszValue);
    end();

    RECORD(BRISALEN_PRODUCT);
    FIELD(BRISALEN_PRODUCT, nProductType);
    FIELD(BRISALEN_PRODUCT, nPropertyCount);
    FIELD(BRISALEN_PRODUCT, pszProductCode);
    FIELD(BRISALEN_PRODUCT, pProperties);
    end();

    RECORD(BRISALEN_PRODUCT_LIST);
    FIELD(BRISALEN_PRODUCT_LIST, nCount);
    FIELD(BRISALEN_PRODUCT_LIST, pItems);
    end();

    RECORD(BRISALEN_UNINSTALL_STEP);
    FIELD(BRISALEN_UNINSTALL_STEP, nType);
    FIELD(BRISALEN_UNINSTALL_STEP, nAction);
    FIELD(BRISALEN_UNINSTALL_STEP, pszProductName);
    FIELD(BRISALEN_UNINSTALL_STEP, pszProductCode);
    FIELD(BRISALEN_UNINSTALL_STEP, pszInstallLocation);
    end();

    RECORD(BRISALEN_UNINSTALL_PREVIEW);
    FIELD(BRISALEN_UNINSTALL_PREVIEW, nStepCount);
    FIELD(BRISALEN_UNINSTALL_PREVIEW, pSteps);
    FIELD(BRISALEN_UNINSTALL_PREVIEW, residualFolders);
    FIELD(BRISALEN_UNINSTALL_PREVIEW, programs);
    FIELD(BRISALEN_UNINSTALL_PREVIEW, paths);
    FIELD(BRISALEN_UNINSTALL_PREVIEW, userDataFolders);
    FIELD(BRISALEN_UNINSTALL_PREVIEW, bStoreEdition);
    FIELD(BRISALEN_UNINSTALL_PREVIEW, nReserved);
    end();

    RECORD(BRISALEN_DELETION_PREVIEW);
    FIELD(BRISALEN_DELETION_PREVIEW, nTotalSize);
    FIELD(BRISALEN_DELETION_PREVIEW, paths);
    end();

    RECORD(BRISALEN_REPAIR_STEP);
    FIELD(BRISALEN_REPAIR_STEP, nType);
    FIELD(BRISALEN_REPAIR_STEP, nKind);
    FIELD(BRISALEN_REPAIR_STEP, nAction);
    FIELD(BRISALEN_REPAIR_STEP, nReserved);
    FIELD(BRISALEN_REPAIR_STEP, pszProductCode);
    FIELD(BRISALEN_REPAIR_STEP, pszPackage);
    end();

    RECORD(BRISALEN_REPAIR_PREVIEW);
    FIELD(BRISALEN_REPAIR_PREVIEW, nCount);
    FIELD(BRISALEN_REPAIR_PREVIEW, pItems);
    end();

    printf("\n}\n");
    return 0;
}
