#include "Brisalen/UserDataDeletionFacts.h"

#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/FolderWalker.h"
#include "common/PathHelpers.h"
#include "platform/Platform.h"

namespace {

bool OnEntry(void* context, const std::wstring& dirPath, const platform::FindData* entry, uint32_t code, uint32_t) {
    if (code >= kWalkStartFolderDone || entry == nullptr) return true;
    auto& entries = *static_cast<std::vector<UserDataEntryFacts>*>(context);
    entries.push_back({dirPath + entry->name, entry->size, entry->IsDirectory(), entry->IsLink()});
    return true;  // links are entered only through a link filter, and none is set
}

}  // namespace

std::vector<UserDataEntryFacts> WalkFolderEntries(platform::IFileSystem& files, const std::wstring& folder) {
    std::vector<UserDataEntryFacts> entries;
    CFolderWalker walker(files);
    if (!walker.AddStartFolder(folder)) return entries;
    walker.SetHandler(&OnEntry, &entries, nullptr);
    walker.Run();
    return entries;
}

std::vector<PlannedFolderFacts> ReadPlannedFolders(platform::Platform& os, const std::set<std::wstring>& folders,
                                                   const UserDataReach& reach) {
    const DeletionGuard guard(os);
    std::vector<PlannedFolderFacts> read;
    for (const std::wstring& folder : folders) {
        PlannedFolderFacts facts;
        facts.folder = folder;
        facts.exists = FileExists(os.Files(), folder);
        std::wstring link;
        facts.reached = facts.exists && reach.Reaches(folder, false, link);
        std::wstring target;
        facts.guardAllows = facts.reached && guard.AllowsTree(folder, target);
        if (facts.guardAllows) {
            RemoveTrailingBackslash(target);
            facts.link = IsLink(os.Files(), target);
            if (!facts.link) facts.entries = WalkFolderEntries(os.Files(), target);
        }
        read.push_back(std::move(facts));
    }
    return read;
}

std::vector<JunkFileFacts> ReadJunkFiles(platform::Platform& os, const std::set<std::wstring>& files,
                                         const UserDataReach& reach) {
    platform::IFileSystem& fs = os.Files();
    const DeletionGuard guard(os);
    std::vector<JunkFileFacts> read;
    for (const std::wstring& path : files) {
        JunkFileFacts facts;
        facts.path = path;
        facts.exists = FileExists(os.Files(), path);
        const auto attributes = fs.GetAttributesEx(path);
        facts.size = attributes ? (*attributes).size : 0;
        std::wstring parent;
        std::wstring link;
        facts.reached = GetParentDir(path, parent) && reach.Reaches(parent, true, link);
        std::wstring target;
        facts.guardAllows = facts.exists && facts.reached && guard.AllowsFile(path, target);
        read.push_back(std::move(facts));
    }
    return read;
}

std::vector<JunkFolderFacts> ReadJunkFolders(platform::Platform& os, const std::set<std::wstring>& files) {
    std::set<std::wstring> parents;
    for (const std::wstring& path : files) {
        std::wstring parent;
        if (GetParentDir(path, parent)) parents.insert(parent);
    }
    const DeletionGuard guard(os);
    std::vector<JunkFolderFacts> read;
    for (const std::wstring& parent : parents) {
        JunkFolderFacts facts;
        facts.folder = parent;
        std::wstring target;
        facts.guardAllows = FileExists(os.Files(), parent) && guard.AllowsTree(parent, target);
        if (facts.guardAllows) {
            std::vector<std::wstring> children;
            uint64_t total = 0;
            EnumDir(os.Files(), parent, children, children, total, false);
            facts.children = std::move(children);
        }
        read.push_back(std::move(facts));
    }
    return read;
}
