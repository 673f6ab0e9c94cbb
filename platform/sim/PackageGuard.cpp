#include "platform/sim/PackageGuard.h"

#include <dlfcn.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>

#include "platform/NoDestructor.h"
#include "platform/Types.h"
#include "platform/sim/PackageCheck.h"
#include "platform/sim/PackageFile.h"
#include "platform/sim/PackageVerdicts.h"
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
    state.verdicts.Clear();
}

PackageCheckSettings CurrentPackageCheckSettings() {
    GuardState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.settings;
}

uint64_t PackageChecksStarted() { return State().checksStarted.load(); }

uint32_t AdmitPackage(const PackageFile& file, const std::vector<std::string>& queries, const std::wstring& shownAs) {
    GuardState& state = State();
    if (std::optional<PackageVerdict> known = state.verdicts.Find(file.HostPath(), file.Version(), queries)) {
        return known->sound ? platform::kErrSuccess : platform::kErrInstallPackageInvalid;
    }
    const PackageCheckLimits limits = Limits();
    const int64_t started = PackageVerdicts::CoarseClockNs();
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
    PackageVerdict verdict;
    verdict.sound = outcome.end == CheckEnd::kSound;
    verdict.detail = outcome.detail;
    if (verdict.sound) verdict.queries.insert(queries.begin(), queries.end());
    state.verdicts.Remember(file.HostPath(), file.Version(), started, verdict);
    if (verdict.sound) return platform::kErrSuccess;
    return Refuse(shownAs, "reading it made the package check process fail: it " + outcome.detail);
}

}  // namespace sim
