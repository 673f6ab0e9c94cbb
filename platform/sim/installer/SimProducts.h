// The installed products of the simulated machine, kept in the "products"
// section of machine.json as
//   {productCode, properties: {name: value}, layout: {files, folders,
//    services, registry: [{key, name}], registryKeys}}
// where properties holds what MsiGetProductInfoW answers and layout what
// the install put on the machine, so uninstalling can take exactly that
// away. "msiResults" holds the queued result codes, "msiUiLevel" the level
// MsiSetInternalUI last set, "msiCalls" the calls made.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/store/MachineJson.h"

namespace sim {

struct RegistryValueRef {
    std::wstring key;  // full name in the 64-bit view, "HKLM\SOFTWARE\WOW6432Node\..."
    std::wstring name;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(RegistryValueRef, key, name)

// What an install created, in the order it did so.
struct ProductLayout {
    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;  // the product's folders below the standard ones
    std::vector<std::wstring> services;
    std::vector<RegistryValueRef> registry;  // values, each removed on its own
    std::vector<std::wstring> registryKeys;  // removed whole (the uninstall entry)
    // Each installed component's ComponentId and key path, as the
    // Installer registers them.
    std::map<std::wstring, std::wstring> componentPaths;

    // Adds what `other` has and this one lacks, for a reinstall over an
    // earlier layout.
    void Merge(const ProductLayout& other);
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(ProductLayout, files, folders, services, registry, registryKeys,
                                                componentPaths)

struct InstalledProduct {
    std::wstring productCode;
    std::map<std::wstring, std::wstring> properties;
    ProductLayout layout;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(InstalledProduct, productCode, properties, layout)

// In the order they were first registered.
struct Products : NamedEntries<InstalledProduct, &InstalledProduct::productCode> {
    static constexpr const char* kKey = "products";
};
SIM_JSON_STORED_AS(Products, entries)

// Registered products in the order MsiEnumProductsW gives them: by the
// packed form of the product code, as the Installer's registry keys sort.
SIM_API std::vector<InstalledProduct> ListProducts(const Machine& machine);
SIM_API std::optional<InstalledProduct> FindProduct(const Machine& machine, const std::wstring& productCode);
// Registers the product, replacing the properties of one of the same code
// and adding the new layout to what that one had laid out, as a reinstall
// over an earlier install does.
void RegisterProduct(Machine& machine, const InstalledProduct& product);
bool ForgetProduct(Machine& machine, const std::wstring& productCode);

// Result codes for the next install and configure calls, one per call:
// 0 and 3010 let the call do its work (3010 is then what it returns), any
// other code is returned at once with nothing changed.
SIM_API void QueueInstallerResults(Machine& machine, const std::vector<uint32_t>& codes);
SIM_API std::vector<uint32_t> QueuedInstallerResults(const Machine& machine);
std::optional<uint32_t> PopInstallerResult(Machine& machine);

struct InstallerResultQueue {
    static constexpr const char* kKey = "msiResults";
    EntryList<uint32_t> codes;  // the next call's first
};
SIM_JSON_STORED_AS(InstallerResultQueue, codes)

// The install and configure calls the Installer got, oldest first (the
// last 64 are kept), whatever they answered: the function's name
// ("InstallProduct", "ConfigureProductEx", "ConfigureProduct"), the package
// or product code, and the command line.
struct InstallerCall {
    std::wstring function;
    std::wstring target;
    std::wstring commandLine;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(InstallerCall, function, target, commandLine)

struct InstallerCallLog {
    static constexpr const char* kKey = "msiCalls";
    EntryList<InstallerCall> entries;
};
SIM_JSON_STORED_AS(InstallerCallLog, entries)
SIM_API std::vector<InstallerCall> InstallerCalls(const Machine& machine);
void RecordInstallerCall(Machine& machine, const InstallerCall& call);

struct InstallerUi {
    static constexpr const char* kKey = "msiUiLevel";
    uint32_t level = 5;  // INSTALLUILEVEL_BASIC
};
SIM_JSON_STORED_AS(InstallerUi, level)

uint32_t InstallerUiLevel(const Machine& machine);
// Sets the level (0 keeps it) and returns the one before, as
// MsiSetInternalUI does.
uint32_t ExchangeInstallerUiLevel(Machine& machine, uint32_t level);

// The packed code the Installer keys its registry by:
// "{D1B6A1CD-EC25-49AA-8245-8C3E0DDEEB04}" -> "DC1A6B1D52CEAA942854C8E3D0EDBE40".
// Empty for text that is no braced GUID.
std::wstring PackedProductCode(const std::wstring& productCode);

}  // namespace sim
