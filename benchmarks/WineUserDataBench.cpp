#include "WineUserDataBench.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <vector>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "WineBench.h"
#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/FolderWalker.h"
#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "platform/KnownFolders.h"
#include "platform/Platform.h"

namespace winbench {

namespace {

constexpr int32_t kMusicGroup = 1;
constexpr int32_t kMusicCategory = 1;
// Where the deletion rounds keep a hard link to every file they delete, so
// the next round gets the same files back without copying a byte.
constexpr wchar_t kSnapshotFolder[] = L"C:\\benchsave";

// ------------------------------------------------------------------ scans

struct ScanRun {
    double begin = 0, deepBegin = 0, end = 0;
    bool deepSeen = false;
    struct Backup {
        int32_t id = 0;
        int64_t size = 0;
    };
    std::map<std::wstring, Backup> backups;  // by lower-cased folder, as reported

    static bool Record(void* user, int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO* info) {
        auto& self = *static_cast<ScanRun*>(user);
        const double now = NowSeconds();
        if (state == kEnumItunesUserDataState_Enum_Begin) self.begin = now;
        if (state == kEnumItunesUserDataState_DeepScan_Begin) {
            self.deepBegin = now;
            self.deepSeen = true;
        }
        if (state == kEnumItunesUserDataState_Enum_End) self.end = now;
        if (info != nullptr && info->item.bValid) {
            self.backups[FolderKey(info->item.strPath)] = {info->item.nId, info->item.nSize};
        }
        return true;
    }
    double Pass(bool deep) const { return end - (deep ? deepBegin : begin); }
};

bool Scan(bool deep, ScanRun& run) {
    run = ScanRun{};
    bool cancel = false;
    CItunesUserDataMgr& mgr = CItunesUserDataMgr::Instance();
    if (!mgr.EnumItunesUserData(&ScanRun::Record, &run, deep, &cancel)) return false;
    mgr.WaitIdle();
    return run.end > 0 && (!deep || run.deepSeen);
}

int64_t ClassifiedFiles() {
    int64_t files = 0;
    for (const auto& [group, info] : *CItunesUserDataMgr::Instance().GetAllItunesTypeInfoMap()) files += info.nCount;
    return files;
}

std::vector<std::wstring> Existing(const std::vector<std::wstring>& folders) {
    std::vector<std::wstring> present;
    for (const std::wstring& folder : folders) {
        if (FileExists(platform::Os().Files(), folder)) present.push_back(folder);
    }
    return present;
}

// The start folders as the library's walker keeps them: one below another
// is walked with that one.
std::vector<std::wstring> Outermost(const std::vector<std::wstring>& folders) {
    CFolderWalker walker(platform::Os().Files());
    walker.AddStartFolders(folders);
    return {walker.StartFolders().begin(), walker.StartFolders().end()};
}

uint64_t WalkerEntries(const std::vector<std::wstring>& starts, const std::vector<std::wstring>& excluded,
                       size_t readAhead = 0) {
    struct Count {
        uint64_t entries = 0;
        static bool Entry(void* context, const std::wstring&, const platform::FindData* entry, uint32_t code, uint32_t) {
            if (entry != nullptr && code < kWalkStartFolderDone) ++static_cast<Count*>(context)->entries;
            return true;
        }
    } count;
    CFolderWalker walker(platform::Os().Files());
    walker.AddStartFolders(starts);
    for (const std::wstring& folder : excluded) walker.AddExcludedFolder(folder);
    walker.SetHandler(&Count::Entry, &count, nullptr);
    walker.SetReadAhead(readAhead);
    walker.Run();
    return count.entries;
}

std::vector<std::wstring> SystemFolders() {
    return {GetSpecialFolder(platform::Os().Machine(), platform::csidl::kSystem),
            GetSpecialFolder(platform::Os().Machine(), platform::csidl::kSystemX86)};
}

std::vector<std::wstring> FixedDrives() {
    std::vector<std::wstring> drives;
    GetFixedDrives(platform::Os().Machine(), drives);
    return Existing(drives);
}

std::string Joined(const std::vector<std::wstring>& folders) {
    std::string text;
    for (const std::wstring& folder : folders) text += (text.empty() ? "" : ", ") + Narrow(folder);
    return text;
}

}  // namespace

int RunScanBench(bool deep, int rounds) {
    const std::vector<std::wstring> roots = CCollectDirMgr::Instance().GetScanRoots();
    std::vector<std::wstring> starts = deep ? FixedDrives() : Outermost(roots);
    BareWalkOptions bare;
    bare.excluded = SystemFolders();
    if (deep) bare.excluded.insert(bare.excluded.end(), roots.begin(), roots.end());
    BareWalkOptions probing = bare, probingAsFound = bare, searching = bare;
    searching.probes = Probes::OneSearch;
    probing.probes = Probes::AsTheScanSpells;
    probingAsFound.probes = Probes::AsFound;
    // The log file grows with every scan: the walks are held to their counts.
    auto same = [](const WalkTotals& a, const WalkTotals& b) { return a.files == b.files && a.folders == b.folders; };

    ScanRun run;
    if (!Scan(deep, run)) {
        std::fprintf(stderr, "the scan did not run to its end\n");
        return 1;
    }
    const WalkTotals expected = BareWalk(starts, bare);
    const uint64_t walked = WalkerEntries(starts, bare.excluded);
    // The library's walker counts an excluded folder's own entry, the bare
    // walk does not: at most that many apart.
    const uint64_t entries = expected.files + expected.folders;
    if (entries == 0 || walked < entries || walked > entries + bare.excluded.size()) {
        std::fprintf(stderr, "the walks disagree: walker %llu entries, bare %llu\n",
                     static_cast<unsigned long long>(walked), static_cast<unsigned long long>(entries));
        return 1;
    }
    if (!deep && (ClassifiedFiles() == 0 || static_cast<uint64_t>(ClassifiedFiles()) > expected.files)) {
        std::fprintf(stderr, "the scan classified %lld files of %llu walked\n",
                     static_cast<long long>(ClassifiedFiles()), static_cast<unsigned long long>(expected.files));
        return 1;
    }

    double passBest = 1e30;
    std::vector<double> passes;
    std::vector<Measure> measures = {
        {deep ? "deep scan (EnumItunesUserData to its end)" : "quick scan (EnumItunesUserData to its end)",
         [&] {
             if (!Scan(deep, run)) return false;
             passes.push_back(run.Pass(deep));
             passBest = std::min(passBest, run.Pass(deep));
             return true;
         }},
        {"CFolderWalker, counting handler, same folders",
         [&] { return WalkerEntries(starts, bare.excluded) == walked; }},
        {"bare FindFirstFileExW/FindNextFileW walk", [&] { return same(BareWalk(starts, bare), expected); }},
        {"CFolderWalker reading 512 entries ahead", [&] { return WalkerEntries(starts, bare.excluded, 512) == walked; }},
        {"bare walk + the scan's 2 probes a folder", [&] { return same(BareWalk(starts, probing), expected); }},
        {"bare walk + the 2 probes on the path as found", [&] { return same(BareWalk(starts, probingAsFound), expected); }},
        {"bare walk + one search for manifest.* a folder", [&] { return same(BareWalk(starts, searching), expected); }},
    };
    if (!RunRounds(measures, rounds)) return 1;
    std::sort(passes.begin(), passes.end());
    std::printf("%s: %llu files + %llu folders = %llu entries (%s), %lld files classified, %zu backups, "
                "best and median of %d rounds in turns, warm cache, this process %s\n",
                deep ? "deep pass over the fixed drives outside the roots" : "quick pass over the scan roots",
                static_cast<unsigned long long>(expected.files), static_cast<unsigned long long>(expected.folders),
                static_cast<unsigned long long>(entries), Joined(starts).c_str(),
                static_cast<long long>(ClassifiedFiles()), run.backups.size(), rounds, ProcessTimes().c_str());
    for (const Measure& m : measures) PrintMeasure(m, static_cast<size_t>(entries), "entries");
    const double bareBest = measures[2].best;
    std::printf("  %s pass alone (%s to end state): best %.1f ms, median %.1f ms\n", deep ? "deep" : "quick",
                deep ? "deep-begin" : "begin", passBest * 1000, passes[passes.size() / 2] * 1000);
    std::printf("  ratio %s pass / bare walk                 = %.2fx (median %.2fx)\n", deep ? "deep " : "quick",
                passBest / bareBest, passes[passes.size() / 2] / measures[2].median);
    std::printf("  ratio whole scan call / bare walk          = %.2fx\n", measures[0].best / bareBest);
    std::printf("  ratio CFolderWalker / bare walk            = %.2fx\n", measures[1].best / bareBest);
    std::printf("  ratio bare walk + the scan's probes / bare walk = %.2fx\n", measures[4].best / bareBest);
    std::printf("  ratio bare walk + probes as found / bare walk  = %.2fx\n", measures[5].best / bareBest);
    std::printf("  ratio bare walk + one search a folder / bare walk = %.2fx\n", measures[6].best / bareBest);
    std::printf("  ratio CFolderWalker reading ahead / bare walk = %.2fx\n", measures[3].best / bareBest);
    return 0;
}

// --------------------------------------------------------------- deletion

namespace {

// Hard links to every file below some folders, and a copy of the library
// file, to put them back after each deletion.
class Snapshot {
public:
    bool Take(const std::vector<std::wstring>& folders, const std::wstring& libraryFile) {
        ::CreateDirectoryW(kSnapshotFolder, nullptr);
        for (const std::wstring& folder : folders) {
            if (!Record(FolderKey(folder))) return false;
        }
        library_ = libraryFile;
        if (!library_.empty() && !::CopyFileW(library_.c_str(), LibraryCopy().c_str(), FALSE)) {
            std::fprintf(stderr, "cannot copy %s (%lu)\n", Narrow(library_).c_str(), ::GetLastError());
            return false;
        }
        return true;
    }

    // Every folder and file back where it was; those still there stay.
    bool Restore() const {
        for (const std::wstring& folder : folders_) {
            if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
        }
        for (size_t i = 0; i < files_.size(); ++i) {
            if (!::CreateHardLinkW(files_[i].c_str(), Saved(i).c_str(), nullptr) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS) {
                std::fprintf(stderr, "cannot link %s back (%lu)\n", Narrow(files_[i]).c_str(), ::GetLastError());
                return false;
            }
        }
        return library_.empty() || ::CopyFileW(LibraryCopy().c_str(), library_.c_str(), FALSE);
    }

    // Whether the library file differs from the copy taken.
    bool LibraryChanged() const {
        return !library_.empty() && ReadAll(library_) != ReadAll(LibraryCopy());
    }

    // The snapshot's own links and copy, not the files they stand for.
    void Drop() const {
        for (size_t i = 0; i < files_.size(); ++i) {
            ::DeleteFileW(Saved(i).c_str());
            if (i % kPerFolder == kPerFolder - 1 || i + 1 == files_.size()) ::RemoveDirectoryW(Bucket(i).c_str());
        }
        if (!library_.empty()) ::DeleteFileW(LibraryCopy().c_str());
        ::RemoveDirectoryW(kSnapshotFolder);
    }

    size_t Files() const { return files_.size(); }

private:
    bool Record(const std::wstring& folder) {
        folders_.push_back(folder);
        WIN32_FIND_DATAW found;
        const HANDLE search = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (search == INVALID_HANDLE_VALUE) return true;
        bool ok = true;
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                ok = Record(path);
            } else {
                files_.push_back(path);
                if ((files_.size() - 1) % kPerFolder == 0) ::CreateDirectoryW(Bucket(files_.size() - 1).c_str(), nullptr);
                ok = ::CreateHardLinkW(Saved(files_.size() - 1).c_str(), path.c_str(), nullptr) ||
                     ::GetLastError() == ERROR_ALREADY_EXISTS;
                if (!ok) std::fprintf(stderr, "cannot link %s (%lu)\n", Narrow(path).c_str(), ::GetLastError());
            }
        } while (ok && ::FindNextFileW(search, &found));
        ::FindClose(search);
        return ok;
    }

    // In folders of kPerFolder links: Wine looks a new name up in the whole
    // folder before it makes it, so one folder of every link would cost
    // the square of their number.
    static constexpr size_t kPerFolder = 256;
    static std::wstring Bucket(size_t index) {
        return std::wstring(kSnapshotFolder) + L"\\" + std::to_wstring(index / kPerFolder);
    }
    static std::wstring Saved(size_t index) { return Bucket(index) + L"\\" + std::to_wstring(index % kPerFolder); }
    static std::wstring LibraryCopy() { return std::wstring(kSnapshotFolder) + L"\\library.itl"; }

    static std::string ReadAll(const std::wstring& path) {
        std::string bytes;
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return bytes;
        char buffer[65536];
        DWORD read = 0;
        while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
        ::CloseHandle(file);
        return bytes;
    }

    std::vector<std::wstring> folders_;  // parents before children
    std::vector<std::wstring> files_;
    std::wstring library_;
};

// Depth first, as little as the host needs: DeleteFileW for each file,
// then RemoveDirectoryW for the folder. The number of files removed.
uint64_t BareDelete(const std::wstring& folder) {
    uint64_t removed = 0;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const wchar_t* name = found.cFileName;
            if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
            const std::wstring path = folder + L"\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                removed += BareDelete(path);
            } else if (::DeleteFileW(path.c_str())) {
                ++removed;
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
    return removed;
}

bool AllGone(const std::vector<std::wstring>& folders) {
    return std::none_of(folders.begin(), folders.end(), [](const std::wstring& folder) {
        return ::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
}

struct DeleteEnd {
    bool complete = false;
    bool success = false;
    double lastProgress = 0, end = 0;
    static bool Record(void* user, int32_t state, const ST_ITUNES_DELETE_INFO* info) {
        auto& self = *static_cast<DeleteEnd*>(user);
        if (state == kDeleteItunesUserDataState_Deleting) self.lastProgress = NowSeconds();
        if (state == kDeleteItunesUserDataState_DeleteComplete) {
            self.end = NowSeconds();
            self.complete = true;
            self.success = info->bSuccess;
        }
        return true;
    }
};

// What the last deletion spent after its last progress record: the
// library file's update and the check for what is left.
double g_afterLastProgress = 0;

bool ManagerDelete(std::vector<int32_t> categories, std::vector<int32_t> items) {
    DeleteEnd end;
    bool cancel = false;
    CItunesUserDataMgr& mgr = CItunesUserDataMgr::Instance();
    if (!mgr.DeleteItuensUserData(&DeleteEnd::Record, &end, categories, items, &cancel)) return false;
    mgr.WaitIdle();
    g_afterLastProgress = end.lastProgress > 0 ? end.end - end.lastProgress : 0;
    return end.complete && end.success;
}

// What one deletion removes: a category or one backup.
struct Target {
    const char* label;
    std::vector<std::wstring> folders;
    std::vector<int32_t> categories;
    std::wstring backup;  // the backup's folder, found anew by each scan
};

// The music category and the largest backup the quick pass found.
bool FindTargets(ScanRun& run, Target& music, Target& backup) {
    if (!Scan(false, run)) return false;
    const ItunesTypeInfoMap& groups = *CItunesUserDataMgr::Instance().GetAllItunesTypeInfoMap();
    const auto group = groups.find(kMusicGroup);
    if (group == groups.end() || group->second.mapCategory.count(kMusicCategory) == 0) return false;
    music = {"music category", Existing(group->second.mapCategory.at(kMusicCategory).vecFolder), {kMusicCategory}, {}};
    if (run.backups.empty()) return false;
    const auto largest = std::max_element(run.backups.begin(), run.backups.end(),
                                          [](const auto& a, const auto& b) { return a.second.size < b.second.size; });
    backup = {"backup", {largest->first}, {}, largest->first};
    return !music.folders.empty();
}

// `run`: the scan before it, whose ids the deletion takes.
bool DeleteWithManager(const Target& target, const ScanRun& run) {
    std::vector<int32_t> items;
    if (!target.backup.empty()) {
        const auto found = run.backups.find(FolderKey(target.backup));
        if (found == run.backups.end()) return false;
        items.push_back(found->second.id);
    }
    return ManagerDelete(target.categories, items) && AllGone(target.folders);
}

uint64_t PeakWorkingSetKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize / 1024;
}

}  // namespace

int RunDeleteBench(const std::wstring& libraryFile, int rounds) {
    ScanRun run;
    Target music, backup;
    if (!FindTargets(run, music, backup)) {
        std::fprintf(stderr, "the quick scan found no music folder or no backup to delete\n");
        return 1;
    }
    // The bare loop asks no guard of its own: it only gets folders the
    // library's guard allows.
    const DeletionGuard guard(platform::Os());
    for (const Target* target : {&music, &backup}) {
        for (const std::wstring& folder : target->folders) {
            std::wstring canonical;
            if (!guard.AllowsTree(folder, canonical)) {
                std::fprintf(stderr, "the deletion guard refuses %s\n", Narrow(folder).c_str());
                return 1;
            }
        }
    }
    int status = 0;
    for (const Target* target : {&music, &backup}) {
        Snapshot snapshot;
        if (!snapshot.Take(target->folders, target->categories.empty() ? std::wstring() : libraryFile)) {
            snapshot.Restore();
            snapshot.Drop();
            return 1;
        }
        uint64_t bareFiles = 0;
        std::vector<double> afterProgress;
        std::vector<Measure> measures = {
            {"bare DeleteFileW / RemoveDirectoryW loop",
             [&] {
                 bareFiles = 0;
                 for (const std::wstring& folder : target->folders) bareFiles += BareDelete(folder);
                 return AllGone(target->folders);
             },
             [&] { return snapshot.Restore(); }},
            {"DeleteItuensUserData to its end",
             [&] {
                 const bool deleted = DeleteWithManager(*target, run);
                 afterProgress.push_back(g_afterLastProgress);
                 return deleted;
             },
             [&] { return snapshot.Restore() && Scan(false, run); }},
        };
        const bool ran = RunRounds(measures, rounds);
        // The rounds end with the library's deletion: the media deletion
        // must have taken its tracks out of the library file.
        const bool libraryUpdated = target->categories.empty() || snapshot.LibraryChanged();
        const bool restored = snapshot.Restore();
        snapshot.Drop();
        if (!ran || !restored || bareFiles != snapshot.Files()) {
            std::fprintf(stderr, "the %s deletion went wrong (%llu of %zu files removed by the bare loop)\n",
                         target->label, static_cast<unsigned long long>(bareFiles), snapshot.Files());
            status = 1;
            continue;
        }
        std::printf("deletion of the %s: %zu files in %s, each round on the same files linked back, "
                    "best and median of %d rounds in turns, this process %s%s\n",
                    target->label, snapshot.Files(), Joined(target->folders).c_str(), rounds, ProcessTimes().c_str(),
                    target->categories.empty() ? "" : libraryUpdated ? ", library file updated" : "");
        for (const Measure& m : measures) PrintMeasure(m, snapshot.Files(), "files");
        std::sort(afterProgress.begin(), afterProgress.end());
        std::printf("  of the library's deletion, after its last progress record (library file, what is left): "
                    "median %.1f ms\n", afterProgress[afterProgress.size() / 2] * 1000);
        std::printf("  ratio library deletion / bare loop = %.2fx (median %.2fx)\n", measures[1].best / measures[0].best,
                    measures[1].median / measures[0].median);
        if (!libraryUpdated) {
            std::fprintf(stderr, "the media deletion left the library file as it was\n");
            status = 1;
        }
    }
    return status;
}

int RunPeak(const std::string& what, const std::wstring& libraryFile) {
    CCollectDirMgr::Instance();
    ScanRun run;
    uint64_t before = PeakWorkingSetKiB();
    bool ok = false;
    size_t files = 0;
    if (what == "quick" || what == "deep") {
        ok = Scan(what == "deep", run);
        files = static_cast<size_t>(ClassifiedFiles());
    } else if (what == "music" || what == "backup") {
        Target music, backup;
        if (!FindTargets(run, music, backup)) return 1;
        const Target& target = what == "music" ? music : backup;
        Snapshot snapshot;
        ok = snapshot.Take(target.folders, target.categories.empty() ? std::wstring() : libraryFile);
        files = snapshot.Files();
        // The scan and the snapshot's list are the deletion's baseline.
        before = PeakWorkingSetKiB();
        ok = ok && DeleteWithManager(target, run);
        const uint64_t after = PeakWorkingSetKiB();
        ok = snapshot.Restore() && ok;
        snapshot.Drop();
        std::printf("%zu %llu %llu\n", files, static_cast<unsigned long long>(before),
                    static_cast<unsigned long long>(after));
        return ok ? 0 : 1;
    } else {
        return 2;
    }
    std::printf("%zu %llu %llu\n", files, static_cast<unsigned long long>(before),
                static_cast<unsigned long long>(PeakWorkingSetKiB()));
    return ok ? 0 : 1;
}

}  // namespace winbench
