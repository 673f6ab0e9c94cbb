// The one-key uninstall's preview: the same facts and plan the run starts
// from, and what would go, read without deleting or ending anything: the
// files each product's package placed (Windows Installer takes them), the
// folders that leaves empty, and what the guarded deletions take of each
// residual and user-data folder.
#include <algorithm>
#include <map>

#include "Brisalen/MsiDB.h"
#include "Brisalen/OneKeyuninstall.h"
#include "Brisalen/UninstallFacts.h"
#include "Brisalen/UserDataDeletionFacts.h"
#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "common/ProcessControl.h"
#include "common/TextHelpers.h"

// The entries that go, one per folded path: nested folders of the plan are
// walked once each but listed once.
class DoomedPaths {
public:
    explicit DoomedPaths(platform::IFileSystem& files) : files_(files) {}

    // The folder as the guard's canonical form, and what is below it when it
    // is no link (a link goes as the link alone).
    void AddTree(std::wstring canonical) {
        RemoveTrailingBackslash(canonical);
        Add({canonical, 0, true});
        if (IsLink(files_, canonical)) return;
        for (const UserDataEntryFacts& entry : WalkFolderEntries(files_, canonical)) {
            Add({entry.path, entry.folder ? 0 : entry.size, entry.folder});
        }
    }

    void AddFile(const std::wstring& path) {
        // One search answers all three: there, a plain file, its size.
        if (!files_.FindFirst(path, probe_) || probe_.IsDirectory() || probe_.IsLink()) return;
        Add({path, probe_.size, false});
    }

    // Windows Installer takes away the folders its files leave empty; a
    // folder the guard keeps as a whole (Common Files, a profile) stays
    // even then. Deepest first, so an emptied folder can empty its parent.
    void AddEmptiedFolders(const DeletionGuard& guard) {
        std::set<std::wstring> candidates;
        for (const auto& [key, entry] : byFolded_) AddParent(entry.path, candidates);
        while (!candidates.empty()) {
            const auto deepest = std::max_element(candidates.begin(), candidates.end(), &Shallower);
            const std::wstring folder = *deepest;
            candidates.erase(deepest);
            if (folder.size() <= 3 || byFolded_.count(AsciiLower(folder)) != 0 || !Emptied(folder)) continue;
            if (!guard.WouldAllowProductTree(folder)) continue;
            Add({folder, 0, true});
            AddParent(folder, candidates);
        }
    }

    std::vector<UserDataFileSetEntry> Entries() const {
        std::vector<UserDataFileSetEntry> entries;
        for (const auto& [key, entry] : byFolded_) entries.push_back(entry);
        return entries;
    }

private:
    void Add(UserDataFileSetEntry entry) { byFolded_.emplace(AsciiLower(entry.path), std::move(entry)); }

    static bool Shallower(const std::wstring& a, const std::wstring& b) {
        return std::count(a.begin(), a.end(), L'\\') < std::count(b.begin(), b.end(), L'\\');
    }

    static void AddParent(const std::wstring& path, std::set<std::wstring>& folders) {
        std::wstring parent;
        if (GetParentDir(path, parent)) folders.insert(parent);
    }

    // Whether everything in the folder is going.
    bool Emptied(const std::wstring& folder) {
        std::vector<std::wstring> files;
        std::vector<std::wstring> folders;
        uint64_t total = 0;
        if (!FileExists(files_, folder) || !EnumDir(files_, folder, files, folders, total, false)) return false;
        files.insert(files.end(), folders.begin(), folders.end());
        return std::all_of(files.begin(), files.end(),
                           [this](const std::wstring& child) { return byFolded_.count(AsciiLower(child)) != 0; });
    }

    platform::IFileSystem& files_;
    platform::FindData probe_;
    std::map<std::wstring, UserDataFileSetEntry> byFolded_;
};

void COneKeyuninstall::AddPackageFiles(DoomedPaths& doomed) const {
    for (const auto& [key, record] : m_products.ItunesProducts()) {
        CMsiDB package(m_os, m_folders);
        if (!package.Init(ProductProperty(record, L"LocalPackage"))) continue;
        std::vector<std::wstring> files;
        if (!package.InstalledFiles(record.strProductCode, files)) continue;
        for (const std::wstring& file : files) doomed.AddFile(file);
    }
}

UninstallPreview COneKeyuninstall::Preview(bool isDeleteUserData) {
    UninstallPreview preview;
    const ProductRemovalPlan plan = PlanProductRemoval(ReadFamilyProducts(m_products));
    preview.steps = plan.steps;
    // The run deletes each spelling of a folder (an install location with
    // its trailing backslash, the same folder found under Program Files
    // without); the first takes it, so the host hears of it once.
    std::set<std::wstring> seen;
    for (std::wstring folder :
         PlanResidualFolders(JudgeResidualFolders(m_os, ResidualCandidates(m_folders, plan), plan.leavingCodes))) {
        RemoveTrailingBackslash(folder);
        if (seen.insert(AsciiLower(folder)).second) preview.residualFolders.push_back(folder);
    }
    preview.programs = ProgramsRunningFrom(m_os, preview.residualFolders);

    const DeletionGuard guard(m_os, plan.leavingCodes);
    DoomedPaths doomed(m_os.Files());
    AddPackageFiles(doomed);
    // Windows Installer goes first: a folder it finds holding anything but
    // its own files stays, even if the residual deletion empties it later.
    doomed.AddEmptiedFolders(guard);
    std::wstring canonical;
    for (const std::wstring& folder : preview.residualFolders) {
        if (guard.AllowsProductTree(folder, canonical)) doomed.AddTree(canonical);
    }
    if (isDeleteUserData) {
        // The run takes the user data only when no residual file is left;
        // the preview assumes the residual deletion succeeds.
        const DeletionGuard dataGuard(m_os);
        for (std::wstring root : m_folders.GetScanRoots()) {
            if (!FileExists(m_os.Files(), root)) continue;
            RemoveTrailingBackslash(root);
            if (!dataGuard.AllowsTree(root, canonical)) continue;
            preview.userDataFolders.push_back(root);
            doomed.AddTree(canonical);
        }
    }
    preview.paths = doomed.Entries();
    preview.storeEdition = m_store.CheckInstallMicrosoftStoreItunesSafe();
    return preview;
}
