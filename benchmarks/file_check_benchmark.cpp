// How fast the package file check runs, and what it costs over the bare
// file-system work it cannot avoid.
//
// Build and run (Linux, optimised build; the target is not part of the
// default build because it needs the 20,000-file package, built the first
// time in about a minute):
//
//   cmake --preset linux
//   ninja -C build/linux brisalen_benchmarks
//   build/linux/bin/brisalen_benchmarks [--benchmark_filter=...] [--benchmark_repetitions=N]
//
// The program installs fixtures-big/Big.msi on a fresh simulated machine in
// a temporary folder, then measures:
//   FileCheck/FullCheck  CMsiDB::Init + CheckItunesProductFile, a new CMsiDB
//                        per iteration (package tables read every time)
//   FileCheck/ReadTables opening the package and fetching the three tables
//                        the check reads, no file touched
//   FileCheck/ProbeFiles the per-file part alone: ProbeFileSize on each path
//                        the check builds, through the simulated machine
//   FileCheck/BareStat   POSIX stat on the same files by host path, resolved
//                        once before timing
//   FileCheck/BareOpen   open + fstat + close on those host paths: the floor
//                        for a check that opens each file, as the library's
//                        does (an open also tells a locked file from a
//                        missing one on Windows)
// items_per_second is files per second of CPU time. After the runs it
// prints the ratios of FullCheck, ProbeFiles and BareOpen to BareStat, by CPU and by
// wall-clock time (the latter is the one to quote on an idle machine).
//
// BRISALEN_BENCH_FIXTURES=DIR takes Big.msi and its manifests from DIR
// instead, e.g. a smaller one for profiling under valgrind:
//   fixtures/build-fixtures.sh /tmp/bench-small --big 2000
//   export BRISALEN_BENCH_FIXTURES=/tmp/bench-small
//   valgrind --tool=callgrind build/linux/bin/brisalen_benchmarks --benchmark_filter=ProbeFiles
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Brisalen/MsiDB.h"
#include "common/FileHelpers.h"
#include "common/TextHelpers.h"
#include "platform/Platform.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/SimPlatform.h"
#include "ScratchMachine.h"

namespace {

namespace fs = std::filesystem;

constexpr int kProductType = 1;
const std::wstring kPackagePath = L"C:\\Packages\\Big.msi";


struct ExpectedFile {
    std::wstring winPath;
    std::string hostPath;
    int64_t size = 0;
};

// The installed product as the benchmarks see it.
struct Scene {
    std::wstring installDir;
    std::vector<ExpectedFile> files;
    std::vector<std::wstring> checkedPaths;  // as the check spells them
};

Scene* g_scene = nullptr;

nlohmann::json ReadJson(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    return nlohmann::json::parse(in);
}

// Installs Big.msi with the simulated installer and records where each of
// its files landed.
Scene Prepare(sim::Machine& machine, const std::string& fixtures) {
    Scene scene;
    const nlohmann::json manifest = ReadJson(fixtures + "/fixtures.json");
    std::string filesManifest;
    for (const auto& entry : manifest.at("packages")) {
        if (entry.at("file") != "Big.msi") continue;
        scene.installDir = Utf8ToWide(platform::Os().CodePages(), entry.at("installDirX64Windows").get<std::string>());
        filesManifest = entry.at("filesManifest").get<std::string>();
    }
    if (filesManifest.empty()) throw std::runtime_error("Big.msi is not in " + fixtures + "/fixtures.json");

    std::string hostPackage;
    if (!machine.Resolve(kPackagePath, hostPackage)) throw std::runtime_error("cannot resolve the package path");
    fs::create_directories(fs::path(hostPackage).parent_path());
    fs::copy_file(fixtures + "/Big.msi", hostPackage, fs::copy_options::overwrite_existing);
    const uint32_t installed = platform::Os().Installer().InstallProduct(kPackagePath, L"");
    if (installed != platform::kErrSuccess) {
        throw std::runtime_error("installing Big.msi failed with " + std::to_string(installed));
    }

    const nlohmann::json detail = ReadJson(fixtures + "/" + filesManifest);
    for (const auto& file : detail.at("files")) {
        ExpectedFile expected;
        expected.winPath = Utf8ToWide(platform::Os().CodePages(), file.at("x64WindowsPath").get<std::string>());
        expected.size = file.at("size").get<int64_t>();
        if (!machine.Resolve(expected.winPath, expected.hostPath)) {
            throw std::runtime_error("cannot resolve " + file.at("x64WindowsPath").get<std::string>());
        }
        scene.files.push_back(std::move(expected));
    }
    return scene;
}

// One full check; false with `why` set when the result is not a clean pass
// over every file, which would make the timing meaningless.
bool RunCheck(const Scene& scene, std::vector<std::wstring>* checkedPaths, std::string& why) {
    CMsiDB db(platform::Os(), CCollectDirMgr::Instance());
    if (!db.Init(kPackagePath)) {
        why = "CMsiDB::Init failed";
        return false;
    }
    int checked = 0;
    std::vector<std::wstring> bad, missing;
    if (!db.CheckItunesProductFile(kProductType, scene.installDir, checked, bad, missing)) {
        why = "CheckItunesProductFile failed";
        return false;
    }
    if (checked != static_cast<int>(scene.files.size()) || !bad.empty() || !missing.empty()) {
        why = "checked " + std::to_string(checked) + ", bad " + std::to_string(bad.size()) + ", missing " +
              std::to_string(missing.size());
        return false;
    }
    if (checkedPaths) *checkedPaths = std::move(db.m_vecCheckFile);
    return true;
}

void SetFileRate(benchmark::State& state, size_t files) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(files));
    state.counters["files"] = static_cast<double>(files);
}

void FullCheck(benchmark::State& state) {
    std::string why;
    for (auto _ : state) {
        if (!RunCheck(*g_scene, nullptr, why)) {
            state.SkipWithError(why.c_str());
            return;
        }
    }
    SetFileRate(state, g_scene->files.size());
}

void ReadTables(benchmark::State& state) {
    static const wchar_t* const kQueries[] = {
        L"SELECT Directory, Directory_Parent ,DefaultDir FROM Directory",
        L"SELECT Component, Directory_ ,KeyPath,Condition FROM Component",
        L"SELECT File,FileSize,Component_,FileName FROM File",
    };
    size_t rows = 0;
    for (auto _ : state) {
        CMsiDB db(platform::Os(), CCollectDirMgr::Instance());
        if (!db.Init(kPackagePath)) {
            state.SkipWithError("CMsiDB::Init failed");
            return;
        }
        rows = 0;
        for (const wchar_t* sql : kQueries) {
            std::unique_ptr<platform::IMsiView> view;
            if (!db.QuerySql(sql, view)) {
                state.SkipWithError("query failed");
                return;
            }
            while (const auto record = view->Fetch()) {
                benchmark::DoNotOptimize((*record)->GetString(1));
                ++rows;
            }
        }
    }
    state.counters["rows"] = static_cast<double>(rows);
    SetFileRate(state, g_scene->files.size());
}

void ProbeFiles(benchmark::State& state) {
    const std::vector<std::wstring>& paths = g_scene->checkedPaths;
    for (auto _ : state) {
        for (const std::wstring& path : paths) {
            int64_t size = 0;
            if (!ProbeFileSize(platform::Os().Files(), path, size)) {
                state.SkipWithError("a checked file is missing");
                return;
            }
            benchmark::DoNotOptimize(size);
        }
    }
    SetFileRate(state, paths.size());
}

void BareStat(benchmark::State& state) {
    const std::vector<ExpectedFile>& files = g_scene->files;
    for (auto _ : state) {
        for (const ExpectedFile& file : files) {
            struct stat st {};
            if (::stat(file.hostPath.c_str(), &st) != 0 || st.st_size != file.size) {
                state.SkipWithError("a host file is missing or has the wrong size");
                return;
            }
            benchmark::DoNotOptimize(st.st_size);
        }
    }
    SetFileRate(state, files.size());
}

void BareOpen(benchmark::State& state) {
    const std::vector<ExpectedFile>& files = g_scene->files;
    for (auto _ : state) {
        for (const ExpectedFile& file : files) {
            const int fd = ::open(file.hostPath.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat st {};
            const bool sized = fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size == file.size;
            if (fd >= 0) ::close(fd);
            if (!sized) {
                state.SkipWithError("a host file is missing or has the wrong size");
                return;
            }
            benchmark::DoNotOptimize(st.st_size);
        }
    }
    SetFileRate(state, files.size());
}

// Keeps each run's time per iteration so the ratios can be printed once all
// benchmarks are done.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // With repetitions, the median stands for the whole series.
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (run.error_occurred || (aggregate && run.aggregate_name != "median")) continue;
            if (!aggregate && seenAggregate_.count(run.run_name.function_name)) continue;
            if (aggregate) seenAggregate_[run.run_name.function_name] = true;
            times_[run.run_name.function_name] = {run.GetAdjustedCPUTime(), run.GetAdjustedRealTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        const auto base = times_.find("FileCheck/BareStat");
        if (base == times_.end() || base->second.cpu <= 0 || base->second.real <= 0) return;
        for (const char* name : {"FileCheck/FullCheck", "FileCheck/ProbeFiles", "FileCheck/BareOpen"}) {
            const auto it = times_.find(name);
            if (it == times_.end()) continue;
            std::printf("ratio %s / FileCheck/BareStat = %.2fx CPU, %.2fx wall clock\n", name,
                        it->second.cpu / base->second.cpu, it->second.real / base->second.real);
        }
    }

private:
    struct Times {
        double cpu = 0, real = 0;  // per iteration, in the run's unit; only ratios are used
    };
    std::map<std::string, Times> times_;
    std::map<std::string, bool> seenAggregate_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        ScratchMachine machine;
        const char* fixtures = std::getenv("BRISALEN_BENCH_FIXTURES");
        Scene scene = Prepare(machine.Get(), fixtures && *fixtures ? fixtures : BRISALEN_BIG_FIXTURES_DIR);
        std::string why;
        if (!RunCheck(scene, &scene.checkedPaths, why)) {
            std::fprintf(stderr, "the installed package does not check clean: %s\n", why.c_str());
            return 1;
        }
        g_scene = &scene;
        benchmark::RegisterBenchmark("FileCheck/FullCheck", FullCheck)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("FileCheck/ReadTables", ReadTables)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("FileCheck/ProbeFiles", ProbeFiles)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("FileCheck/BareStat", BareStat)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("FileCheck/BareOpen", BareOpen)->Unit(benchmark::kMillisecond);
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.PrintRatios();
        benchmark::Shutdown();
        g_scene = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brisalen_benchmarks: %s\n", e.what());
        return 1;
    }
    return 0;
}
