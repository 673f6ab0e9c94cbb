// What a user-data deletion will take, worked out from the last scan's
// results and the host's pick: first the folders, junk files and spared
// backups of the selection, then, from what a walk of those folders found,
// every file and folder that goes, with its size. Nothing here touches the
// machine or the log; the deletion then removes exactly what it lists.
//
// The deletion guard and the scan's reach have the last word on every
// folder and junk file: the engine judges each while reading the facts, and
// one they did not pass never reaches the file set.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// A category of the last scan.
struct UserDataCategoryFacts {
    int32_t code = 0;
    std::wstring label;
    std::vector<std::wstring> folders;
    int64_t size = 0;
};

// A backup the last scan found.
struct UserDataBackupFacts {
    int32_t id = 0;
    std::wstring deviceName;
    std::wstring path;
    int64_t size = 0;
};

struct UserDataSelectionFacts {
    std::vector<UserDataCategoryFacts> categories;  // every category of the scan, by code
    std::vector<UserDataBackupFacts> backups;       // every backup of the scan, by id
    std::set<std::wstring> junkFiles;               // recorded under the junk category
    std::vector<int32_t> pickedCategories;
    std::vector<int32_t> pickedBackups;
};

struct PickedCategory {
    int32_t code = 0;
    std::wstring label;
    bool kept = false;  // the library file is never deleted
    std::vector<std::wstring> folders;
};

struct UserDataDeletionPlan {
    std::vector<PickedCategory> categories;    // picked, by code
    std::vector<UserDataBackupFacts> backups;  // picked, in the host's order
    std::set<std::wstring> folders;            // ordered by code unit
    std::set<std::wstring> junkFiles;
    // The backups the scan found and the host did not pick, in SpareKey
    // form: counted under category 12 alone, so a category folder that
    // holds one leaves it in place.
    std::set<std::wstring> sparedBackups;
    bool mediaSelected = false;
    bool junkSelected = false;
    int64_t totalSize = 0;  // what the scan counted for the selection
};

UserDataDeletionPlan PlanUserDataDeletion(const UserDataSelectionFacts& facts);

// One spelling for a folder whether the walk reached it plainly or in the
// literal \\?\ form, letters folded as the scan folds them.
std::wstring SpareKey(const std::wstring& path);

// An entry a walk of a planned folder met, depth first, links not entered.
struct UserDataEntryFacts {
    std::wstring path;
    uint64_t size = 0;
    bool folder = false;
    bool link = false;
};

// A planned folder as the engine found it.
struct PlannedFolderFacts {
    std::wstring folder;
    bool exists = false;
    bool reached = false;      // through no link but those the scan walked through
    bool guardAllows = false;  // the deletion guard lets it go as a tree
    bool link = false;         // the folder itself is a link: it goes as one
    std::vector<UserDataEntryFacts> entries;
};

// A recorded junk file as the engine found it.
struct JunkFileFacts {
    std::wstring path;
    bool exists = false;
    bool reached = false;  // its folder, as for a planned folder
    bool guardAllows = false;
    uint64_t size = 0;
};

// The folder of recorded junk files: it goes too once the junk emptied it.
struct JunkFolderFacts {
    std::wstring folder;
    bool guardAllows = false;
    std::vector<std::wstring> children;  // what is in it now, by full path
};

struct UserDataFileSetEntry {
    std::wstring path;
    uint64_t size = 0;  // a folder's or a link's own: 0
    bool folder = false;
};

// Every file and folder the deletion removes: each planned folder the
// guard and the reach passed with what is in it, spared backups left out,
// a link as the link alone; then the junk files that pass, and each junk
// folder that nothing outside the set is left in.
std::vector<UserDataFileSetEntry> PlanUserDataFileSet(const UserDataDeletionPlan& plan,
                                                      const std::vector<PlannedFolderFacts>& folders,
                                                      const std::vector<JunkFileFacts>& junk,
                                                      const std::vector<JunkFolderFacts>& junkFolders);
