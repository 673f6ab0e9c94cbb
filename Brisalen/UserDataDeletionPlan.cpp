#include "Brisalen/UserDataDeletionPlan.h"

#include <algorithm>

#include "Brisalen/UserDataCategories.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"

namespace {

bool Picked(const std::vector<int32_t>& picked, int32_t id) {
    return std::find(picked.begin(), picked.end(), id) != picked.end();
}

// Whether `path` is `folder` or lies below it, both in SpareKey form.
bool AtOrBelow(const std::wstring& path, const std::wstring& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == L'\\');
}

bool Spared(const std::set<std::wstring>& spared, const std::wstring& key) {
    return std::any_of(spared.begin(), spared.end(),
                       [&key](const std::wstring& folder) { return AtOrBelow(key, folder); });
}

}  // namespace

std::wstring SpareKey(const std::wstring& path) {
    std::wstring key = path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
    RemoveTrailingBackslash(key);
    return AsciiLower(key);
}

UserDataDeletionPlan PlanUserDataDeletion(const UserDataSelectionFacts& facts) {
    UserDataDeletionPlan plan;
    for (const UserDataCategoryFacts& category : facts.categories) {
        if (!Picked(facts.pickedCategories, category.code)) continue;
        PickedCategory picked;
        picked.code = category.code;
        picked.label = category.label;
        picked.kept = category.code == kCategorySpecialItl;
        if (!picked.kept) {
            picked.folders = category.folders;
            if (IsMediaCategory(category.code)) plan.mediaSelected = true;
            if (category.code == kCategoryJunk) {
                plan.junkSelected = true;
                plan.junkFiles = facts.junkFiles;
            }
            plan.folders.insert(category.folders.begin(), category.folders.end());
            plan.totalSize += category.size;
        }
        plan.categories.push_back(std::move(picked));
    }
    for (int32_t id : facts.pickedBackups) {
        const auto backup = std::find_if(facts.backups.begin(), facts.backups.end(),
                                         [id](const UserDataBackupFacts& b) { return b.id == id; });
        if (backup == facts.backups.end()) continue;
        plan.backups.push_back(*backup);
        plan.folders.insert(backup->path);
        plan.totalSize += backup->size;
    }
    for (const UserDataBackupFacts& backup : facts.backups) {
        if (plan.folders.count(backup.path) == 0) plan.sparedBackups.insert(SpareKey(backup.path));
    }
    return plan;
}

std::vector<UserDataFileSetEntry> PlanUserDataFileSet(const UserDataDeletionPlan& plan,
                                                      const std::vector<PlannedFolderFacts>& folders,
                                                      const std::vector<JunkFileFacts>& junk,
                                                      const std::vector<JunkFolderFacts>& junkFolders) {
    std::vector<UserDataFileSetEntry> set;
    for (const PlannedFolderFacts& folder : folders) {
        if (!folder.exists || !folder.reached || !folder.guardAllows) continue;
        std::vector<UserDataFileSetEntry> going{{folder.folder, 0, true}};
        // A spared backup stays, and so does every folder above it up to
        // the planned one: none of them is empty when its turn comes.
        std::vector<std::wstring> staying;
        if (!folder.link) {
            for (const UserDataEntryFacts& entry : folder.entries) {
                const std::wstring key = SpareKey(entry.path);
                if (Spared(plan.sparedBackups, key)) {
                    if (plan.sparedBackups.count(key) != 0) staying.push_back(key);
                    continue;
                }
                going.push_back({entry.path, entry.folder || entry.link ? 0 : entry.size, entry.folder});
            }
        }
        for (UserDataFileSetEntry& entry : going) {
            const std::wstring key = SpareKey(entry.path);
            const bool holdsSpared =
                entry.folder && std::any_of(staying.begin(), staying.end(),
                                            [&key](const std::wstring& spared) { return AtOrBelow(spared, key); });
            if (!holdsSpared) set.push_back(std::move(entry));
        }
    }
    // A junk folder is tried once one of its recorded files is gone, after
    // every planned folder went.
    std::set<std::wstring> tried;
    for (const JunkFileFacts& file : junk) {
        const bool goes = file.exists && file.reached && file.guardAllows;
        if (goes) set.push_back({file.path, file.size, false});
        std::wstring parent = file.path;
        const size_t cut = parent.find_last_of(L'\\');
        if ((goes || !file.exists) && cut != std::wstring::npos) tried.insert(SpareKey(parent.substr(0, cut)));
    }
    std::set<std::wstring> going;
    for (const UserDataFileSetEntry& entry : set) going.insert(SpareKey(entry.path));
    for (const JunkFolderFacts& folder : junkFolders) {
        if (!folder.guardAllows || tried.count(SpareKey(folder.folder)) == 0) continue;
        const bool emptied =
            std::all_of(folder.children.begin(), folder.children.end(),
                        [&going](const std::wstring& child) { return going.count(SpareKey(child)) != 0; });
        if (emptied) set.push_back({folder.folder, 0, true});
    }
    return set;
}
