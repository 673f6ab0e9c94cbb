// The two exports. No C++ exception leaves them: they are called across a
// C boundary, by callers that know nothing of C++.
#include <algorithm>
#include <new>

#include "HiddenProcess.h"
#include "PowerShell.h"
#include "RemovePackage.h"
#include "StorePackages.h"

namespace {

using namespace removepackage;

constexpr wchar_t kItunesFamily[] = L"AppleInc.iTunes_nzyj5cx40ttqa";
// Removing a package usually takes seconds; the deployment service may
// queue the request behind others for a while.
constexpr uint32_t kRemovalLimitMs = 120000;

int32_t CommandFailed(uint32_t exitCode) {
    return static_cast<int32_t>(kRemovalCommandFailed | (exitCode & 0xFFFF));
}

int32_t Uninstall() {
    const PackageLookup before = FindPackage(kItunesFamily);
    if (before.state == PackageLookup::State::NoPackageManager) return kNoPackageManager;
    if (before.state == PackageLookup::State::NotInstalled) return kNotInstalled;
    const std::wstring powerShell = PowerShellPath();
    if (powerShell.empty()) return kNoRemovalTool;

    const ProcessOutcome run =
        RunHidden(powerShell, RemovalCommandLine(powerShell, *before.package), kRemovalLimitMs);
    switch (run.kind) {
        case ProcessOutcome::Kind::CannotStart: return kCannotStartRemoval;
        case ProcessOutcome::Kind::TimedOut: return kRemovalTimedOut;
        case ProcessOutcome::Kind::Exited: break;
    }
    if (run.exitCode != 0) return CommandFailed(run.exitCode);
    // PowerShell's exit code says only that the command ran: the package
    // manager has the last word.
    if (FindPackage(kItunesFamily).state == PackageLookup::State::Installed) return kStillInstalled;
    return kRemoved;
}

}  // namespace

extern "C" bool REMOVEPACKAGE_CDECL CheckInstallMicrosoftStoreItunes(wchar_t* version, int32_t /*reserved*/) {
    try {
        const PackageLookup lookup = FindPackage(kItunesFamily);
        if (lookup.state != PackageLookup::State::Installed) return false;
        if (version != nullptr) {
            const std::wstring& text = lookup.package->version;
            const size_t units = std::min(text.size(), static_cast<size_t>(kVersionUnits - 1));
            std::copy_n(text.data(), units, version);
            version[units] = L'\0';
        }
        return true;
    } catch (...) {
        return false;
    }
}

extern "C" int32_t REMOVEPACKAGE_CDECL UninstallMicrosoftStoreItunes() {
    try {
        return Uninstall();
    } catch (...) {
        return kInternalError;
    }
}
