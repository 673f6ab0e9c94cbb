// libFuzzer target for reading an installer package on the simulated
// machine: the input becomes C:\Packages\fuzz.msi, which the library opens,
// asks for its services and checks file by file, as the repair does with a
// package it finds on a user's disk. The simulated machine reads every
// input through its package check (platform/sim/installer/PackageGuard.h): an input
// that faults libmsi does so in the check process, and the library is told
// 1620. Nothing may take this process down.
//
// Built and run by scripts/fuzz.sh; see fuzz/CMakeLists.txt.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Brisalen/MsiDB.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/SimPlatform.h"

namespace {

const std::wstring kPackagePath = L"C:\\Packages\\fuzz.msi";
const std::wstring kInstallDir = L"C:\\Program Files\\Fuzz\\";

// One machine for the whole run, in a temporary folder removed at exit.
// A crashing input ends the process before that, so the folder goes under
// $TMPDIR, which scripts/fuzz.sh points at a folder it clears itself.
class FuzzMachine {
public:
    FuzzMachine() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/brisalen-fuzz-XXXXXX";
        std::vector<char> folder(pattern.begin(), pattern.end());
        folder.push_back('\0');
        if (!::mkdtemp(folder.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        folder_ = folder.data();
        machine_ = sim::Machine::Open(folder_);
        sim::UseMachine(machine_);
        if (!machine_->Resolve(kPackagePath, packageHost_)) std::abort();
        std::filesystem::create_directories(std::filesystem::path(packageHost_).parent_path());
        // A few files where a package may point, so the check meets both
        // present and missing ones.
        for (const wchar_t* name : {L"a.dll", L"b.exe"}) {
            std::string host;
            if (!machine_->Resolve(kInstallDir + name, host)) std::abort();
            std::filesystem::create_directories(std::filesystem::path(host).parent_path());
            std::ofstream(host, std::ios::binary) << "content";
        }
    }
    ~FuzzMachine() {
        sim::UseMachine(nullptr);
        machine_.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    FuzzMachine(const FuzzMachine&) = delete;
    FuzzMachine& operator=(const FuzzMachine&) = delete;

    bool WritePackage(const uint8_t* data, size_t size) const {
        std::ofstream out(packageHost_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return static_cast<bool>(out);
    }

private:
    std::string folder_;
    std::string packageHost_;
    std::shared_ptr<sim::Machine> machine_;
};

FuzzMachine& Machine() {
    static FuzzMachine machine;
    return machine;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Machine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!Machine().WritePackage(data, size)) return 0;
    CMsiDB db(platform::Os(), CCollectDirMgr::Instance());
    if (!db.Init(kPackagePath)) return 0;
    std::vector<std::wstring> services;
    db.QueryServiceInstall(services);
    int checked = 0;
    std::vector<std::wstring> bad, missing;
    db.CheckItunesProductFile(1, kInstallDir, checked, bad, missing);
    return 0;
}
