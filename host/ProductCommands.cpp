#include "host/ProductCommands.h"

#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "host/HostText.h"
#include "host/LibraryExports.h"
#include "host/ProductKinds.h"
#include "host/RepairCommands.h"
#include "platform/Platform.h"

namespace exports {

bool FamilyProducts(HostContext& host, std::vector<ST_MSI_PRODUCT_RAW_DATA>& products) {
    auto query = Find<QueryItunesServiceFn>(host, kQueryItunesService);
    if (query == nullptr) return false;
    query(products);
    return true;
}

}  // namespace exports

namespace {

nlohmann::json TextList(const std::vector<std::wstring>& texts) {
    nlohmann::json list = nlohmann::json::array();
    for (const std::wstring& text : texts) list.push_back(ToUtf8(text));
    return list;
}

std::string Property(const ST_MSI_PRODUCT_RAW_DATA& record, const wchar_t* name) {
    const auto value = record.mapProperty.find(name);
    return value == record.mapProperty.end() ? std::string() : ToUtf8(value->second);
}

nlohmann::json Describe(const ST_MSI_PRODUCT_RAW_DATA& product, const std::vector<std::wstring>* services) {
    return {{"type", product.nProductTypeCopy},
            {"kind", ProductKindName(product.nProductTypeCopy)},
            {"code", ToUtf8(product.strProductCode)},
            {"name", Property(product, L"ProductName")},
            {"version", Property(product, L"VersionString")},
            {"install_location", Property(product, L"InstallLocation")},
            {"package", Property(product, L"PackageName")},
            {"local_package", Property(product, L"LocalPackage")},
            {"services", services != nullptr ? TextList(*services) : nlohmann::json::array()}};
}

// Every product through GetAllInstallProductInfo, unclassified; the map is
// the library's and changes with its next load, so it is read at once.
int ShowAllProducts(HostContext& host) {
    auto all = exports::Find<exports::GetAllInstallProductInfoFn>(host, exports::kGetAllInstallProductInfo);
    if (all == nullptr) return 2;
    nlohmann::json list = nlohmann::json::array();
    for (const auto& entry : *all()) list.push_back(Describe(entry.second, nullptr));
    host.Print(nlohmann::json{{"products", list}});
    return 0;
}

// The family through QueryItunesService, each with the services
// QueryProductService lists for its type after that load.
int ShowFamilyProducts(HostContext& host) {
    auto services = exports::Find<exports::QueryProductServiceFn>(host, exports::kQueryProductService);
    std::vector<ST_MSI_PRODUCT_RAW_DATA> products;
    if (services == nullptr || !exports::FamilyProducts(host, products)) return 2;
    nlohmann::json list = nlohmann::json::array();
    for (const ST_MSI_PRODUCT_RAW_DATA& product : products) {
        list.push_back(Describe(product, services(product.nProductTypeCopy)));
    }
    host.Print(nlohmann::json{{"products", list}});
    return 0;
}

// The check names each wrong file once, bad and missing together; which
// is which the host tells by whether the file is still there.
void SplitFiles(const nlohmann::json& files, nlohmann::json& bad, nlohmann::json& missing) {
    bad = nlohmann::json::array();
    missing = nlohmann::json::array();
    platform::IFileSystem& fileSystem = platform::Os().Files();
    for (const nlohmann::json& file : files) {
        const bool gone = fileSystem.GetAttributes(FromUtf8(file.get<std::string>())) == platform::kInvalidFileAttributes;
        (gone ? missing : bad).push_back(file);
    }
}

// The installed family products' verdicts: exit code 1 when a file is bad
// or missing, 2 when a product's cached package could not be read.
int VerifyProducts(HostContext& host) {
    IFixItunesMgr* manager = host.RepairManager();
    if (manager == nullptr) return 2;
    const nlohmann::json check = RunQuietCheck(*manager);
    if (check.is_null()) {
        std::cerr << "brisalen: the check could not start (see the library log)\n";
        return 2;
    }
    // The product codes come from the family list, read once the check is
    // over: the library's product queries must not run beside a task.
    std::vector<ST_MSI_PRODUCT_RAW_DATA> products;
    if (!exports::FamilyProducts(host, products)) return 2;
    std::map<int32_t, std::string> codes;
    for (const ST_MSI_PRODUCT_RAW_DATA& product : products) codes[product.nProductTypeCopy] = ToUtf8(product.strProductCode);

    nlohmann::json list = nlohmann::json::array();
    int exitCode = 0;
    for (const nlohmann::json& verdict : check["items"]) {
        const std::string state = verdict["state"];
        if (state == "missing") continue;  // nothing installed to verify
        const bool packageRead = state != "not verifiable";
        nlohmann::json bad, missing;
        SplitFiles(verdict["files"], bad, missing);
        if (!packageRead) exitCode = 2;
        else if (!verdict["files"].empty() && exitCode == 0) exitCode = 1;
        const int32_t type = verdict["type"];
        list.push_back({{"type", type},
                        {"kind", ProductKindName(type)},
                        {"code", codes.count(type) ? codes[type] : ""},
                        {"verdict", state},
                        {"package_read", packageRead},
                        {"checked", verdict["checked_files"]},
                        {"bad", bad},
                        {"missing", missing}});
    }
    host.Print(nlohmann::json{{"verify", list}});
    return exitCode;
}

}  // namespace

void AddProductCommands(CLI::App& app, HostAction& action) {
    static bool all = false;
    all = false;
    CLI::App* products = app.add_subcommand(
        "products", "installed products of the iTunes family (type, code, location, package, services)");
    products->add_flag("--all", all, "every installed product, unclassified");
    products->callback([&action] {
        action = [](HostContext& host) { return all ? ShowAllProducts(host) : ShowFamilyProducts(host); };
    });
    app.add_subcommand("verify", "the check task's verdict on each installed family product's files, naming the bad and missing ones (the check also uninstalls a registration that has no installation folder)")
        ->callback([&action] { action = VerifyProducts; });
}
