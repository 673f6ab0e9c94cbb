// Public interface of Brisalen.dll: the two manager interfaces, the records
// they report with, the callback types and the factory exports.
//
// Strings and containers cross the boundary by value and by reference, so a
// host must be built with the same C++ standard library as the library.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#if defined(_WIN32)
#  if defined(BRISALEN_BUILDING_LIBRARY)
#    define BRISALEN_API __declspec(dllexport)
#  else
#    define BRISALEN_API __declspec(dllimport)
#  endif
#  define BRISALEN_CDECL __cdecl
#else
#  define BRISALEN_API __attribute__((visibility("default")))
#  define BRISALEN_CDECL
#endif

// ---------------------------------------------------------------------------
// Repair manager tasks: one callback type for all of them.

// (pUser, state code, read-only record of the task). The record lives only
// for the duration of the call.
typedef void(BRISALEN_CDECL* TaskCallback)(void* pUser, int32_t nState, const void* pData);

// Check task: state codes and the record sent with each of them.
enum CheckItunesProductState : int32_t {
    kCheckItunesProductState_Item_Checking = 1,
    kCheckItunesProductState_Item_Success = 2,
    kCheckItunesProductState_Item_Success_NotSure = 3,
    kCheckItunesProductState_Item_Fail_Miss = 4,
    kCheckItunesProductState_Item_Fail_Bad = 5,
    kCheckItunesProductState_All_CheckComplete = 6,
};

// One installed product as Windows Installer describes it. The type is
// kept twice; readers of the record take it from the copy.
struct ST_MSI_PRODUCT_RAW_DATA {
    int32_t nProductType = 0;
    std::wstring strProductCode;
    int32_t nProductTypeCopy = 0;
    std::map<std::wstring, std::wstring> mapProperty;
};

struct ST_MSI_PRODUCT_UI_INFO {
    int32_t nType = 0;
    std::wstring strProductName;
    std::wstring strVersion;
    std::wstring strMessage;
    int32_t nState = 0;
    std::vector<std::wstring> vecFiles;
    int32_t nRepairCount = 0;
    bool bNeedPackage = false;
    int32_t nInstalledCount = 0;
    int32_t nCheckedFiles = 0;
    std::wstring strServices;
};

// Repair task.
enum RepairItunesState : int32_t {
    kRepairItunesState_Item_Begin = 1,
    kRepairItunesState_Item_Success = 2,
    kRepairItunesState_Item_Fail = 3,
    kRepairItunesState_All_Complete = 4,
};

// What a repair does to a product, as ST_REPAIR_PROGRESS_INFO::nKind says.
enum RepairItunesKind : int32_t {
    kRepairKindDamaged = 2,  // uninstalled and installed again
    kRepairKindMissing = 3,  // installed
};
struct ST_REPAIR_PROGRESS_INFO {
    int32_t nType = 0;
    int32_t nKind = 0;
    bool bSuccess = false;
    std::wstring strMessage;
    int32_t nErrorCode = 0;
};

// One-key uninstall task (state 3 is not used).
enum OneKeyUninstallState : int32_t {
    kOneKeyUninstallState_Item_UninstallBegin = 1,
    kOneKeyUninstallState_Item_UninstallEnd = 2,
    kOneKeyUninstallState_DeleteResidualDir = 4,
    kOneKeyUninstallState_DeleteUserDataDir = 5,
    kOneKeyUninstallState_All_UninstallComplete = 6,
};

struct ST_ONEKEY_UNINSTALL_INFO {
    int32_t nType = 0;
    std::wstring strProductName;
    std::wstring strPath;
    bool bSuccess = false;
    std::wstring strMessage;
    int32_t nErrorCode = 0;
    std::vector<std::wstring> vecFiles;
};

// One-key install task.
enum OneKeyInstallState : int32_t {
    kOneKeyInstallState_Item_Begin = 1,
    kOneKeyInstallState_Item_Success = 2,
    kOneKeyInstallState_Item_Fail = 3,  // the task stops
    kOneKeyInstallState_All_Complete = 4,
};

struct ST_ONEKEY_INSTALL_INFO {
    std::wstring strPackage;
    bool bSuccess = false;
    int32_t nErrorCode = 0;
};

// ---------------------------------------------------------------------------
// User-data manager.

enum EnumItunesUserDataState : int32_t {
    kEnumItunesUserDataState_Enum_Begin = 1,
    kEnumItunesUserDataState_Enum_Progress = 2,
    kEnumItunesUserDataState_DeepScan_Begin = 3,
    kEnumItunesUserDataState_Enum_End = 4,
};

enum DeleteItunesUserDataState : int32_t {
    kDeleteItunesUserDataState_Deleting = 1,
    kDeleteItunesUserDataState_DeleteComplete = 2,
};

// One found item of the user data; in this version only iOS device backups
// are items. Every record the library creates, blank ones included, takes
// the next id of one process-wide count: the first record is 1.
struct ST_ITUNES_USER_DATA_ITEM {
    int32_t nId = 0;
    std::wstring strPath;        // the backup folder
    std::wstring strDeviceId;    // the device's unique identifier
    std::wstring strDeviceName;
    std::wstring strVersion;     // the device's iOS version
    std::wstring strDate;        // the backup date, year-month-day
    int64_t nSize = 0;           // bytes in the backup folder
    int64_t nDate = 0;           // the backup date in seconds since 1970
    bool bValid = false;         // false in a blank record
};

// Groups of the user-data categories.
enum ItunesDataGroup : int32_t {
    kItunesDataGroup_Media = 1,
    kItunesDataGroup_Backup = 2,
    kItunesDataGroup_Update = 3,
    kItunesDataGroup_Junk = 4,
    kItunesDataGroup_SpecialItl = 5,
};

// One category's registered folders (lower-case) and what the last scan
// counted in it.
struct ST_ITUNES_CATEGORY_INFO {
    std::vector<std::wstring> vecFolder;
    int64_t nSize = 0;
    int32_t nCount = 0;
};

// One group: its categories by code and its totals.
struct ST_ITUNES_TYPE_INFO {
    std::map<int32_t, ST_ITUNES_CATEGORY_INFO> mapCategory;
    int64_t nSize = 0;
    int32_t nCount = 0;
};

// What GetAllItunesTypeInfoMap points to: the groups by code. The manager
// owns it; read it only while no scan runs, or from the scan's callback.
typedef std::map<int32_t, ST_ITUNES_TYPE_INFO> ItunesTypeInfoMap;

// The scan's progress block; every scan record points to the one the
// manager keeps.
struct ST_ITUNES_SCAN_PROGRESS {
    bool bDeepScan = false;
    int32_t nScannedDir = 0;  // folders entered since the scan began
    int32_t nTotalDir = 0;    // folders a deep scan is expected to enter
};

// The record of every scan callback. Totals are filled for the progress
// state only; `item` is valid (bValid) when the record reports a backup.
struct ST_ITUNES_USER_DATA_ENUM_INFO {
    int32_t nGroup = 0;
    int32_t nCategory = 0;
    int64_t nCategorySize = 0;
    int32_t nCategoryCount = 0;
    int64_t nGroupSize = 0;
    int32_t nGroupCount = 0;
    ST_ITUNES_SCAN_PROGRESS* pProgress = nullptr;
    ST_ITUNES_USER_DATA_ITEM item;
};

struct ST_ITUNES_DELETE_INFO {
    int64_t nDeletedSize = 0;
    int64_t nTotalSize = 0;
    bool bSuccess = true;
    std::vector<std::wstring> vecResidual;
    int32_t nResult = 0;
};

typedef bool(BRISALEN_CDECL* EnumItunesUserDataCallback)(void* pUser, int32_t nState,
                                                         const ST_ITUNES_USER_DATA_ENUM_INFO* pInfo);
typedef bool(BRISALEN_CDECL* DeleteItunesUserDataCallback)(void* pUser, int32_t nState,
                                                           const ST_ITUNES_DELETE_INFO* pInfo);

// ---------------------------------------------------------------------------
// The two managers. The slot order of the virtual functions is binding.

class IFixItunesMgr {
public:
    virtual bool IsItunes64Bit() = 0;                                                        // 0
    virtual std::wstring GetItunesVersion() = 0;                                             // 1
    virtual bool CheckMicrosoftStoreItunes() = 0;                                            // 2
    virtual bool IsOs64Bit() = 0;                                                            // 3
    virtual bool OpenItunes() = 0;                                                           // 4
    virtual bool CheckAllItunesComponent(TaskCallback pfn, void* pUser, bool bVerifyFiles) = 0;  // 5
    virtual bool RepairAllItunesComponent(std::wstring strPackagePath, TaskCallback pfn,
                                          void* pUser) = 0;                                  // 6
    virtual bool RepairBadComponent(TaskCallback pfn, void* pUser) = 0;                      // 7
    virtual bool OneKeyUninstall(TaskCallback pfn, void* pUser, bool isDeleteUserData,
                                 bool* pCancel) = 0;                                         // 8
    virtual bool OneKeyInstall(std::wstring strUnzipPath, TaskCallback pfn, void* pUser) = 0;  // 9

protected:
    // The host never deletes a manager; the library owns it.
    ~IFixItunesMgr() = default;
};

class IItunesUserDataMgr {
public:
    virtual bool EnumItunesUserData(EnumItunesUserDataCallback callback, void* pUser, bool bDeepScan,
                                    bool* pCancleEnumUserData) = 0;                           // 0
    virtual bool DeleteItuensUserData(DeleteItunesUserDataCallback callback, void* pUser,
                                      std::vector<int32_t>& vecCategory, std::vector<int32_t>& vecItem,
                                      bool* pCancel) = 0;                                    // 1

protected:
    ~IItunesUserDataMgr() = default;
};

extern "C" {
BRISALEN_API IFixItunesMgr* BRISALEN_CDECL CreateFixItuensMgr();
BRISALEN_API IItunesUserDataMgr* BRISALEN_CDECL CreateItunesUserDataMgr();
}

// Product queries and single-product installs, run on the caller's thread.
// They are C++ functions, exported under their decorated names only. Every
// pointer they return belongs to the library and stays valid until it is
// unloaded; what it points to is rebuilt by later calls (see each). Do not
// call them while a task of the repair manager runs.

// Every installed product keyed by lower-cased product code, unclassified
// (type 0). Rebuilt by each call, emptied by each family load (the family
// query below, the check, the one-key uninstall).
BRISALEN_API std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA>* BRISALEN_CDECL GetAllInstallProductInfo();
// Replaces `products` with the family's installed products in ascending
// product code; true when there is at least one.
BRISALEN_API bool BRISALEN_CDECL QueryItunesService(std::vector<ST_MSI_PRODUCT_RAW_DATA>& products);
// The service names of a product type (1 to 6), or null when the type has
// none listed.
BRISALEN_API std::vector<std::wstring>* BRISALEN_CDECL QueryProductService(int productType);
// Installs a package; `err` receives 0, the installer's code, or -3 when
// Windows must restart first.
BRISALEN_API bool BRISALEN_CDECL InstallProduct(std::wstring packagePath, int* err);
// Uninstalls a product and cleans up after it; true when no registration
// remains (a code that was not installed gives true with 1605).
BRISALEN_API bool BRISALEN_CDECL UninstallProduct(int productType, std::wstring productCode, int* err);
// Kept for hosts that call it: always true, writes nothing.
BRISALEN_API bool BRISALEN_CDECL SaveProductVerifyInfo(std::vector<ST_MSI_PRODUCT_UI_INFO>& infos,
                                                      std::wstring& path);
// The user-data manager's group map (an ItunesTypeInfoMap), untyped.
BRISALEN_API void* BRISALEN_CDECL GetAllItunesTypeInfoMap();

// Entry point names for hosts that load the library at run time.
typedef IFixItunesMgr*(BRISALEN_CDECL* CreateFixItuensMgrFn)();
typedef IItunesUserDataMgr*(BRISALEN_CDECL* CreateItunesUserDataMgrFn)();
