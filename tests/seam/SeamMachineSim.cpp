// The seam suite against a fresh simulated machine for each case.
#include <filesystem>
#include <fstream>
#include <memory>

#include "../unit/ScratchFolder.h"
#include "SeamMachine.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/Sanitizer.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/registry/SimRegistry.h"
#include "platform/sim/Utf8.h"

namespace seam {

const bool kSimulated = true;

bool FaultsReachTheGuard() { return !sim::RunningUnderSanitizer(); }

namespace {

struct SimulatedMachine {
    ScratchFolder folder{"brisalen-seam"};
    std::shared_ptr<sim::Machine> machine = sim::Machine::Open(folder.Path());
};
std::unique_ptr<SimulatedMachine> current;

std::string Host(const std::wstring& winPath) {
    std::string host;
    EXPECT_TRUE(current->machine->Resolve(winPath, host)) << sim::ToUtf8(winPath);
    return host;
}

}  // namespace

void SetUpMachine() {
    current = std::make_unique<SimulatedMachine>();
    sim::UseMachine(current->machine);
}

void TearDownMachine() {
    sim::UseMachine(nullptr);
    current.reset();
}

std::wstring ImportFile(const std::string& hostPath, const std::wstring& folder) {
    const std::wstring name = sim::FromUtf8(std::filesystem::path(hostPath).filename().string());
    const std::wstring path = folder + L"\\" + name;
    std::filesystem::copy_file(hostPath, Host(path));
    return path;
}

uint32_t MakeLink(const std::wstring& link, const std::wstring& target, bool /*junction*/) {
    std::error_code ec;
    std::filesystem::create_directory_symlink(Host(target), Host(link), ec);
    return ec ? platform::kErrAccessDenied : platform::kErrSuccess;
}

uint32_t MakePlaceholder(const std::wstring& folder, uint32_t& tag) {
    sim::FileMeta meta = current->machine->Meta(folder);
    meta.reparseTag = tag = platform::kReparseTagCloudFiles;
    current->machine->SetMeta(folder, meta);
    return platform::kErrSuccess;
}

void DeleteMachineKey(const std::wstring& path) {
    const std::wstring key = L"HKLM\\" + path;
    current->machine->Edit<sim::Registry>([&](sim::Registry& registry) {
        for (auto it = registry.keys.begin(); it != registry.keys.end();) {
            const bool below = sim::EqualsNoCase(it->first, key) ||
                               (it->first.size() > key.size() && it->first[key.size()] == L'\\' &&
                                sim::EqualsNoCase(it->first.substr(0, key.size()), key));
            it = below ? registry.keys.erase(it) : std::next(it);
        }
    });
}

// A stand-in program the machine keeps running until it is ended.
std::wstring LingeringProgram(std::wstring& exeFile) {
    exeFile = L"SeamLinger.exe";
    const std::wstring path = L"C:\\Windows\\" + exeFile;
    std::filesystem::create_directories(std::filesystem::path(Host(path)).parent_path());
    std::ofstream(Host(path)) << "MZ";
    sim::SetProgramBehaviour(*current->machine, exeFile, sim::ProgramBehaviour::Hang);
    return L"\"" + path + L"\" --linger 60";
}

}  // namespace seam
