// The vocabulary of the iTunes user data: twenty categories in five groups,
// the folders registered for each, and the tables a scan fills.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "include/Brisalen.h"

// Category codes that the scan and the deletion treat apart.
constexpr int32_t kCategoryFirst = 1;
constexpr int32_t kCategoryBackup = 12;
constexpr int32_t kCategoryMobileApp = 15;
constexpr int32_t kCategoryJunk = 19;
constexpr int32_t kCategorySpecialItl = 20;
constexpr int32_t kCategoryLast = 20;

// "Music", "ITUNES备份", ...; "unknown" for a code outside 1 to 20.
std::wstring GetItunesCategoryName(int32_t category);

// Media categories: deleting one of them calls for the library update.
bool IsMediaCategory(int32_t category);

// One category as the scan and the deletion reach it: its codes, its info
// in the group map and its group's totals. The links point into the group
// map, whose nodes never move while the map lives.
struct ST_ITUNES_CATEGORY_REF {
    int32_t nGroup = 0;
    int32_t nCategory = 0;
    int64_t* pGroupSize = nullptr;
    int32_t* pGroupCount = nullptr;
    ST_ITUNES_CATEGORY_INFO* pInfo = nullptr;
};

using CategoryIndex = std::map<int32_t, ST_ITUNES_CATEGORY_REF>;

// The user's folders the registered folders start from.
struct UserDataBases {
    std::wstring myMusic;
    std::wstring appData;
    std::wstring localAppData;
    std::wstring programData;
};

// Rebuilds `groups` with every category, its folders lower-cased (ASCII
// letters only) and zero totals, and `index` over it in ascending code.
void BuildCategoryTables(const UserDataBases& bases, ItunesTypeInfoMap& groups, CategoryIndex& index);
