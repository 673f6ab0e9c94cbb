// What the user-data manager costs on the simulated machine, against what
// the host needs for the same work:
//  - the quick pass (six roots, every file sorted into its category) against
//    the folder walker with a handler that does nothing over the same start
//    and excluded folders, on a seeded profile of 100,000 files;
//  - the deep pass (every fixed drive, looking for backups) against the bare
//    walker over the same drive, with a 300,000-entry tree outside the roots;
//  - the deletion of the music category against a depth-first unlinkat loop
//    over the same host files, each round on a fresh copy of the profile
//    cut down to that category and the library file (the copy and the scan
//    that must precede a deletion are not timed);
//  - the peak resident size of a scan in a fresh process, for profiles of
//    10,000 and 100,000 files and for the deep scan.
// Each comparison takes the kinds in turns and keeps each one's best round.
// The scans are also set against the bare walker plus the two backup
// probes the scan makes for every folder on its lower-cased path
// ("+probes"), which on this machine cost case-insensitive lookups, and the
// same probes on the path as the walker spells it ("+spelled").
//
// The profiles are seeded once with `brisalen machine seed-user-data` and
// kept in the build folder (BRISALEN_USERDATA_BENCH_DIR); seeding 100,000
// files takes a few minutes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "common/FolderWalker.h"
#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "common/Singleton.h"
#include "platform/KnownFolders.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/SimPlatform.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSmallProfile = 10000;
constexpr int kLargeProfile = 100000;
constexpr int64_t kDeepTree = 300000;
constexpr int32_t kMusicGroup = 1;
constexpr int32_t kMusicCategory = 1;

const std::string kCache = BRISALEN_USERDATA_BENCH_DIR;

// A machine folder with a profile of `files` media and junk files, seeded
// when missing.
std::string Profile(int files) {
    const std::string folder = kCache + "/profile-" + std::to_string(files);
    const std::string done = folder + ".complete";
    if (!fs::exists(done)) {
        fs::remove_all(folder);
        fs::create_directories(kCache);
        std::fprintf(stderr, "seeding a profile of %d files in %s ...\n", files, folder.c_str());
        bench::RunShell("BRISALEN_MACHINE=" + bench::Quoted(folder) + " " + bench::Quoted(BRISALEN_HOST) +
                        " machine seed-user-data --files " + std::to_string(files) + " --manifest " +
                        bench::Quoted(folder + ".manifest.json") + " >/dev/null");
        std::ofstream(done) << files << "\n";
    }
    return folder;
}

// The small profile with a 300,000-entry tree at C:\Tree, outside every
// scan root, for the deep pass.
std::string DeepMachine() {
    const std::string folder = kCache + "/deep";
    const std::string done = folder + ".complete";
    if (!fs::exists(done)) {
        const std::string profile = Profile(kSmallProfile);
        fs::remove_all(folder);
        bench::RunShell("cp -a " + bench::Quoted(profile) + " " + bench::Quoted(folder));
        std::fprintf(stderr, "making a tree of %lld entries in %s ...\n", static_cast<long long>(kDeepTree),
                     folder.c_str());
        bench::MakeTree(folder + "/drives/C/Tree", kDeepTree);
        std::ofstream(done) << kDeepTree << "\n";
    }
    return folder;
}

// The machine the library acts on for one object's life; the library's
// singletons start afresh on it and are gone before it closes.
class MachineInUse {
public:
    explicit MachineInUse(const std::string& folder) : machine_(sim::Machine::Open(folder)) {
        sim::UseMachine(machine_);
        LibraryShutdown(platform::Os().Process());
    }
    ~MachineInUse() {
        LibraryShutdown(platform::Os().Process());
        sim::UseMachine(nullptr);
    }
    MachineInUse(const MachineInUse&) = delete;
    MachineInUse& operator=(const MachineInUse&) = delete;

    std::string Host(const std::wstring& winPath) const {
        std::string host;
        if (!machine_->Resolve(winPath, host)) throw std::runtime_error("unresolvable path");
        return host;
    }

private:
    std::shared_ptr<sim::Machine> machine_;
};

// ------------------------------------------------------------------ scans

using Clock = std::chrono::steady_clock;

// The times of the scan's states as a host would see them.
struct ScanTimes {
    Clock::time_point begin, deepBegin, end;
    bool deepSeen = false;

    static bool Record(void* user, int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO*) {
        auto& self = *static_cast<ScanTimes*>(user);
        if (state == kEnumItunesUserDataState_Enum_Begin) self.begin = Clock::now();
        if (state == kEnumItunesUserDataState_DeepScan_Begin) {
            self.deepBegin = Clock::now();
            self.deepSeen = true;
        }
        if (state == kEnumItunesUserDataState_Enum_End) self.end = Clock::now();
        return true;
    }
};

ScanTimes Scan(bool deep) {
    ScanTimes times;
    bool cancel = false;
    CItunesUserDataMgr& mgr = CItunesUserDataMgr::Instance();
    if (!mgr.EnumItunesUserData(&ScanTimes::Record, &times, deep, &cancel)) throw std::runtime_error("scan refused");
    mgr.WaitIdle();
    if (deep && !times.deepSeen) throw std::runtime_error("the deep pass did not run");
    return times;
}

int64_t ClassifiedFiles() {
    int64_t files = 0;
    for (const auto& [group, info] : *CItunesUserDataMgr::Instance().GetAllItunesTypeInfoMap()) files += info.nCount;
    return files;
}

struct EntryCount {
    int64_t entries = 0;
    static bool Count(void* context, const std::wstring&, const platform::FindData*, uint32_t code, uint32_t) {
        if (code < kWalkStartFolderDone) ++static_cast<EntryCount*>(context)->entries;
        return true;
    }
};

// The bare walker plus what the scan asks of the file system for each
// folder it meets: whether the folder, spelled in lower case, holds either
// backup manifest. Shows how much of the scan's cost these probes are.
// With `Lower` false the probes keep the walker's spelling, which the
// machine resolves with fewer case-insensitive lookups.
template <bool Lower>
struct ProbingCount : EntryCount {
    static bool Count(void* context, const std::wstring& walkedPath, const platform::FindData* entry, uint32_t code,
                      uint32_t folders) {
        EntryCount::Count(context, walkedPath, entry, code, folders);
        std::wstring dirPath = walkedPath;
        if (entry == nullptr || !entry->IsDirectory() || code >= kWalkStartFolderDone) return true;
        if (Lower) AsciiLowerInPlace(dirPath);
        for (const wchar_t* probe : {L"\\manifest.db", L"\\manifest.mbdb"}) {
            if (FileExists(platform::Os().Files(), dirPath + entry->name + probe)) return false;
        }
        return true;
    }
};

// The bare walker: the scan's start and excluded folders, a handler that
// only counts (or also probes).
enum class Probes { None, Lowered, AsSpelled };

int64_t BareWalk(const std::vector<std::wstring>& starts, const std::vector<std::wstring>& excluded,
                 Probes probes = Probes::None) {
    CFolderWalker walker(platform::Os().Files());
    EntryCount count;
    walker.AddStartFolders(starts);
    walker.AddExcludedFolder(GetSpecialFolder(platform::Os().Machine(), platform::csidl::kSystem));
    walker.AddExcludedFolder(GetSpecialFolder(platform::Os().Machine(), platform::csidl::kSystemX86));
    for (const std::wstring& folder : excluded) walker.AddExcludedFolder(folder);
    FolderWalkHandler handler = &EntryCount::Count;
    if (probes == Probes::Lowered) handler = &ProbingCount<true>::Count;
    if (probes == Probes::AsSpelled) handler = &ProbingCount<false>::Count;
    walker.SetHandler(handler, &count, nullptr);
    walker.Run();
    return count.entries;
}

std::vector<std::wstring> FixedDrives() {
    std::vector<std::wstring> drives, present;
    GetFixedDrives(platform::Os().Machine(), drives);
    for (const std::wstring& drive : drives) {
        if (FileExists(platform::Os().Files(), drive)) present.push_back(drive);
    }
    return present;
}

double Seconds(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

void CompareQuickPass(int rounds) {
    MachineInUse machine(Profile(kLargeProfile));
    const std::vector<std::wstring> roots = CCollectDirMgr::Instance().GetScanRoots();
    int64_t entries = 0;
    double passBest = 1e30;
    const std::vector<bench::Kind> kinds{
        {"bare", [&] { entries = BareWalk(roots, {}); }, {}},
        {"+probes", [&] { BareWalk(roots, {}, Probes::Lowered); }, {}},
        {"+spelled", [&] { BareWalk(roots, {}, Probes::AsSpelled); }, {}},
        {"quick", [&] {
             const ScanTimes t = Scan(false);
             passBest = std::min(passBest, Seconds(t.begin, t.end));
         }, {}},
    };
    for (const bench::Kind& kind : kinds) kind.run();  // warm
    const std::vector<bench::Best> best = bench::BestOfTurns(kinds, rounds);
    std::printf("\nQuick pass over the %zu roots of a %d-file profile (%lld entries walked, %lld files "
                "classified), best of %d rounds in turns, load %s:\n",
                roots.size(), kLargeProfile, static_cast<long long>(entries),
                static_cast<long long>(ClassifiedFiles()), rounds, bench::LoadAverage().c_str());
    bench::PrintBest(kinds, best, static_cast<double>(entries));
    std::printf("  quick pass alone (begin to end state): %.1f ms, %.2fx the bare walker\n", passBest * 1000,
                passBest / best[0].wall);
}

void CompareDeepPass(int rounds) {
    MachineInUse machine(DeepMachine());
    const std::vector<std::wstring> roots = CCollectDirMgr::Instance().GetScanRoots();
    const std::vector<std::wstring> drives = FixedDrives();
    int64_t entries = 0;
    double deepBest = 1e30, scanBest = 1e30;
    const std::vector<bench::Kind> kinds{
        {"bare", [&] { entries = BareWalk(drives, roots); }, {}},
        {"+probes", [&] { BareWalk(drives, roots, Probes::Lowered); }, {}},
        {"+spelled", [&] { BareWalk(drives, roots, Probes::AsSpelled); }, {}},
        {"deep scan", [&] {
             const ScanTimes t = Scan(true);
             deepBest = std::min(deepBest, Seconds(t.deepBegin, t.end));
             scanBest = std::min(scanBest, Seconds(t.begin, t.end));
         }, {}},
    };
    for (const bench::Kind& kind : kinds) kind.run();  // warm
    const std::vector<bench::Best> best = bench::BestOfTurns(kinds, rounds);
    std::printf("\nDeep pass over %zu fixed drive(s) outside the roots (%lld entries), best of %d rounds in "
                "turns, load %s:\n",
                drives.size(), static_cast<long long>(entries), rounds, bench::LoadAverage().c_str());
    bench::PrintBest(kinds, best, static_cast<double>(entries));
    std::printf("  deep pass alone (deep-begin to end state): %.1f ms, %.2fx the bare walker "
                "(whole scan with its quick pass over the %d-file profile: %.1f ms)\n",
                deepBest * 1000, deepBest / best[0].wall, kSmallProfile, scanBest * 1000);
}

// --------------------------------------------------------------- deletion

// Depth first, as little as the host needs: unlinkat for each file, then
// the folder itself. The number of files removed.
int64_t BareDelete(int parentFd, const char* name) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return 0;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return 0;
    }
    int64_t files = 0;
    while (dirent* entry = ::readdir(dir)) {
        const char* child = entry->d_name;
        if (child[0] == '.' && (child[1] == '\0' || (child[1] == '.' && child[2] == '\0'))) continue;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            folder = ::fstatat(fd, child, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (folder) {
            files += BareDelete(fd, child);
        } else if (::unlinkat(fd, child, 0) == 0) {
            ++files;
        }
    }
    ::closedir(dir);
    ::unlinkat(parentFd, name, AT_REMOVEDIR);
    return files;
}

int64_t BareDelete(const std::string& folder) { return BareDelete(AT_FDCWD, folder.c_str()); }

// The large profile with only what the deletion of the category reads:
// the category's files (relative host folders given) and the library file
// it updates; the other files of the profile would only lengthen each
// round's copy. Made when missing.
std::string DeletionSource(const std::vector<std::string>& keptFolders) {
    const std::string folder = kCache + "/deletion-source";
    const std::string done = folder + ".complete";
    if (fs::exists(done)) return folder;
    fs::remove_all(folder);
    bench::RunShell("cp -a " + bench::Quoted(Profile(kLargeProfile)) + " " + bench::Quoted(folder));
    for (const char* profileFolder : {"drives/C/Users", "drives/C/ProgramData"}) {
        std::vector<fs::path> dropped;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(fs::path(folder) / profileFolder)) {
            if (!entry.is_regular_file() || entry.path().filename() == "iTunes Library.itl") continue;
            const std::string relative = fs::relative(entry.path(), folder).string();
            bool kept = false;
            for (const std::string& keep : keptFolders) kept = kept || relative.compare(0, keep.size() + 1, keep + "/") == 0;
            if (!kept) dropped.push_back(entry.path());
        }
        for (const fs::path& path : dropped) fs::remove(path);
    }
    std::ofstream(done) << "\n";
    return folder;
}

// A fresh copy of a profile for each round, removed once the round is over.
class RoundCopy {
public:
    explicit RoundCopy(std::string source) : source_(std::move(source)), folder_(kCache + "/round") {}
    ~RoundCopy() { Remove(); }
    RoundCopy(const RoundCopy&) = delete;
    RoundCopy& operator=(const RoundCopy&) = delete;

    const std::string& Make() {
        Remove();
        bench::RunShell("cp -a " + bench::Quoted(source_) + " " + bench::Quoted(folder_));
        return folder_;
    }
    void Remove() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    const std::string& Folder() const { return folder_; }

private:
    std::string source_;
    std::string folder_;
};

struct DeleteEnd {
    bool complete = false;
    bool success = false;
    int64_t deleted = 0;

    static bool Record(void* user, int32_t state, const ST_ITUNES_DELETE_INFO* info) {
        auto& self = *static_cast<DeleteEnd*>(user);
        if (state == kDeleteItunesUserDataState_DeleteComplete) {
            self.complete = true;
            self.success = info->bSuccess;
            self.deleted = info->nDeletedSize;
        }
        return true;
    }
};

void CompareDeletion(int rounds) {
    const std::string profile = Profile(kLargeProfile);
    // The category's folders, as host paths relative to a machine folder.
    std::vector<std::string> folders;
    int32_t categoryFiles = 0;
    {
        MachineInUse machine(profile);
        Scan(false);
        const ST_ITUNES_CATEGORY_INFO& music =
            CItunesUserDataMgr::Instance().GetAllItunesTypeInfoMap()->at(kMusicGroup).mapCategory.at(kMusicCategory);
        categoryFiles = music.nCount;
        for (const std::wstring& folder : music.vecFolder) {
            folders.push_back(fs::relative(machine.Host(folder), profile).string());
        }
    }

    RoundCopy copy(DeletionSource(folders));
    std::unique_ptr<MachineInUse> machine;
    int64_t bareFiles = 0;
    auto checkGone = [&](const char* who) {
        for (const std::string& folder : folders) {
            if (fs::exists(copy.Folder() + "/" + folder)) throw std::runtime_error(std::string(who) + " left " + folder);
        }
    };
    const std::vector<bench::Kind> kinds{
        {"unlinkat",
         [&] {
             bareFiles = 0;
             for (const std::string& folder : folders) bareFiles += BareDelete(copy.Folder() + "/" + folder);
             checkGone("the bare deletion");
         },
         [&] {
             machine.reset();
             copy.Make();
         }},
        {"manager",
         [&] {
             DeleteEnd end;
             std::vector<int32_t> categories{kMusicCategory}, items;
             bool cancel = false;
             CItunesUserDataMgr& mgr = CItunesUserDataMgr::Instance();
             if (!mgr.DeleteItuensUserData(&DeleteEnd::Record, &end, categories, items, &cancel)) {
                 throw std::runtime_error("deletion refused");
             }
             mgr.WaitIdle();
             if (!end.complete || !end.success) throw std::runtime_error("the deletion did not succeed");
             checkGone("the manager");
         },
         [&] {
             machine.reset();
             machine = std::make_unique<MachineInUse>(copy.Make());
             Scan(false);
         }},
    };
    const std::vector<bench::Best> best = bench::BestOfTurns(kinds, rounds);
    machine.reset();
    std::printf("\nDeletion of the music category (%d files scanned in %zu folders, %lld removed by the bare loop) "
                "of a %d-file profile, each round on a fresh copy, best of %d rounds in turns, load %s:\n",
                categoryFiles, folders.size(), static_cast<long long>(bareFiles), kLargeProfile, rounds,
                bench::LoadAverage().c_str());
    bench::PrintBest(kinds, best, static_cast<double>(bareFiles));
}

// ---------------------------------------------------------- peak memory

// In a fresh process: the peak resident size once the machine is open, and
// after one scan.
int ReportScanPeak(const std::string& folder, bool deep) {
    MachineInUse machine(folder);
    CCollectDirMgr::Instance();
    const long before = bench::StatusKiB("VmHWM");
    Scan(deep);
    const long after = bench::StatusKiB("VmHWM");
    std::printf("%lld %ld %ld\n", static_cast<long long>(ClassifiedFiles()), before, after);
    return 0;
}

void PrintScanPeaks(const char* self) {
    std::printf("\nScan peak resident size (fresh process, VmHWM):\n");
    struct Case {
        const char* label;
        std::string folder;
        bool deep;
    };
    const Case cases[] = {{"quick scan, 10,000-file profile", Profile(kSmallProfile), false},
                          {"quick scan, 100,000-file profile", Profile(kLargeProfile), false},
                          {"deep scan, 10,000-file profile + 300,000-entry tree", DeepMachine(), true}};
    for (const Case& c : cases) {
        const std::string command =
            bench::Quoted(self) + (c.deep ? " --deep-scan-peak=" : " --scan-peak=") + bench::Quoted(c.folder);
        FILE* child = ::popen(command.c_str(), "r");
        long long classified = 0;
        long before = 0, after = 0;
        const bool read = child != nullptr && std::fscanf(child, "%lld %ld %ld", &classified, &before, &after) == 3;
        if (child != nullptr) ::pclose(child);
        if (!read) {
            std::printf("  %s: could not be measured\n", c.label);
            continue;
        }
        std::printf("  %-52s %7lld files classified: %6ld KiB before, %6ld KiB peak, +%ld KiB\n", c.label,
                    classified, before, after, after - before);
    }
}

// One bare walk of the quick pass's roots, to compare its system calls
// (under strace -c) with a scan's.
int ReportBareQuickWalk(const std::string& folder) {
    MachineInUse machine(folder);
    std::printf("%lld entries\n", static_cast<long long>(BareWalk(CCollectDirMgr::Instance().GetScanRoots(), {})));
    return 0;
}

// One quick scan and the deletion of the music category, on a machine
// folder given up for it; with --scan-peak on a like copy, the difference
// under strace -c is what the deletion asks of the host.
int ReportMusicDeletion(const std::string& folder) {
    MachineInUse machine(folder);
    Scan(false);
    DeleteEnd end;
    std::vector<int32_t> categories{kMusicCategory}, items;
    bool cancel = false;
    CItunesUserDataMgr& mgr = CItunesUserDataMgr::Instance();
    if (!mgr.DeleteItuensUserData(&DeleteEnd::Record, &end, categories, items, &cancel)) return 1;
    mgr.WaitIdle();
    std::printf("%s, %lld bytes deleted\n", end.success ? "deleted" : "failed", static_cast<long long>(end.deleted));
    return end.success ? 0 : 1;
}

int Rounds(const char* text, int fallback) {
    const int rounds = text != nullptr ? std::atoi(text) : fallback;
    return rounds >= 0 ? rounds : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr const char kPeak[] = "--scan-peak=";
    constexpr const char kDeepPeak[] = "--deep-scan-peak=";
    if (argc == 2 && std::strncmp(argv[1], kPeak, sizeof kPeak - 1) == 0) {
        return ReportScanPeak(argv[1] + sizeof kPeak - 1, false);
    }
    if (argc == 2 && std::strncmp(argv[1], kDeepPeak, sizeof kDeepPeak - 1) == 0) {
        return ReportScanPeak(argv[1] + sizeof kDeepPeak - 1, true);
    }
    constexpr const char kBareQuick[] = "--bare-quick-walk=";
    if (argc == 2 && std::strncmp(argv[1], kBareQuick, sizeof kBareQuick - 1) == 0) {
        return ReportBareQuickWalk(argv[1] + sizeof kBareQuick - 1);
    }
    constexpr const char kDeleteMusic[] = "--delete-music=";
    if (argc == 2 && std::strncmp(argv[1], kDeleteMusic, sizeof kDeleteMusic - 1) == 0) {
        return ReportMusicDeletion(argv[1] + sizeof kDeleteMusic - 1);
    }
    // Each table as it is measured, also into a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // [scan rounds] [deletion rounds], 0 to leave that part out: a deletion
    // round copies the profile twice, so it gets fewer by default.
    const int scanRounds = Rounds(argc > 1 ? argv[1] : nullptr, 5);
    const int deleteRounds = Rounds(argc > 2 ? argv[2] : nullptr, 3);
    try {
        Profile(kSmallProfile);
        Profile(kLargeProfile);
        DeepMachine();
        std::printf("load at start: %s\n", bench::LoadAverage().c_str());
        if (scanRounds > 0) {
            CompareQuickPass(scanRounds);
            CompareDeepPass(scanRounds);
        }
        if (deleteRounds > 0) CompareDeletion(deleteRounds);
        PrintScanPeaks(argv[0]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brisalen_userdata_benchmark: %s\n", e.what());
        return 1;
    }
    return 0;
}
