/*
 * Brisalen.dll for hosts of any compiler: plain C functions, fixed-layout
 * records, wide C strings.
 *
 * This header compiles as C89, C99 and C++. It reaches everything the C++
 * interface of Brisalen.h reaches (both managers, the product queries, the
 * user-data group map) through the same engines, with the same log lines,
 * and adds previews: what a task would do, worked out without changing
 * anything on the machine.
 *
 * Conventions, for every function below:
 * - Calling convention: __cdecl on Windows (BRISALEN_CALL), callbacks too.
 *   From P/Invoke: CallingConvention.Cdecl, CharSet.Unicode.
 * - Strings are wide C strings (UTF-16 on Windows) ended by a zero; null
 *   where a string argument is optional, as each function says.
 * - Truth values are int32_t: 0 false, 1 true.
 * - What a function returns by pointer (a list, a preview, a string) is the
 *   library's: read it, then hand it back to BrisalenFree, once. It stays
 *   valid until then, whatever the library does meanwhile.
 * - Records passed to a callback live only for the duration of the call;
 *   copy what is needed.
 * - No function throws, aborts or lets a fault reach the host: a function
 *   that fails returns 0 or a null pointer and the library log says why.
 * - Long tasks run on a worker thread of the library; their callbacks run
 *   there. A task start returns 0 (nothing started) while a task of the
 *   same kind runs. Previews and queries must not run at the same time as
 *   a task that shares their data (a check or a repair and the repair
 *   preview, the one-key uninstall and its preview, a scan or a deletion
 *   and the deletion preview): they then return null.
 * - Cancel flags are one byte the host owns and sets to 1 to cancel (only 0
 *   and 1 are allowed). The task clears it to 0 as it starts; the one-key
 *   uninstall clears it even when its start is refused. Each may be null.
 */
#ifndef BRISALEN_C_H
#define BRISALEN_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(BRISALEN_BUILDING_LIBRARY)
#    define BRISALEN_C_API __declspec(dllexport)
#  else
#    define BRISALEN_C_API __declspec(dllimport)
#  endif
#  define BRISALEN_CALL __cdecl
#else
#  define BRISALEN_C_API __attribute__((visibility("default")))
#  define BRISALEN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version as (major << 16) | (minor << 8) | patch. */
#define BRISALEN_VERSION_MAJOR(v) (((v) >> 16) & 0xFF)
#define BRISALEN_VERSION_MINOR(v) (((v) >> 8) & 0xFF)
#define BRISALEN_VERSION_PATCH(v) ((v)&0xFF)
BRISALEN_C_API uint32_t BRISALEN_CALL BrisalenGetLibraryVersion(void);

/* Hands back anything the library returned by pointer. 1 when it was the
 * library's and is now freed; 0 (nothing done) for null, for a pointer the
 * library did not hand out, and for one already handed back. */
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenFree(const void* pValue);

/* --------------------------------------------------------------------------
 * Lists. Every list is a count and an array of that many entries. */

typedef struct BRISALEN_STRING_LIST {
    uint32_t nCount;
    const wchar_t* const* ppItems;
} BRISALEN_STRING_LIST;

/* A file or folder a task would delete, with its size in bytes (a folder's
 * own size is 0). */
typedef struct BRISALEN_PATH_ENTRY {
    int64_t nSize;
    const wchar_t* pszPath;
    int32_t bFolder;
    int32_t nReserved;
} BRISALEN_PATH_ENTRY;

typedef struct BRISALEN_PATH_LIST {
    uint32_t nCount;
    const BRISALEN_PATH_ENTRY* pItems;
} BRISALEN_PATH_LIST;

/* --------------------------------------------------------------------------
 * The repair manager. Same operations, same results as IFixItunesMgr. */

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenIsItunes64Bit(void);
/* The installed iTunes version, "" when there is none; null on failure. */
BRISALEN_C_API const wchar_t* BRISALEN_CALL BrisalenGetItunesVersion(void);
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenCheckMicrosoftStoreItunes(void);
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenIsOs64Bit(void);
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenOpenItunes(void);

/* Check task. States: the kCheckItunesProductState_* codes of Brisalen.h. */
#define BRISALEN_CHECK_ITEM_CHECKING 1
#define BRISALEN_CHECK_ITEM_SUCCESS 2
#define BRISALEN_CHECK_ITEM_SUCCESS_NOT_SURE 3
#define BRISALEN_CHECK_ITEM_FAIL_MISS 4
#define BRISALEN_CHECK_ITEM_FAIL_BAD 5
#define BRISALEN_CHECK_ALL_COMPLETE 6

typedef struct BRISALEN_CHECK_INFO {
    int32_t nType; /* product type, 1 to 6 */
    int32_t nState;
    const wchar_t* pszProductName;
    const wchar_t* pszVersion;
    const wchar_t* pszMessage;
    const wchar_t* pszServices;
    BRISALEN_STRING_LIST files; /* the damaged product's bad and missing files */
    int32_t nRepairCount;
    int32_t bNeedPackage;
    int32_t nInstalledCount;
    int32_t nCheckedFiles;
} BRISALEN_CHECK_INFO;

typedef void(BRISALEN_CALL* BrisalenCheckCallback)(void* pUser, int32_t nState, const BRISALEN_CHECK_INFO* pInfo);
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenCheckAllItunesComponent(BrisalenCheckCallback pfn, void* pUser,
                                                                     int32_t bVerifyFiles);

/* Repair tasks. States: kRepairItunesState_*; kinds: kRepairKind*. */
#define BRISALEN_REPAIR_ITEM_BEGIN 1
#define BRISALEN_REPAIR_ITEM_SUCCESS 2
#define BRISALEN_REPAIR_ITEM_FAIL 3
#define BRISALEN_REPAIR_ALL_COMPLETE 4
#define BRISALEN_REPAIR_KIND_DAMAGED 2
#define BRISALEN_REPAIR_KIND_MISSING 3

typedef struct BRISALEN_REPAIR_INFO {
    int32_t nType;
    int32_t nKind;
    int32_t bSuccess;
    int32_t nErrorCode;
    const wchar_t* pszMessage;
} BRISALEN_REPAIR_INFO;

typedef void(BRISALEN_CALL* BrisalenRepairCallback)(void* pUser, int32_t nState, const BRISALEN_REPAIR_INFO* pInfo);
/* Repairs what the last check listed: damaged products from their cached
 * packages, missing ones from the installer folder `pszPackageFolder`. */
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenRepairAllItunesComponent(const wchar_t* pszPackageFolder,
                                                                      BrisalenRepairCallback pfn, void* pUser);
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenRepairBadComponent(BrisalenRepairCallback pfn, void* pUser);

/* One-key uninstall task. States: kOneKeyUninstallState_*. */
#define BRISALEN_UNINSTALL_ITEM_BEGIN 1
#define BRISALEN_UNINSTALL_ITEM_END 2
#define BRISALEN_UNINSTALL_DELETE_RESIDUAL_DIR 4
#define BRISALEN_UNINSTALL_DELETE_USER_DATA_DIR 5
#define BRISALEN_UNINSTALL_ALL_COMPLETE 6

typedef struct BRISALEN_UNINSTALL_INFO {
    int32_t nType;
    int32_t bSuccess;
    int32_t nErrorCode;
    int32_t nReserved;
    const wchar_t* pszProductName;
    const wchar_t* pszPath;
    const wchar_t* pszMessage;
    BRISALEN_STRING_LIST files; /* the files that could not be deleted */
} BRISALEN_UNINSTALL_INFO;

typedef void(BRISALEN_CALL* BrisalenUninstallCallback)(void* pUser, int32_t nState,
                                                        const BRISALEN_UNINSTALL_INFO* pInfo);
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenOneKeyUninstall(BrisalenUninstallCallback pfn, void* pUser,
                                                             int32_t bDeleteUserData, uint8_t* pCancel);

/* One-key install task. States: kOneKeyInstallState_*. */
#define BRISALEN_INSTALL_ITEM_BEGIN 1
#define BRISALEN_INSTALL_ITEM_SUCCESS 2
#define BRISALEN_INSTALL_ITEM_FAIL 3
#define BRISALEN_INSTALL_ALL_COMPLETE 4

typedef struct BRISALEN_INSTALL_INFO {
    const wchar_t* pszPackage;
    int32_t bSuccess;
    int32_t nErrorCode;
} BRISALEN_INSTALL_INFO;

typedef void(BRISALEN_CALL* BrisalenInstallCallback)(void* pUser, int32_t nState, const BRISALEN_INSTALL_INFO* pInfo);
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenOneKeyInstall(const wchar_t* pszUnzipFolder, BrisalenInstallCallback pfn,
                                                           void* pUser);

/* --------------------------------------------------------------------------
 * The user-data manager. Same operations, same results as
 * IItunesUserDataMgr. */

#define BRISALEN_ENUM_BEGIN 1
#define BRISALEN_ENUM_PROGRESS 2
#define BRISALEN_ENUM_DEEP_SCAN_BEGIN 3
#define BRISALEN_ENUM_END 4
#define BRISALEN_DELETE_DELETING 1
#define BRISALEN_DELETE_COMPLETE 2

/* An iOS device backup; bValid is 0 in a blank record. */
typedef struct BRISALEN_USER_DATA_ITEM {
    int64_t nSize; /* bytes in the backup folder */
    int64_t nDate; /* the backup date in seconds since 1970 */
    int32_t nId;
    int32_t bValid;
    const wchar_t* pszPath;
    const wchar_t* pszDeviceId;
    const wchar_t* pszDeviceName;
    const wchar_t* pszVersion;
    const wchar_t* pszDate; /* year-month-day */
} BRISALEN_USER_DATA_ITEM;

typedef struct BRISALEN_SCAN_PROGRESS {
    int32_t bDeepScan;
    int32_t nScannedDir;
    int32_t nTotalDir;
} BRISALEN_SCAN_PROGRESS;

typedef struct BRISALEN_ENUM_INFO {
    int64_t nCategorySize;
    int64_t nGroupSize;
    int32_t nGroup;
    int32_t nCategory;
    int32_t nCategoryCount;
    int32_t nGroupCount;
    const BRISALEN_SCAN_PROGRESS* pProgress;
    BRISALEN_USER_DATA_ITEM item;
} BRISALEN_ENUM_INFO;

typedef struct BRISALEN_DELETE_INFO {
    int64_t nDeletedSize;
    int64_t nTotalSize;
    int32_t bSuccess;
    int32_t nResult;
    BRISALEN_STRING_LIST residual;
} BRISALEN_DELETE_INFO;

/* Their result is what the C++ callbacks return (nonzero for true). */
typedef int32_t(BRISALEN_CALL* BrisalenEnumCallback)(void* pUser, int32_t nState, const BRISALEN_ENUM_INFO* pInfo);
typedef int32_t(BRISALEN_CALL* BrisalenDeleteCallback)(void* pUser, int32_t nState, const BRISALEN_DELETE_INFO* pInfo);

BRISALEN_C_API int32_t BRISALEN_CALL BrisalenEnumItunesUserData(BrisalenEnumCallback pfn, void* pUser,
                                                                int32_t bDeepScan, uint8_t* pCancel);
/* Deletes the picked categories (codes 1 to 20) and backups (item ids of
 * the last scan). Either array may be null when its count is 0. */
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenDeleteItunesUserData(BrisalenDeleteCallback pfn, void* pUser,
                                                                  const int32_t* pCategories, uint32_t nCategoryCount,
                                                                  const int32_t* pItems, uint32_t nItemCount,
                                                                  uint8_t* pCancel);

/* The user-data groups and their categories as the last scan counted them. */
typedef struct BRISALEN_CATEGORY_INFO {
    int64_t nSize;
    int32_t nCategory;
    int32_t nCount;
    BRISALEN_STRING_LIST folders; /* registered folders, lower-case */
} BRISALEN_CATEGORY_INFO;

typedef struct BRISALEN_GROUP_INFO {
    int64_t nSize;
    int32_t nGroup;
    int32_t nCount;
    uint32_t nCategoryCount;
    const BRISALEN_CATEGORY_INFO* pCategories;
} BRISALEN_GROUP_INFO;

typedef struct BRISALEN_GROUP_LIST {
    uint32_t nCount;
    const BRISALEN_GROUP_INFO* pItems;
} BRISALEN_GROUP_LIST;

BRISALEN_C_API const BRISALEN_GROUP_LIST* BRISALEN_CALL BrisalenGetAllItunesTypeInfo(void);

/* --------------------------------------------------------------------------
 * Product queries, run on the caller's thread. */

typedef struct BRISALEN_PROPERTY {
    const wchar_t* pszName;
    const wchar_t* pszValue;
} BRISALEN_PROPERTY;

typedef struct BRISALEN_PRODUCT {
    int32_t nProductType; /* 0 for a product outside the family */
    uint32_t nPropertyCount;
    const wchar_t* pszProductCode;
    const BRISALEN_PROPERTY* pProperties;
} BRISALEN_PRODUCT;

typedef struct BRISALEN_PRODUCT_LIST {
    uint32_t nCount;
    const BRISALEN_PRODUCT* pItems;
} BRISALEN_PRODUCT_LIST;

/* Every installed product, in product-code order, unclassified (type 0). */
BRISALEN_C_API const BRISALEN_PRODUCT_LIST* BRISALEN_CALL BrisalenGetAllInstallProductInfo(void);
/* The family's installed products in ascending product code; an empty list
 * when there is none. */
BRISALEN_C_API const BRISALEN_PRODUCT_LIST* BRISALEN_CALL BrisalenQueryItunesService(void);
/* The service names of a product type; null when the type has none listed. */
BRISALEN_C_API const BRISALEN_STRING_LIST* BRISALEN_CALL BrisalenQueryProductService(int32_t nProductType);
/* `pErr` (may be null) receives 0, the installer's code, or -3 when Windows
 * must restart first. */
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenInstallProduct(const wchar_t* pszPackagePath, int32_t* pErr);
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenUninstallProduct(int32_t nProductType, const wchar_t* pszProductCode,
                                                              int32_t* pErr);
/* Kept for hosts that call it: always 1, writes nothing. */
BRISALEN_C_API int32_t BRISALEN_CALL BrisalenSaveProductVerifyInfo(const BRISALEN_CHECK_INFO* pInfos, uint32_t nCount,
                                                                   const wchar_t* pszPath);

/* --------------------------------------------------------------------------
 * Previews: what a task would do now, nothing changed. */

/* One-key uninstall: each product it removes through Windows Installer, in
 * order; the programs it ends; every folder and file that goes: the files
 * the products' packages placed, the folders that leaves empty, and all
 * that stands in the family's residual folders (and, with bDeleteUserData,
 * in the user-data folders). Windows Installer's own cache of the packages
 * (in the Windows folder) is not listed. Just after a task's final record
 * the task may still be ending: a preview or start then refused may be
 * asked again a moment later. */
#define BRISALEN_STEP_UNINSTALL 1

typedef struct BRISALEN_UNINSTALL_STEP {
    int32_t nType;
    int32_t nAction; /* BRISALEN_STEP_UNINSTALL */
    const wchar_t* pszProductName;
    const wchar_t* pszProductCode;
    const wchar_t* pszInstallLocation;
} BRISALEN_UNINSTALL_STEP;

typedef struct BRISALEN_UNINSTALL_PREVIEW {
    uint32_t nStepCount;
    const BRISALEN_UNINSTALL_STEP* pSteps;
    BRISALEN_STRING_LIST residualFolders; /* the family's folders it deletes */
    BRISALEN_STRING_LIST programs;        /* programs it ends, by path */
    BRISALEN_PATH_LIST paths;             /* every file and folder that goes */
    BRISALEN_STRING_LIST userDataFolders; /* with bDeleteUserData: the folders emptied */
    int32_t bStoreEdition;                /* the Store edition is removed too */
    int32_t nReserved;
} BRISALEN_UNINSTALL_PREVIEW;

BRISALEN_C_API const BRISALEN_UNINSTALL_PREVIEW* BRISALEN_CALL BrisalenPreviewOneKeyUninstall(int32_t bDeleteUserData);

/* User-data deletion of a selection, as BrisalenDeleteItunesUserData takes
 * it: every file and folder that goes, with its size; works on the last
 * scan. */
typedef struct BRISALEN_DELETION_PREVIEW {
    int64_t nTotalSize; /* what the scan counted for the selection */
    BRISALEN_PATH_LIST paths;
} BRISALEN_DELETION_PREVIEW;

BRISALEN_C_API const BRISALEN_DELETION_PREVIEW* BRISALEN_CALL
BrisalenPreviewUserDataDeletion(const int32_t* pCategories, uint32_t nCategoryCount, const int32_t* pItems,
                                uint32_t nItemCount);

/* Repair: the steps a check now followed by the repair would take, product
 * by product. With bBadOnly the repair of BrisalenRepairBadComponent,
 * otherwise that of BrisalenRepairAllItunesComponent with the installer
 * folder `pszPackageFolder` (null: no folder). */
#define BRISALEN_REPAIR_REINSTALL 1  /* uninstalled and installed again from pszPackage */
#define BRISALEN_REPAIR_INSTALL 2    /* installed from pszPackage */
#define BRISALEN_REPAIR_NO_PACKAGE 3 /* no package: the repair fails here */
#define BRISALEN_REPAIR_UNKNOWN 4    /* an entry the repair cannot act on: it fails here */

typedef struct BRISALEN_REPAIR_STEP {
    int32_t nType;
    int32_t nKind; /* BRISALEN_REPAIR_KIND_* */
    int32_t nAction;
    int32_t nReserved;
    const wchar_t* pszProductCode;
    const wchar_t* pszPackage;
} BRISALEN_REPAIR_STEP;

typedef struct BRISALEN_REPAIR_PREVIEW {
    uint32_t nCount;
    const BRISALEN_REPAIR_STEP* pItems;
} BRISALEN_REPAIR_PREVIEW;

BRISALEN_C_API const BRISALEN_REPAIR_PREVIEW* BRISALEN_CALL BrisalenPreviewRepair(int32_t bBadOnly,
                                                                                  const wchar_t* pszPackageFolder);

#ifdef __cplusplus
}
#endif

#endif /* BRISALEN_C_H */
