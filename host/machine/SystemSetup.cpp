// brisalen machine set-os / add-drive / set-itunes: the Windows release,
// the drives and the iTunes registry values of the simulated machine.
#include <algorithm>
#include <cctype>
#include <map>

#include "host/HostText.h"
#include "host/machine/SetupCommands.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/registry/SimRegistry.h"

namespace {

constexpr wchar_t kItunesKey[] = L"HKLM\\SOFTWARE\\Apple Computer, Inc.\\iTunes";

struct OsChoice {
    std::string release = "10";
    bool windows32 = false;
};

struct DriveChoice {
    std::string letter;
    std::string type = "fixed";
    double sizeGb = 256;
    double freeGb = -1;
};

struct ItunesChoice {
    std::string installDir;
    std::string version;
    bool remove = false;
};

int SetOs(const OsChoice& choice) {
    static const std::map<std::string, sim::WindowsRelease> releases{
        {"7", sim::WindowsRelease::Windows7},
        {"8.1", sim::WindowsRelease::Windows81},
        {"10", sim::WindowsRelease::Windows10},
        {"11", sim::WindowsRelease::Windows11},
    };
    sim::CurrentMachine()->SetWindows(releases.at(choice.release), !choice.windows32);
    return 0;
}

int AddDrive(const DriveChoice& choice) {
    static const std::map<std::string, platform::DriveType> types{
        {"fixed", platform::DriveType::Fixed},
        {"cdrom", platform::DriveType::CdRom},
        {"remote", platform::DriveType::Remote},
        {"removable", platform::DriveType::Removable},
    };
    const wchar_t letter = static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(choice.letter[0])));
    const auto total = static_cast<uint64_t>(choice.sizeGb * (1ull << 30));
    const auto freeBytes = choice.freeGb < 0 ? total / 2 : static_cast<uint64_t>(choice.freeGb * (1ull << 30));
    auto machine = sim::CurrentMachine();
    machine->Edit([&](sim::MachineState& state) {
        for (auto it = state.drives.begin(); it != state.drives.end();) {
            it = it->letter == letter ? state.drives.erase(it) : it + 1;
        }
        state.drives.push_back({letter, types.at(choice.type), total, freeBytes});
        std::sort(state.drives.begin(), state.drives.end(),
                  [](const sim::DriveInfo& a, const sim::DriveInfo& b) { return a.letter < b.letter; });
    });
    machine->CreateDriveFolders();
    return 0;
}

int SetItunes(const ItunesChoice& choice) {
    auto machine = sim::CurrentMachine();
    if (choice.remove) {
        sim::DeleteRegistryKey(*machine, kItunesKey);
        return 0;
    }
    if (!choice.installDir.empty()) {
        sim::SetRegistryString(*machine, kItunesKey, L"InstallDir", FromUtf8(choice.installDir));
    }
    if (!choice.version.empty()) sim::SetRegistryString(*machine, kItunesKey, L"Version", FromUtf8(choice.version));
    return 0;
}

}  // namespace

void AddSystemSetupCommands(CLI::App& machine, HostAction& action) {
    static OsChoice os;
    CLI::App* setOs = machine.add_subcommand("set-os", "Windows release and bitness");
    setOs->add_option("release", os.release, "7, 8.1, 10 or 11")->required()->check(
        CLI::IsMember({"7", "8.1", "10", "11"}));
    setOs->add_flag("--32bit", os.windows32, "32-bit Windows");
    setOs->callback([&action] { action = [](HostContext&) { return SetOs(os); }; });

    static DriveChoice drive;
    CLI::App* addDrive = machine.add_subcommand("add-drive", "add or replace a drive");
    addDrive->add_option("letter", drive.letter, "drive letter")->required()->check(CLI::Validator(
        [](std::string& value) { return value.size() == 1 && std::isalpha(static_cast<unsigned char>(value[0]))
                                            ? std::string() : std::string("a single letter"); },
        "LETTER"));
    addDrive->add_option("--type", drive.type, "fixed, cdrom, remote or removable")
        ->check(CLI::IsMember({"fixed", "cdrom", "remote", "removable"}));
    addDrive->add_option("--size-gb", drive.sizeGb, "capacity in GiB");
    addDrive->add_option("--free-gb", drive.freeGb, "free space in GiB (default: half)");
    addDrive->callback([&action] { action = [](HostContext&) { return AddDrive(drive); }; });

    static ItunesChoice itunes;
    CLI::App* setItunes = machine.add_subcommand("set-itunes", "the iTunes registry values");
    setItunes->add_option("--install-dir", itunes.installDir, "InstallDir value");
    setItunes->add_option("--version", itunes.version, "Version value");
    setItunes->add_flag("--remove", itunes.remove, "remove the iTunes key");
    setItunes->callback([&action] { action = [](HostContext&) { return SetItunes(itunes); }; });
}
