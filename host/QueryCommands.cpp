#include "host/QueryCommands.h"

#include <string>
#include <vector>

#include "host/HostText.h"
#include "host/LibraryExports.h"
#include "host/UserDataCommands.h"

namespace {

using namespace exports;

int PrintOutcome(HostContext& host, const char* key, bool done, int error) {
    host.Print({{key, {{"success", done}, {"error", error}}}});
    return done ? 0 : 1;
}

int RunInstall(HostContext& host, const std::string& package) {
    auto install = Find<InstallProductFn>(host, kInstallProduct);
    if (install == nullptr) return 2;
    int error = 0;
    const bool done = install(FromUtf8(package), &error);
    return PrintOutcome(host, "install", done, error);
}

int RunUninstall(HostContext& host, int type, const std::string& code) {
    auto uninstall = Find<UninstallProductFn>(host, kUninstallProduct);
    if (uninstall == nullptr) return 2;
    int error = 0;
    const bool done = uninstall(type, FromUtf8(code), &error);
    return PrintOutcome(host, "uninstall", done, error);
}

int RunProductServices(HostContext& host, int type) {
    auto query = Find<QueryProductServiceFn>(host, kQueryProductService);
    if (query == nullptr) return 2;
    const std::vector<std::wstring>* services = query(type);
    nlohmann::json list = nlohmann::json::array();
    if (services != nullptr) {
        for (const std::wstring& name : *services) list.push_back(ToUtf8(name));
    }
    host.Print({{"type", type}, {"listed", services != nullptr}, {"services", list}});
    return services != nullptr ? 0 : 1;
}

// The group map as the export hands it out, read after a scan in this
// process (before one it is empty).
int RunGroups(HostContext& host, bool deep) {
    auto groupMap = Find<GetAllItunesTypeInfoMapFn>(host, kGetAllItunesTypeInfoMap);
    if (groupMap == nullptr) return 2;
    const int scanned = RunScanOnly(host, deep);
    if (scanned != 0) return scanned;
    const auto& groups = *static_cast<const ItunesTypeInfoMap*>(groupMap());
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [groupCode, group] : groups) {
        nlohmann::json categories = nlohmann::json::array();
        for (const auto& [code, info] : group.mapCategory) {
            nlohmann::json folders = nlohmann::json::array();
            for (const std::wstring& folder : info.vecFolder) folders.push_back(ToUtf8(folder));
            categories.push_back({{"category", code}, {"files", info.nCount}, {"bytes", info.nSize}, {"folders", folders}});
        }
        list.push_back({{"group", groupCode}, {"files", group.nCount}, {"bytes", group.nSize}, {"categories", categories}});
    }
    host.Print({{"groups", list}});
    return 0;
}

}  // namespace

void AddQueryCommands(CLI::App& app, HostAction& action) {
    static std::string package;
    package = {};
    CLI::App* install = app.add_subcommand("install", "install one package through the library's InstallProduct export");
    install->add_option("package", package, "the .msi package (a Windows path)")->required();
    install->callback([&action] { action = [](HostContext& host) { return RunInstall(host, package); }; });

    static int type = 0;
    type = 0;
    static std::string code;
    code = {};
    CLI::App* uninstall =
        app.add_subcommand("uninstall", "uninstall one product through the library's UninstallProduct export");
    uninstall->add_option("type", type, "the product type (1 iTunes ... 6 Apple Application Support 64-bit)")
        ->required()
        ->check(CLI::Range(0, 6));
    uninstall->add_option("code", code, "the product code, {GUID}")->required();
    uninstall->callback([&action] { action = [](HostContext& host) { return RunUninstall(host, type, code); }; });

    static int serviceType = 0;
    serviceType = 0;
    CLI::App* services =
        app.add_subcommand("product-services", "the service names the library lists for a product type");
    services->add_option("type", serviceType, "the product type")->required();
    services->callback([&action] { action = [](HostContext& host) { return RunProductServices(host, serviceType); }; });

    static bool deep = false;
    deep = false;
    CLI::App* groups = app.add_subcommand(
        "groups", "scan, then show the user-data group map as the GetAllItunesTypeInfoMap export hands it out");
    groups->add_flag("--deep", deep, "a deep scan");
    groups->callback([&action] { action = [](HostContext& host) { return RunGroups(host, deep); }; });
}
