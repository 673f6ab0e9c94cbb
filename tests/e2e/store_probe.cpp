// Calls RemovePackage.dll from beside this program the way the library
// does, and times its removal; then runs the companion's hidden-process
// runner against this program itself, to see an exit code come back and a
// program that outlives its limit ended. Prints one line per fact; exits
// non-zero on a mismatch.
//
//   store_probe EXPECTED_REMOVAL_CODE [EXPECTED_VERSION]
//     EXPECTED_VERSION: the check must answer true with it; without it, false.
//   store_probe --exit N | --sleep MS     (the runner's child)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "companions/RemovePackage/HiddenProcess.h"
#include "companions/RemovePackage/RemovePackage.h"

namespace {

using CheckFn = bool(REMOVEPACKAGE_CDECL*)(wchar_t*, int32_t);
using UninstallFn = int32_t(REMOVEPACKAGE_CDECL*)();
using Clock = std::chrono::steady_clock;

int g_mismatches = 0;

void Check(const std::string& what, bool ok) {
    std::printf("%s %s\n", ok ? "ok      " : "MISMATCH", what.c_str());
    if (!ok) ++g_mismatches;
}

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text != L'\0'; ++text) narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

std::wstring OwnPath() {
    std::vector<wchar_t> path(32768);
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::wstring(path.data(), length);
}

void ProbeCompanion(int32_t expectedCode, const char* expectedVersion) {
    // No FreeLibrary: the process ends soon, as the library's own use of it does.
    const HMODULE companion = ::LoadLibraryW(L"RemovePackage.dll");
    Check("RemovePackage.dll loads from beside the program", companion != nullptr);
    if (companion == nullptr) return;
    const auto check = reinterpret_cast<CheckFn>(
        reinterpret_cast<void*>(::GetProcAddress(companion, "CheckInstallMicrosoftStoreItunes")));
    const auto uninstall = reinterpret_cast<UninstallFn>(
        reinterpret_cast<void*>(::GetProcAddress(companion, "UninstallMicrosoftStoreItunes")));
    Check("both exports found by their plain names", check != nullptr && uninstall != nullptr);
    if (check == nullptr || uninstall == nullptr) return;

    std::vector<wchar_t> version(removepackage::kVersionUnits, L'\0');
    const bool installed = check(version.data(), 0);
    std::printf("check: %d, version [%s]\n", installed ? 1 : 0, Narrow(version.data()).c_str());
    if (expectedVersion == nullptr) {
        Check("the check answers false with an empty version", !installed && version[0] == L'\0');
    } else {
        Check(std::string("the check answers true with version ") + expectedVersion,
              installed && Narrow(version.data()) == expectedVersion);
    }

    const Clock::time_point start = Clock::now();
    const int32_t code = uninstall();
    const long long took = MillisecondsSince(start);
    std::printf("removal: code %d (0x%x) in %lld ms\n", code, static_cast<unsigned>(code), took);
    Check("the removal answers " + std::to_string(expectedCode), code == expectedCode);
    Check("the removal answers well within its time limit (10 s of 120 s)", took < 10000);
}

void ProbeRunner() {
    const std::wstring self = OwnPath();
    const std::wstring quoted = L"\"" + self + L"\"";

    removepackage::ProcessOutcome exited = removepackage::RunHidden(self, quoted + L" --exit 7", 30000);
    Check("a hidden program's exit code comes back",
          exited.kind == removepackage::ProcessOutcome::Kind::Exited && exited.exitCode == 7);

    const Clock::time_point start = Clock::now();
    removepackage::ProcessOutcome slow = removepackage::RunHidden(self, quoted + L" --sleep 60000", 1000);
    const long long took = MillisecondsSince(start);
    std::printf("runner: a 60 s program under a 1 s limit returned after %lld ms\n", took);
    Check("a program that outlives its limit is ended at the limit",
          slow.kind == removepackage::ProcessOutcome::Kind::TimedOut && took >= 900 && took < 10000);

    removepackage::ProcessOutcome missing =
        removepackage::RunHidden(L"C:\\no\\such\\program.exe", L"\"C:\\no\\such\\program.exe\"", 1000);
    std::printf("runner: a missing program: error %u\n", missing.error);
    Check("a missing program cannot start",
          missing.kind == removepackage::ProcessOutcome::Kind::CannotStart && missing.error != 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--exit") == 0) return std::atoi(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--sleep") == 0) {
        ::Sleep(static_cast<DWORD>(std::atoi(argv[2])));
        return 0;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: store_probe EXPECTED_REMOVAL_CODE [EXPECTED_VERSION]\n");
        return 2;
    }
    ProbeCompanion(static_cast<int32_t>(std::strtol(argv[1], nullptr, 0)), argc == 3 ? argv[2] : nullptr);
    ProbeRunner();
    std::printf("store probe: %d mismatches\n", g_mismatches);
    return g_mismatches == 0 ? 0 : 1;
}
