// brisalen machine install / install-family / uninstall / queue-msi-results.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "host/HostText.h"
#include "host/machine/SetupCommands.h"
#include "platform/Installer.h"
#include "platform/Platform.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/installer/SimProducts.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRestartNeeded = 3010;

// Where copied packages live on the machine, as if downloaded there.
constexpr wchar_t kPackageFolder[] = L"C:\\Packages\\";

struct PackageFacts {
    std::wstring productCode;
    std::wstring productName;
    std::wstring productVersion;
};

std::wstring Property(platform::IMsiDatabase& database, const std::wstring& name) {
    const auto view = database.OpenView(L"SELECT Value FROM Property WHERE Property = '" + name + L"'");
    if (!view || (*view)->Execute() != 0) return std::wstring();
    const auto row = (*view)->Fetch();
    if (!row) return std::wstring();
    return (*row)->GetString(1);
}

std::string Outcome(uint32_t code, const char* done) {
    if (code == 0) return done;
    if (code == kRestartNeeded) return std::string(done) + ", restart needed";
    return "failed with " + std::to_string(code);
}

bool Succeeded(uint32_t code) { return code == 0 || code == kRestartNeeded; }

// Copies a host package into the machine and installs it from there;
// prints one line and tells whether it went in.
bool InstallOne(const fs::path& hostPackage) {
    auto machine = sim::CurrentMachine();
    const std::wstring target = kPackageFolder + FromUtf8(hostPackage.filename().string());
    std::string hostTarget;
    std::error_code ec;
    if (!machine->Resolve(target, hostTarget)) {
        std::cout << hostPackage.string() << ": the machine has no drive C:\n";
        return false;
    }
    fs::create_directories(fs::path(hostTarget).parent_path(), ec);
    if (ec || !fs::copy_file(hostPackage, hostTarget, fs::copy_options::overwrite_existing, ec) || ec) {
        std::cout << hostPackage.string() << ": cannot copy into the machine" << (ec ? ": " + ec.message() : "")
                  << "\n";
        return false;
    }
    platform::IInstaller& installer = platform::Os().Installer();
    PackageFacts facts;
    auto opened = installer.OpenDatabase(target);
    if (!opened) {
        std::cout << hostPackage.filename().string() << ": not an installer package (" << opened.Error() << ")\n";
        return false;
    }
    std::unique_ptr<platform::IMsiDatabase> database = opened.Take();
    facts = {Property(*database, L"ProductCode"), Property(*database, L"ProductName"),
             Property(*database, L"ProductVersion")};
    database.reset();
    const uint32_t code = installer.InstallProduct(target, L"");
    std::cout << ToUtf8(facts.productCode) << "  " << ToUtf8(facts.productName) << " " << ToUtf8(facts.productVersion)
              << " (" << hostPackage.filename().string() << "): " << Outcome(code, "installed") << "\n";
    return Succeeded(code);
}

// Exit code 1 unless every package went in.
int InstallEach(const std::vector<fs::path>& packages) {
    bool allIn = true;
    for (const fs::path& package : packages) allIn = InstallOne(package) && allIn;
    return allIn ? 0 : 1;
}

int InstallFamily(const std::string& folder, const std::vector<std::string>& excluded) {
    std::error_code ec;
    std::vector<fs::path> packages;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        const fs::path& path = entry.path();
        std::string extension = path.extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (!entry.is_regular_file() || extension != ".msi") continue;
        if (std::find(excluded.begin(), excluded.end(), path.filename().string()) != excluded.end()) continue;
        packages.push_back(path);
    }
    if (ec) {
        std::cerr << "brisalen: " << folder << ": " << ec.message() << "\n";
        return 1;
    }
    if (packages.empty()) {
        std::cerr << "brisalen: no .msi packages in " << folder << "\n";
        return 1;
    }
    std::sort(packages.begin(), packages.end());
    return InstallEach(packages);
}

int Uninstall(const std::vector<std::string>& productCodes) {
    platform::IInstaller& installer = platform::Os().Installer();
    bool allOut = true;
    for (const std::string& text : productCodes) {
        const std::wstring productCode = FromUtf8(text);
        std::wstring name;
        installer.GetProductInfo(productCode, L"ProductName", name);
        const uint32_t code = installer.ConfigureProductEx(productCode, platform::kInstallLevelDefault,
                                                           platform::kInstallStateAbsent, L"");
        std::cout << text << (name.empty() ? "" : "  " + ToUtf8(name)) << ": " << Outcome(code, "removed") << "\n";
        allOut = Succeeded(code) && allOut;
    }
    return allOut ? 0 : 1;
}

int QueueResults(const std::vector<uint32_t>& codes) {
    auto machine = sim::CurrentMachine();
    sim::QueueInstallerResults(*machine, codes);
    std::cout << "queued installer results:";
    for (uint32_t code : sim::QueuedInstallerResults(*machine)) std::cout << " " << code;
    std::cout << "\n";
    return 0;
}

}  // namespace

void AddInstallerSetupCommands(CLI::App& machine, HostAction& action) {
    static std::vector<std::string> packages;
    packages = {};
    CLI::App* install = machine.add_subcommand("install", "install .msi packages as msiexec /i would");
    install->add_option("packages", packages, "host paths of .msi files")->required()->check(CLI::ExistingFile);
    install->callback([&action] {
        action = [](HostContext&) { return InstallEach(std::vector<fs::path>(packages.begin(), packages.end())); };
    });

    static std::string folder;
    folder = {};
    static std::vector<std::string> excluded;
    excluded = {};
    CLI::App* family = machine.add_subcommand("install-family", "install every .msi package of a host folder");
    family->add_option("folder", folder, "host folder")->required()->check(CLI::ExistingDirectory);
    family->add_option("--exclude", excluded, "package file names to leave out (e.g. iTunes.msi)");
    family->callback([&action] { action = [](HostContext&) { return InstallFamily(folder, excluded); }; });

    static std::vector<std::string> productCodes;
    productCodes = {};
    CLI::App* uninstall = machine.add_subcommand("uninstall", "remove installed products as msiexec /x would");
    uninstall->add_option("product-codes", productCodes, "product codes, {GUID}")->required();
    uninstall->callback([&action] { action = [](HostContext&) { return Uninstall(productCodes); }; });

    static std::vector<uint32_t> codes;
    codes = {};
    CLI::App* queue = machine.add_subcommand(
        "queue-msi-results", "result codes for the next install/uninstall calls (0 and 3010 do the work)");
    queue->add_option("codes", codes, "Windows Installer result codes, e.g. 1618 1603 3010")->required();
    queue->callback([&action] { action = [](HostContext&) { return QueueResults(codes); }; });
}
