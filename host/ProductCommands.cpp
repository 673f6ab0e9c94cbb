#include "host/ProductCommands.h"

#include <string>
#include <vector>

#include "Brisalen/FileVerify.h"
#include "Brisalen/MsiEnum.h"
#include "host/HostText.h"

namespace {

std::string PropertyOf(const ST_MSI_PRODUCT_RAW_DATA& product, const wchar_t* name) {
    return ToUtf8(ProductProperty(product, name));
}

nlohmann::json TextList(const std::vector<std::wstring>& texts) {
    nlohmann::json list = nlohmann::json::array();
    for (const std::wstring& text : texts) list.push_back(ToUtf8(text));
    return list;
}

nlohmann::json Describe(const ST_MSI_PRODUCT_RAW_DATA& product, const CMsiEnum& products) {
    return {{"type", product.nProductTypeCopy},
            {"kind", ToUtf8(ProductTypeName(product.nProductTypeCopy))},
            {"code", ToUtf8(product.strProductCode)},
            {"name", PropertyOf(product, L"ProductName")},
            {"version", PropertyOf(product, L"VersionString")},
            {"install_location", PropertyOf(product, L"InstallLocation")},
            {"package", PropertyOf(product, L"PackageName")},
            {"local_package", PropertyOf(product, L"LocalPackage")},
            {"services", TextList(products.ServicesOf(product.nProductTypeCopy))}};
}

int ShowProducts(HostContext& host, bool all) {
    CMsiEnum& products = CMsiEnum::Instance();
    products.LoadAllInstallProduct(all);
    nlohmann::json list = nlohmann::json::array();
    for (const auto& entry : all ? products.AllProducts() : products.ItunesProducts()) {
        list.push_back(Describe(entry.second, products));
    }
    host.Print(nlohmann::json{{"products", list}});
    return 0;
}

// Exit code 1 when any product has a bad or missing file, 2 when a
// product's package could not be read.
int VerifyProducts(HostContext& host) {
    CMsiEnum& products = CMsiEnum::Instance();
    products.LoadAllInstallProduct(false);
    nlohmann::json list = nlohmann::json::array();
    int exitCode = 0;
    for (const auto& entry : products.ItunesProducts()) {
        const ST_MSI_PRODUCT_RAW_DATA& product = entry.second;
        int checked = 0;
        std::vector<std::wstring> bad, missing;
        const bool read = CFileVerify::Instance().VerifyByMsi(
            product.nProductTypeCopy, ProductProperty(product, L"LocalPackage"),
            ProductProperty(product, L"InstallLocation"), checked, bad, missing);
        if (!read) exitCode = 2;
        else if ((!bad.empty() || !missing.empty()) && exitCode == 0) exitCode = 1;
        list.push_back({{"kind", ToUtf8(ProductTypeName(product.nProductTypeCopy))},
                        {"code", ToUtf8(product.strProductCode)},
                        {"package_read", read},
                        {"checked", checked},
                        {"bad", TextList(bad)},
                        {"missing", TextList(missing)}});
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
