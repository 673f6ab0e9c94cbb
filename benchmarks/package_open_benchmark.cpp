// What the package check costs an open of an installer package on the
// simulated machine: the first open of a package version starts the check
// program, a later one finds the verdict.
//
//   ninja -C build/linux brisalen_package_open_benchmark
//   build/linux/bin/brisalen_package_open_benchmark
//
//   PackageOpen/FirstOpen   no verdict anywhere: check program started,
//                           then libmsi opens the package
//   PackageOpen/StoredOpen  the process's verdicts forgotten before each
//                           open, the machine's kept: what the first open
//                           of a package costs a later host command
//   PackageOpen/CachedOpen  verdict known in the process: libmsi's open
//
// Times are wall-clock (the check runs in another process, whose CPU time
// this one does not see). BRISALEN_BENCH_PACKAGE=FILE measures another
// package instead of the fixtures' iTunes64.msi, e.g. fixtures-big/Big.msi.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/Platform.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/installer/PackageGuard.h"
#include "platform/sim/installer/PackageVerdictStore.h"
#include "platform/sim/SimPlatform.h"
#include "ScratchMachine.h"

namespace {

namespace fs = std::filesystem;

const std::wstring kPackagePath = L"C:\\Packages\\bench.msi";

// A scratch machine holding the package to open.
class PackageMachine {
public:
    PackageMachine() {
        const char* chosen = std::getenv("BRISALEN_BENCH_PACKAGE");
        const std::string source =
            chosen && *chosen ? chosen : std::string(BRISALEN_FIXTURES_DIR) + "/iTunes64.msi";
        std::string host;
        if (!machine_.Get().Resolve(kPackagePath, host)) throw std::runtime_error("cannot resolve the package path");
        fs::create_directories(fs::path(host).parent_path());
        fs::copy_file(source, host, fs::copy_options::overwrite_existing);
        // A verdict on a file stamped in the current clock tick is not kept.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    // As a new process on this machine would start, and with `kept` false
    // also without the verdicts kept in the machine's folder.
    void ForgetVerdicts(bool kept) {
        sim::SetPackageCheckSettings(sim::CurrentPackageCheckSettings());
        if (!kept) fs::remove(machine_.Folder() + "/" + sim::PackageVerdictStore::kFileName);
    }

private:
    ScratchMachine machine_;
};

void OpenOnce(benchmark::State& state) {
    if (!platform::Os().Installer().OpenDatabase(kPackagePath)) state.SkipWithError("open failed");
}

void OpenAfterForgetting(benchmark::State& state, bool kept) {
    PackageMachine machine;
    OpenOnce(state);
    const uint64_t before = sim::PackageChecksStarted();
    for (auto _ : state) {
        state.PauseTiming();
        machine.ForgetVerdicts(kept);
        state.ResumeTiming();
        OpenOnce(state);
    }
    state.counters["checks_per_open"] =
        static_cast<double>(sim::PackageChecksStarted() - before) / static_cast<double>(state.iterations());
}

void FirstOpen(benchmark::State& state) { OpenAfterForgetting(state, false); }
void StoredOpen(benchmark::State& state) { OpenAfterForgetting(state, true); }

void CachedOpen(benchmark::State& state) {
    PackageMachine machine;
    OpenOnce(state);
    const uint64_t before = sim::PackageChecksStarted();
    for (auto _ : state) OpenOnce(state);
    state.counters["checks_per_open"] =
        static_cast<double>(sim::PackageChecksStarted() - before) / static_cast<double>(state.iterations());
}

BENCHMARK(FirstOpen)->Name("PackageOpen/FirstOpen")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(StoredOpen)->Name("PackageOpen/StoredOpen")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(CachedOpen)->Name("PackageOpen/CachedOpen")->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
