// What the folder walker costs over a large tree on the simulated machine,
// against what the host itself needs to read the same tree:
//  - Bare: opendir/readdir and one fstatat per entry, recursive, in C;
//  - Walker: CFolderWalker with a counting handler, through the seam;
//  - Find: `find DIR -printf '%s\n'`; Du: `du -s DIR`.
// After the Google Benchmark runs, the four are taken again in turns and
// printed as ratios to the bare walk. The
// walker's peak resident size is measured in a child process for two tree
// sizes, to show it does not grow with the entries walked.
//
// The trees (100,000 and 300,000 entries) are made once and kept in the
// build folder (BRISALEN_WALK_TREES_DIR) for later runs.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "common/FolderWalker.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/SimPlatform.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kSmallTree = 100000;
constexpr int64_t kLargeTree = 300000;

// A machine folder holding C:\Tree with `entries` entries, made when missing.
std::string TreeMachine(int64_t entries) {
    const std::string folder = std::string(BRISALEN_WALK_TREES_DIR) + "/" + std::to_string(entries);
    const std::string done = folder + "/tree.complete";
    if (!fs::exists(done)) {
        fs::remove_all(folder);
        sim::Machine::Open(folder);
        std::fprintf(stderr, "making a tree of %lld entries in %s ...\n", static_cast<long long>(entries),
                     folder.c_str());
        bench::MakeTree(folder + "/drives/C/Tree", entries);
        std::ofstream(done) << entries << "\n";
    }
    return folder;
}

std::string HostTree(const std::string& machineFolder) { return machineFolder + "/drives/C/Tree"; }

// The bare walk: what reading names and one stat per entry costs the host.
int64_t BareWalk(int dirFd) {
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return 0;
    }
    int64_t entries = 0;
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        ++entries;
        benchmark::DoNotOptimize(st.st_size);
        if (S_ISDIR(st.st_mode)) {
            const int child = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child >= 0) entries += BareWalk(child);
        }
    }
    ::closedir(dir);
    return entries;
}

int64_t BareWalk(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd < 0 ? 0 : BareWalk(fd);
}

struct WalkCount {
    int64_t entries = 0;
    static bool Count(void* context, const std::wstring&, const platform::FindData*, uint32_t code, uint32_t) {
        if (code < kWalkStartFolderDone) ++static_cast<WalkCount*>(context)->entries;
        return true;
    }
};

int64_t WalkerWalk() {
    CFolderWalker walker(platform::Os().Files());
    WalkCount count;
    walker.AddStartFolder(L"C:\\Tree");
    walker.SetHandler(&WalkCount::Count, &count, nullptr);
    walker.Run();
    return count.entries;
}

using bench::RunShell;

template <typename Walk>
void Measure(benchmark::State& state, Walk&& walk) {
    const int64_t entries = state.range(0);
    walk();  // warms the host's caches
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        walk();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
    }
    state.counters["entries/s"] =
        benchmark::Counter(static_cast<double>(entries) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void Bare(benchmark::State& state) {
    const std::string tree = HostTree(TreeMachine(state.range(0)));
    Measure(state, [&] {
        if (BareWalk(tree) != state.range(0)) throw std::runtime_error("the bare walk missed entries");
    });
}

void Walker(benchmark::State& state) {
    auto machine = sim::Machine::Open(TreeMachine(state.range(0)));
    sim::UseMachine(machine);
    Measure(state, [&] {
        if (WalkerWalk() != state.range(0)) throw std::runtime_error("the walker missed entries");
    });
    sim::UseMachine(nullptr);
}

void Find(benchmark::State& state) {
    const std::string tree = HostTree(TreeMachine(state.range(0)));
    Measure(state, [&] { RunShell("find '" + tree + "' -printf '%s\\n' >/dev/null"); });
}

void Du(benchmark::State& state) {
    const std::string tree = HostTree(TreeMachine(state.range(0)));
    Measure(state, [&] { RunShell("du -s '" + tree + "' >/dev/null"); });
}

BENCHMARK(Bare)->Arg(kLargeTree)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Walker)->Arg(kLargeTree)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Find)->Arg(kLargeTree)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Du)->Arg(kLargeTree)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// In a fresh process: the peak resident size once the machine is open, and
// after one walk of the whole tree.
int ReportWalkPeak(const std::string& machineFolder) {
    auto machine = sim::Machine::Open(machineFolder);
    sim::UseMachine(machine);
    const long before = bench::StatusKiB("VmHWM");
    const int64_t walked = WalkerWalk();
    const long after = bench::StatusKiB("VmHWM");
    std::printf("%lld %ld %ld\n", static_cast<long long>(walked), before, after);
    sim::UseMachine(nullptr);
    return 0;
}

void PrintWalkPeaks(const char* self) {
    std::printf("\nWalker peak resident size (fresh process, VmHWM):\n");
    for (int64_t entries : {kSmallTree, kLargeTree}) {
        const std::string command = std::string(self) + " --walk-peak=" + TreeMachine(entries);
        FILE* child = ::popen(command.c_str(), "r");
        long long walked = 0;
        long before = 0, after = 0;
        const bool read = child != nullptr && std::fscanf(child, "%lld %ld %ld", &walked, &before, &after) == 3;
        if (child != nullptr) ::pclose(child);
        if (!read) {
            std::printf("  %lld entries: could not be measured\n", static_cast<long long>(entries));
            continue;
        }
        std::printf("  %7lld entries walked: %6ld KiB before the walk, %6ld KiB peak, +%ld KiB\n", walked, before,
                    after, after - before);
    }
}

// The four walks taken in turns; ratios to the bare walk.
void PrintRatios(int rounds) {
    const std::string machineFolder = TreeMachine(kLargeTree);
    const std::string tree = HostTree(machineFolder);
    auto machine = sim::Machine::Open(machineFolder);
    sim::UseMachine(machine);
    const std::vector<bench::Kind> kinds{
        {"bare", [&] { BareWalk(tree); }, {}},
        {"walker", [&] { WalkerWalk(); }, {}},
        {"find", [&] { RunShell("find '" + tree + "' -printf '%s\\n' >/dev/null"); }, {}},
        {"du", [&] { RunShell("du -s '" + tree + "' >/dev/null"); }, {}},
    };
    for (const auto& kind : kinds) kind.run();  // warm
    const std::vector<bench::Best> best = bench::BestOfTurns(kinds, rounds);
    sim::UseMachine(nullptr);
    std::printf("\nBest of %d rounds over %lld entries, taken in turns; ratio to the bare walk:\n", rounds,
                static_cast<long long>(kLargeTree));
    bench::PrintBest(kinds, best, static_cast<double>(kLargeTree));
}

}  // namespace

int main(int argc, char** argv) {
    constexpr const char kPeak[] = "--walk-peak=";
    if (argc == 2 && std::strncmp(argv[1], kPeak, sizeof kPeak - 1) == 0) {
        return ReportWalkPeak(argv[1] + sizeof kPeak - 1);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintRatios(7);
    PrintWalkPeaks(argv[0]);
    return 0;
}
