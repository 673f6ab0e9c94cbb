// The binary layout of every record include/Brisalen.h hands to hosts, held
// to numbers worked out by hand from the field tables, so that a reordered,
// retyped or inserted field stops the build instead of a host that was built
// against the old layout reading the wrong bytes.
//
// A host reads these records through its own copy of the header, compiled
// with the same standard library: std::wstring, std::vector and std::map
// are the libstdc++ ones (wstring: pointer, length, 16-byte local buffer;
// vector: three pointers; map: comparator padded to a word, a header node of
// colour and three links, and a count). On i686 MinGW 64-bit fields are
// 8-byte aligned inside records, as the Microsoft layout has them; the
// x86_64 builds (MinGW and Linux) share one table.
//
// The slot order of the two interfaces is a run-time matter for the
// compiler (pointers to virtual members are not constants), so the unit
// tests check it.
#include <cstddef>

#include "include/Brisalen.h"

#pragma GCC diagnostic push
// The records hold library types and so are not standard-layout; GCC lays
// them out all the same and answers offsetof for them.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace {

#if defined(_WIN32) && !defined(_WIN64)
constexpr bool kI686 = true;
#elif defined(__x86_64__) || defined(_WIN64)
constexpr bool kI686 = false;
#else
#error "No layout table for this target: work one out before building for it"
#endif

// The i686 number or the x86_64 one.
constexpr size_t N(size_t i686, size_t x64) { return kI686 ? i686 : x64; }

#define BRISALEN_FIELD(T, field, i686, x64) \
    static_assert(offsetof(T, field) == N(i686, x64), #T "::" #field " moved")
#define BRISALEN_SIZE(T, i686, x64) static_assert(sizeof(T) == N(i686, x64), "sizeof(" #T ") changed")

// The building blocks the tables below are made of.
static_assert(sizeof(std::wstring) == N(24, 32) && alignof(std::wstring) == N(4, 8), "std::wstring");
static_assert(sizeof(std::vector<std::wstring>) == N(12, 24), "std::vector");
static_assert(sizeof(std::map<std::wstring, std::wstring>) == N(24, 48), "std::map");
static_assert(sizeof(bool) == 1, "bool");

BRISALEN_SIZE(ST_MSI_PRODUCT_RAW_DATA, 56, 96);
BRISALEN_FIELD(ST_MSI_PRODUCT_RAW_DATA, nProductType, 0, 0);
BRISALEN_FIELD(ST_MSI_PRODUCT_RAW_DATA, strProductCode, 4, 8);
BRISALEN_FIELD(ST_MSI_PRODUCT_RAW_DATA, nProductTypeCopy, 28, 40);
BRISALEN_FIELD(ST_MSI_PRODUCT_RAW_DATA, mapProperty, 32, 48);

BRISALEN_SIZE(ST_MSI_PRODUCT_UI_INFO, 132, 184);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, nType, 0, 0);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, strProductName, 4, 8);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, strVersion, 28, 40);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, strMessage, 52, 72);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, nState, 76, 104);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, vecFiles, 80, 112);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, nRepairCount, 92, 136);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, bNeedPackage, 96, 140);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, nInstalledCount, 100, 144);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, nCheckedFiles, 104, 148);
BRISALEN_FIELD(ST_MSI_PRODUCT_UI_INFO, strServices, 108, 152);

BRISALEN_SIZE(ST_REPAIR_PROGRESS_INFO, 40, 56);
BRISALEN_FIELD(ST_REPAIR_PROGRESS_INFO, nType, 0, 0);
BRISALEN_FIELD(ST_REPAIR_PROGRESS_INFO, nKind, 4, 4);
BRISALEN_FIELD(ST_REPAIR_PROGRESS_INFO, bSuccess, 8, 8);
BRISALEN_FIELD(ST_REPAIR_PROGRESS_INFO, strMessage, 12, 16);
BRISALEN_FIELD(ST_REPAIR_PROGRESS_INFO, nErrorCode, 36, 48);

BRISALEN_SIZE(ST_ONEKEY_UNINSTALL_INFO, 96, 144);
BRISALEN_FIELD(ST_ONEKEY_UNINSTALL_INFO, nType, 0, 0);
BRISALEN_FIELD(ST_ONEKEY_UNINSTALL_INFO, strProductName, 4, 8);
BRISALEN_FIELD(ST_ONEKEY_UNINSTALL_INFO, strPath, 28, 40);
BRISALEN_FIELD(ST_ONEKEY_UNINSTALL_INFO, bSuccess, 52, 72);
BRISALEN_FIELD(ST_ONEKEY_UNINSTALL_INFO, strMessage, 56, 80);
BRISALEN_FIELD(ST_ONEKEY_UNINSTALL_INFO, nErrorCode, 80, 112);
BRISALEN_FIELD(ST_ONEKEY_UNINSTALL_INFO, vecFiles, 84, 120);

BRISALEN_SIZE(ST_ONEKEY_INSTALL_INFO, 32, 40);
BRISALEN_FIELD(ST_ONEKEY_INSTALL_INFO, strPackage, 0, 0);
BRISALEN_FIELD(ST_ONEKEY_INSTALL_INFO, bSuccess, 24, 32);
BRISALEN_FIELD(ST_ONEKEY_INSTALL_INFO, nErrorCode, 28, 36);

BRISALEN_SIZE(ST_ITUNES_USER_DATA_ITEM, 152, 192);
static_assert(alignof(ST_ITUNES_USER_DATA_ITEM) == 8, "ST_ITUNES_USER_DATA_ITEM alignment");
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ITEM, nId, 0, 0);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ITEM, strPath, 4, 8);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ITEM, strDeviceId, 28, 40);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ITEM, strDeviceName, 52, 72);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ITEM, strVersion, 76, 104);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ITEM, strDate, 100, 136);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ITEM, nSize, 128, 168);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ITEM, nDate, 136, 176);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ITEM, bValid, 144, 184);

BRISALEN_SIZE(ST_ITUNES_CATEGORY_INFO, 32, 40);
BRISALEN_FIELD(ST_ITUNES_CATEGORY_INFO, vecFolder, 0, 0);
BRISALEN_FIELD(ST_ITUNES_CATEGORY_INFO, nSize, 16, 24);
BRISALEN_FIELD(ST_ITUNES_CATEGORY_INFO, nCount, 24, 32);

BRISALEN_SIZE(ST_ITUNES_TYPE_INFO, 40, 64);
BRISALEN_FIELD(ST_ITUNES_TYPE_INFO, mapCategory, 0, 0);
BRISALEN_FIELD(ST_ITUNES_TYPE_INFO, nSize, 24, 48);
BRISALEN_FIELD(ST_ITUNES_TYPE_INFO, nCount, 32, 56);
// The group map the host reads through GetAllItunesTypeInfoMap.
static_assert(sizeof(ItunesTypeInfoMap) == N(24, 48), "ItunesTypeInfoMap");

BRISALEN_SIZE(ST_ITUNES_SCAN_PROGRESS, 12, 12);
BRISALEN_FIELD(ST_ITUNES_SCAN_PROGRESS, bDeepScan, 0, 0);
BRISALEN_FIELD(ST_ITUNES_SCAN_PROGRESS, nScannedDir, 4, 4);
BRISALEN_FIELD(ST_ITUNES_SCAN_PROGRESS, nTotalDir, 8, 8);

BRISALEN_SIZE(ST_ITUNES_USER_DATA_ENUM_INFO, 192, 240);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ENUM_INFO, nGroup, 0, 0);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ENUM_INFO, nCategory, 4, 4);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ENUM_INFO, nCategorySize, 8, 8);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ENUM_INFO, nCategoryCount, 16, 16);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ENUM_INFO, nGroupSize, 24, 24);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ENUM_INFO, nGroupCount, 32, 32);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ENUM_INFO, pProgress, 36, 40);
BRISALEN_FIELD(ST_ITUNES_USER_DATA_ENUM_INFO, item, 40, 48);

BRISALEN_SIZE(ST_ITUNES_DELETE_INFO, 40, 56);
BRISALEN_FIELD(ST_ITUNES_DELETE_INFO, nDeletedSize, 0, 0);
BRISALEN_FIELD(ST_ITUNES_DELETE_INFO, nTotalSize, 8, 8);
BRISALEN_FIELD(ST_ITUNES_DELETE_INFO, bSuccess, 16, 16);
BRISALEN_FIELD(ST_ITUNES_DELETE_INFO, vecResidual, 20, 24);
BRISALEN_FIELD(ST_ITUNES_DELETE_INFO, nResult, 32, 48);

// The state codes and enumerations travel as 32-bit integers.
static_assert(sizeof(CheckItunesProductState) == 4 && sizeof(EnumItunesUserDataState) == 4 &&
                  sizeof(DeleteItunesUserDataState) == 4 && sizeof(OneKeyUninstallState) == 4,
              "state codes are 32-bit");

#undef BRISALEN_FIELD
#undef BRISALEN_SIZE

}  // namespace

#pragma GCC diagnostic pop
