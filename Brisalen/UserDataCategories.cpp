#include "Brisalen/UserDataCategories.h"

#include <vector>

#include "common/TextHelpers.h"

namespace {

enum class Base { MyMusic, AppData, LocalAppData, ProgramData };

struct Folder {
    Base base;
    const wchar_t* suffix;
};

struct CategoryRow {
    int32_t code;
    int32_t group;
    const wchar_t* label;
    std::vector<Folder> folders;
};

// The rows in the order they are registered: media, backups, the special
// files, then updates and junk. Only the order of folders inside one
// category is significant: classification takes the first that matches.
const std::vector<CategoryRow>& Rows() {
    static const std::vector<CategoryRow> rows = {
        {1, kItunesDataGroup_Media, L"Music",
         {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Music"}, {Base::MyMusic, L"\\iTunes\\iTunes Media\\Apple Music"}}},
        {2, kItunesDataGroup_Media, L"Movie", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Movies"}}},
        {3, kItunesDataGroup_Media, L"Home Videos", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Home Videos"}}},
        {4, kItunesDataGroup_Media, L"TV shows", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\TV Shows"}}},
        {5, kItunesDataGroup_Media, L"Podcasts", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Podcasts"}}},
        {6, kItunesDataGroup_Media, L"Audiobooks", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Audiobooks"}}},
        {7, kItunesDataGroup_Media, L"iTunes U", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\iTunes U"}}},
        {8, kItunesDataGroup_Media, L"Voice Memos", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Voice Memos"}}},
        {9, kItunesDataGroup_Media, L"Books", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Books"}}},
        {10, kItunesDataGroup_Media, L"Tones", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Tones"}}},
        {11, kItunesDataGroup_Media, L"Downloads", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Downloads"}}},
        {12, kItunesDataGroup_Backup, L"ITUNES备份", {}},
        {20, kItunesDataGroup_SpecialItl, L"special itl",
         {{Base::MyMusic, L"\\iTunes"}, {Base::ProgramData, L"\\Apple\\Lockdown"}}},
        {13, kItunesDataGroup_Update, L"iTunes升级固件包", {{Base::LocalAppData, L"\\Apple\\Apple Software Update"}}},
        {14, kItunesDataGroup_Update, L"iOS升级固件包",
         {{Base::AppData, L"\\Apple Computer\\iTunes\\iPhone Software Updates"},
          {Base::AppData, L"\\Apple Computer\\iTunes\\iPad Software Updates"},
          {Base::AppData, L"\\Apple Computer\\iTunes\\iPod Software Updates"},
          {Base::ProgramData, L"\\Apple Computer\\iTunes"}}},
        {15, kItunesDataGroup_Junk, L"Mobile app", {{Base::MyMusic, L"\\iTunes\\iTunes Media\\Mobile Applications"}}},
        {16, kItunesDataGroup_Junk, L"Cache",
         {{Base::ProgramData, L"\\Apple\\Installer Cache"},
          {Base::ProgramData, L"\\Apple Computer\\Installer Cache"},
          {Base::MyMusic, L"\\iTunes\\Album Artwork\\Cache"}}},
        {17, kItunesDataGroup_Junk, L"Cookies", {{Base::AppData, L"\\Apple Computer\\iTunes\\Cookies"}}},
        {18, kItunesDataGroup_Junk, L"Logs",
         {{Base::AppData, L"\\Apple Computer\\Logs"},
          {Base::AppData, L"\\Apple Computer\\iTunes\\iPhone Updater Logs"},
          {Base::AppData, L"\\Apple Computer\\iTunes\\iPad Updater Logs"},
          {Base::AppData, L"\\Apple Computer\\iTunes\\iPod Updater Logs"}}},
        {19, kItunesDataGroup_Junk, L"Other Junk Files", {}},
    };
    return rows;
}

const std::wstring& BaseFolder(const UserDataBases& bases, Base base) {
    switch (base) {
        case Base::MyMusic: return bases.myMusic;
        case Base::AppData: return bases.appData;
        case Base::LocalAppData: return bases.localAppData;
        case Base::ProgramData: break;
    }
    return bases.programData;
}

}  // namespace

std::wstring GetItunesCategoryName(int32_t category) {
    for (const CategoryRow& row : Rows()) {
        if (row.code == category) return row.label;
    }
    return L"unknown";
}

bool IsMediaCategory(int32_t category) {
    return (category >= kCategoryFirst && category <= 11) || category == kCategoryMobileApp;
}

void BuildCategoryTables(const UserDataBases& bases, ItunesTypeInfoMap& groups, CategoryIndex& index) {
    index.clear();
    groups.clear();
    for (const CategoryRow& row : Rows()) {
        ST_ITUNES_CATEGORY_INFO& info = groups[row.group].mapCategory[row.code];
        for (const Folder& folder : row.folders) info.vecFolder.push_back(BaseFolder(bases, folder.base) + folder.suffix);
    }
    for (auto& [groupCode, group] : groups) {
        for (auto& [categoryCode, info] : group.mapCategory) {
            for (std::wstring& folder : info.vecFolder) AsciiLowerInPlace(folder);
            index[categoryCode] = ST_ITUNES_CATEGORY_REF{groupCode, categoryCode, &group.nSize, &group.nCount, &info};
        }
    }
}
