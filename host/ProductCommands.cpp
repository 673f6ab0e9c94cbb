#include "host/ProductCommands.h"

#include <string>
#include <vector>

#include "host/HostText.h"
#include "host/ProductKinds.h"
#include "host/inprocess/ProductQueries.h"

namespace {

nlohmann::json TextList(const std::vector<std::wstring>& texts) {
    nlohmann::json list = nlohmann::json::array();
    for (const std::wstring& text : texts) list.push_back(ToUtf8(text));
    return list;
}

nlohmann::json Describe(const inprocess::InstalledProduct& product) {
    return {{"type", product.type},
            {"kind", ProductKindName(product.type)},
            {"code", ToUtf8(product.code)},
            {"name", ToUtf8(product.name)},
            {"version", ToUtf8(product.version)},
            {"install_location", ToUtf8(product.installLocation)},
            {"package", ToUtf8(product.package)},
            {"local_package", ToUtf8(product.localPackage)},
            {"services", TextList(product.services)}};
}

int ShowProducts(HostContext& host, bool all) {
    nlohmann::json list = nlohmann::json::array();
    for (const inprocess::InstalledProduct& product : inprocess::InstalledProducts(all)) {
        list.push_back(Describe(product));
    }
    host.Print(nlohmann::json{{"products", list}});
    return 0;
}

// Exit code 1 when any product has a bad or missing file, 2 when a
// product's package could not be read.
int VerifyProducts(HostContext& host) {
    nlohmann::json list = nlohmann::json::array();
    int exitCode = 0;
    for (const inprocess::InstalledProduct& product : inprocess::InstalledProducts(false)) {
        const inprocess::FileCheck check = inprocess::VerifyFiles(product);
        if (!check.packageRead) exitCode = 2;
        else if ((!check.bad.empty() || !check.missing.empty()) && exitCode == 0) exitCode = 1;
        list.push_back({{"kind", ProductKindName(product.type)},
                        {"code", ToUtf8(product.code)},
                        {"package_read", check.packageRead},
                        {"checked", check.checked},
                        {"bad", TextList(check.bad)},
                        {"missing", TextList(check.missing)}});
    }
    host.Print(nlohmann::json{{"verify", list}});
    return exitCode;
}

}  // namespace

void AddProductCommands(CLI::App& app, HostAction& action) {
    static bool all = false;
    CLI::App* products = app.add_subcommand(
        "products", "installed products of the iTunes family (type, code, location, package, services)");
    products->add_flag("--all", all, "every installed product, unclassified");
    products->callback([&action] { action = [](HostContext& host) { return ShowProducts(host, all); }; });
    app.add_subcommand("verify", "check each family product's files against its cached package")
        ->callback([&action] { action = VerifyProducts; });
}
