#include "platform/sim/installer/PackageGuard.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <libmsi.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>

#include "platform/NoDestructor.h"
#include "platform/Types.h"
#include "platform/sim/installer/PackageCheck.h"
#include "platform/sim/installer/PackageFile.h"
#include "platform/sim/installer/PackageVerdictStore.h"
#include "platform/sim/installer/PackageVerdicts.h"
#include "platform/sim/Utf8.h"

#ifndef BRISALEN_PACKAGE_CHECK_NAME
#error "the build names the package check program"
#endif

namespace sim {
namespace {

struct GuardState {
    std::mutex mutex;
    PackageCheckSettings settings;
    std::set<std::string> programsReported;  // ones that could not be started, said once each
    std::set<std::string> storesLoaded;      // verdict files read into `verdicts`
    PackageVerdicts verdicts;
    std::atomic<uint64_t> checksStarted{0};
};

// Never destroyed: a detached worker may still open a package while the
// process exits.
GuardState& State() {
    static platform::NoDestructor<GuardState> state;
    return *state;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string FindDefaultProgram() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DefaultPackageCheckProgram), &info) == 0 || !info.dli_fname) {
        return std::string();
    }
    // A library found through the search path is named as found; the
    // main program may be named by its bare argv[0].
    std::string module = info.dli_fname;
    if (module.find('/') == std::string::npos) module = "/proc/self/exe";
    char resolved[PATH_MAX];
    if (!::realpath(module.c_str(), resolved)) return std::string();
    return FolderOf(resolved) + "/" + BRISALEN_PACKAGE_CHECK_NAME;
}

PackageCheckLimits Limits() {
    GuardState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    PackageCheckLimits limits;
    limits.program = state.settings.program.empty() ? DefaultPackageCheckProgram() : state.settings.program;
    limits.timeLimit = state.settings.timeLimit;
    limits.memoryMiB = state.settings.memoryMiB;
    return limits;
}

// What a file is, as far as a stamp of the program that reads it needs.
std::string FileStamp(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) return path + ":missing";
    return path + ":" + std::to_string(status.st_ino) + ":" + std::to_string(status.st_size) + ":" +
           std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
}

// The check program and the libmsi this process uses: a verdict holds
// for the pair that reached it.
std::string CheckerStamp(const std::string& program) {
    Dl_info info{};
    const bool found = dladdr(reinterpret_cast<void*>(&libmsi_database_new), &info) != 0 && info.dli_fname;
    return FileStamp(program) + "|" + FileStamp(found ? info.dli_fname : "");
}

// The verdicts earlier processes kept for this machine, read in once.
void LoadStoreOnce(GuardState& state, const PackageVerdictStore& store, const std::string& file) {
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.storesLoaded.insert(file).second) return;
    }
    for (PackageVerdictEntry& entry : store.Load()) state.verdicts.Remember(std::move(entry));
}

uint32_t Refuse(const std::wstring& shownAs, const std::string& why) {
    std::fprintf(stderr, "brisalen: %s: %s; answered as an invalid package (1620)\n", ToUtf8(shownAs).c_str(),
                 why.c_str());
    return platform::kErrInstallPackageInvalid;
}

}  // namespace

std::string DefaultPackageCheckProgram() {
    static const platform::NoDestructor<std::string> program(FindDefaultProgram());
    return *program;
}

void SetPackageCheckSettings(const PackageCheckSettings& settings) {
    GuardState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.settings = settings;
    state.programsReported.clear();
    state.storesLoaded.clear();
    state.verdicts.Clear();
}

PackageCheckSettings CurrentPackageCheckSettings() {
    GuardState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.settings;
}

uint64_t PackageChecksStarted() { return State().checksStarted.load(); }

uint32_t AdmitPackage(const PackageFile& file, const std::vector<std::string>& queries, const std::wstring& shownAs,
                      const std::string& machineFolder) {
    GuardState& state = State();
    const auto known = [&] { return state.verdicts.Find(file.HostPath(), file.Version(), queries); };
    const auto answer = [](const PackageVerdict& verdict) {
        return verdict.sound ? platform::kErrSuccess : platform::kErrInstallPackageInvalid;
    };
    if (std::optional<PackageVerdict> verdict = known()) return answer(*verdict);
    const PackageCheckLimits limits = Limits();
    std::optional<PackageVerdictStore> store;
    if (!machineFolder.empty() && !limits.program.empty()) {
        const std::string storeFile = machineFolder + "/" + PackageVerdictStore::kFileName;
        store.emplace(storeFile, CheckerStamp(limits.program));
        LoadStoreOnce(state, *store, storeFile);
        if (std::optional<PackageVerdict> verdict = known()) return answer(*verdict);
    }

    PackageVerdictEntry entry{file.HostPath(), file.Version(), PackageVerdicts::CoarseClockNs(), {}};
    CheckOutcome outcome{CheckEnd::kNotRun, "there is no " BRISALEN_PACKAGE_CHECK_NAME " beside the library"};
    if (!limits.program.empty()) {
        ++state.checksStarted;
        outcome = RunPackageCheck(limits, file.Descriptor(), queries);
    }
    if (outcome.end == CheckEnd::kNotRun) {
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            first = state.programsReported.insert(limits.program).second;
        }
        // Every package is refused meanwhile; saying why once is enough.
        if (!first) return platform::kErrInstallPackageInvalid;
        return Refuse(shownAs, "the package check cannot run (" + outcome.detail + "), so no package is read");
    }
    FileVersion now;
    if (!file.CurrentVersion(now) || now != file.Version()) {
        return Refuse(shownAs, "the package changed while it was checked");
    }
    entry.verdict.sound = outcome.end == CheckEnd::kSound;
    entry.verdict.detail = outcome.detail;
    if (entry.verdict.sound) entry.verdict.queries.insert(queries.begin(), queries.end());
    const PackageVerdictEntry kept = state.verdicts.Remember(entry);
    if (store) store->Save(kept);
    if (entry.verdict.sound) return platform::kErrSuccess;
    return Refuse(shownAs, "the package check reading it " + outcome.detail);
}

}  // namespace sim
