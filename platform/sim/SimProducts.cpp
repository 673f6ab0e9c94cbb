#include "platform/sim/SimProducts.h"

#include <algorithm>
#include <cwctype>
#include <mutex>

#include "platform/sim/Utf8.h"

namespace sim {
namespace {

constexpr char kProducts[] = "products";
constexpr char kResults[] = "msiResults";
constexpr char kUiLevel[] = "msiUiLevel";
constexpr char kCalls[] = "msiCalls";
constexpr size_t kCallsKept = 64;
constexpr uint32_t kDefaultUiLevel = 5;  // INSTALLUILEVEL_BASIC

// A change to a section is a read and a write; this keeps two of them from
// interleaving. Never destroyed, like the services' lock.
std::mutex& ProductsLock() {
    static std::mutex* const lock = std::make_unique<std::mutex>().release();
    return *lock;
}

nlohmann::json Strings(const std::vector<std::wstring>& items) {
    nlohmann::json out = nlohmann::json::array();
    for (const std::wstring& item : items) out.push_back(ToUtf8(item));
    return out;
}

std::vector<std::wstring> Strings(const nlohmann::json& items) {
    std::vector<std::wstring> out;
    if (!items.is_array()) return out;
    for (const nlohmann::json& item : items) {
        if (item.is_string()) out.push_back(FromUtf8(item.get<std::string>()));
    }
    return out;
}

nlohmann::json ToJson(const InstalledProduct& product) {
    nlohmann::json properties = nlohmann::json::object();
    for (const auto& [name, value] : product.properties) properties[ToUtf8(name)] = ToUtf8(value);
    nlohmann::json registry = nlohmann::json::array();
    for (const RegistryValueRef& value : product.layout.registryValues) {
        registry.push_back({{"key", ToUtf8(value.key)}, {"name", ToUtf8(value.name)}});
    }
    return nlohmann::json{{"productCode", ToUtf8(product.productCode)},
                          {"properties", properties},
                          {"layout",
                           {{"files", Strings(product.layout.files)},
                            {"folders", Strings(product.layout.folders)},
                            {"services", Strings(product.layout.services)},
                            {"registry", registry},
                            {"registryKeys", Strings(product.layout.registryKeys)}}}};
}

InstalledProduct FromJson(const nlohmann::json& item) {
    InstalledProduct product;
    product.productCode = FromUtf8(item.value("productCode", std::string()));
    const nlohmann::json properties = item.value("properties", nlohmann::json::object());
    for (auto it = properties.begin(); it != properties.end(); ++it) {
        if (it->is_string()) product.properties[FromUtf8(it.key())] = FromUtf8(it->get<std::string>());
    }
    const nlohmann::json layout = item.value("layout", nlohmann::json::object());
    product.layout.files = Strings(layout.value("files", nlohmann::json()));
    product.layout.folders = Strings(layout.value("folders", nlohmann::json()));
    product.layout.services = Strings(layout.value("services", nlohmann::json()));
    product.layout.registryKeys = Strings(layout.value("registryKeys", nlohmann::json()));
    for (const nlohmann::json& value : layout.value("registry", nlohmann::json::array())) {
        if (!value.is_object()) continue;
        product.layout.registryValues.push_back(
            {FromUtf8(value.value("key", std::string())), FromUtf8(value.value("name", std::string()))});
    }
    return product;
}

std::vector<InstalledProduct> LoadLocked(const Machine& machine) {
    std::vector<InstalledProduct> products;
    const nlohmann::json section = machine.Section(kProducts);
    if (!section.is_array()) return products;
    for (const nlohmann::json& item : section) {
        if (item.is_object() && item.contains("productCode")) products.push_back(FromJson(item));
    }
    return products;
}

void StoreLocked(Machine& machine, const std::vector<InstalledProduct>& products) {
    nlohmann::json section = nlohmann::json::array();
    for (const InstalledProduct& product : products) section.push_back(ToJson(product));
    machine.SetSection(kProducts, std::move(section));
}

template <typename T, typename Same>
void AppendMissing(std::vector<T>& to, const std::vector<T>& from, Same same) {
    for (const T& item : from) {
        if (std::none_of(to.begin(), to.end(), [&](const T& have) { return same(have, item); })) to.push_back(item);
    }
}

}  // namespace

void ProductLayout::Merge(const ProductLayout& other) {
    auto sameText = [](const std::wstring& a, const std::wstring& b) { return EqualsNoCase(a, b); };
    AppendMissing(files, other.files, sameText);
    AppendMissing(folders, other.folders, sameText);
    AppendMissing(services, other.services, sameText);
    AppendMissing(registryKeys, other.registryKeys, sameText);
    AppendMissing(registryValues, other.registryValues, [](const RegistryValueRef& a, const RegistryValueRef& b) {
        return EqualsNoCase(a.key, b.key) && EqualsNoCase(a.name, b.name);
    });
}

std::wstring PackedProductCode(const std::wstring& code) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    static constexpr size_t kDashes[] = {9, 14, 19, 24};
    if (code.size() != 38 || code.front() != L'{' || code.back() != L'}') return std::wstring();
    std::wstring hex;
    for (size_t i = 1; i + 1 < code.size(); ++i) {
        const bool dash = std::find(std::begin(kDashes), std::end(kDashes), i) != std::end(kDashes);
        if (dash != (code[i] == L'-')) return std::wstring();
        if (dash) continue;
        if (!std::iswxdigit(code[i])) return std::wstring();
        hex.push_back(static_cast<wchar_t>(std::towupper(code[i])));
    }
    std::wstring packed;
    packed.append(hex.rbegin() + 24, hex.rend());         // first group, reversed
    packed.append(hex.rbegin() + 20, hex.rbegin() + 24);  // second
    packed.append(hex.rbegin() + 16, hex.rbegin() + 20);  // third
    for (size_t i = 16; i < 32; i += 2) {                 // the rest byte by byte, nibbles swapped
        packed.push_back(hex[i + 1]);
        packed.push_back(hex[i]);
    }
    return packed;
}

std::vector<InstalledProduct> ListProducts(const Machine& machine) {
    std::vector<InstalledProduct> products;
    {
        std::lock_guard<std::mutex> lock(ProductsLock());
        products = LoadLocked(machine);
    }
    std::stable_sort(products.begin(), products.end(), [](const InstalledProduct& a, const InstalledProduct& b) {
        return PackedProductCode(a.productCode) < PackedProductCode(b.productCode);
    });
    return products;
}

std::optional<InstalledProduct> FindProduct(const Machine& machine, const std::wstring& productCode) {
    std::lock_guard<std::mutex> lock(ProductsLock());
    for (InstalledProduct& product : LoadLocked(machine)) {
        if (EqualsNoCase(product.productCode, productCode)) return std::move(product);
    }
    return std::nullopt;
}

void StoreProduct(Machine& machine, const InstalledProduct& product) {
    std::lock_guard<std::mutex> lock(ProductsLock());
    std::vector<InstalledProduct> products = LoadLocked(machine);
    auto it = std::find_if(products.begin(), products.end(), [&](const InstalledProduct& have) {
        return EqualsNoCase(have.productCode, product.productCode);
    });
    if (it == products.end()) products.push_back(product);
    else *it = product;
    StoreLocked(machine, products);
}

bool ForgetProduct(Machine& machine, const std::wstring& productCode) {
    std::lock_guard<std::mutex> lock(ProductsLock());
    std::vector<InstalledProduct> products = LoadLocked(machine);
    auto it = std::find_if(products.begin(), products.end(), [&](const InstalledProduct& have) {
        return EqualsNoCase(have.productCode, productCode);
    });
    if (it == products.end()) return false;
    products.erase(it);
    StoreLocked(machine, products);
    return true;
}

void QueueInstallerResults(Machine& machine, const std::vector<uint32_t>& codes) {
    std::lock_guard<std::mutex> lock(ProductsLock());
    nlohmann::json queue = machine.Section(kResults);
    if (!queue.is_array()) queue = nlohmann::json::array();
    for (uint32_t code : codes) queue.push_back(code);
    machine.SetSection(kResults, std::move(queue));
}

std::vector<uint32_t> QueuedInstallerResults(const Machine& machine) {
    std::lock_guard<std::mutex> lock(ProductsLock());
    std::vector<uint32_t> codes;
    const nlohmann::json queue = machine.Section(kResults);
    if (!queue.is_array()) return codes;
    for (const nlohmann::json& code : queue) {
        if (code.is_number_unsigned()) codes.push_back(code.get<uint32_t>());
    }
    return codes;
}

std::optional<uint32_t> PopInstallerResult(Machine& machine) {
    std::lock_guard<std::mutex> lock(ProductsLock());
    nlohmann::json queue = machine.Section(kResults);
    // Anything that is not a code (a hand-edited machine.json) is dropped
    // rather than left to block the queue.
    while (queue.is_array() && !queue.empty()) {
        const nlohmann::json head = queue.front();
        queue.erase(queue.begin());
        machine.SetSection(kResults, queue);
        if (head.is_number_unsigned()) return head.get<uint32_t>();
    }
    return std::nullopt;
}

std::vector<InstallerCall> InstallerCalls(const Machine& machine) {
    std::lock_guard<std::mutex> lock(ProductsLock());
    std::vector<InstallerCall> calls;
    const nlohmann::json section = machine.Section(kCalls);
    if (!section.is_array()) return calls;
    for (const nlohmann::json& entry : section) {
        if (!entry.is_object()) continue;
        calls.push_back({FromUtf8(entry.value("function", std::string())), FromUtf8(entry.value("target", std::string())),
                         FromUtf8(entry.value("commandLine", std::string()))});
    }
    return calls;
}

void RecordInstallerCall(Machine& machine, const InstallerCall& call) {
    std::lock_guard<std::mutex> lock(ProductsLock());
    nlohmann::json section = machine.Section(kCalls);
    if (!section.is_array()) section = nlohmann::json::array();
    section.push_back({{"function", ToUtf8(call.function)},
                       {"target", ToUtf8(call.target)},
                       {"commandLine", ToUtf8(call.commandLine)}});
    while (section.size() > kCallsKept) section.erase(section.begin());
    machine.SetSection(kCalls, std::move(section));
}

uint32_t InstallerUiLevel(const Machine& machine) {
    const nlohmann::json level = machine.Section(kUiLevel);
    return level.is_number_unsigned() ? level.get<uint32_t>() : kDefaultUiLevel;
}

void SetInstallerUiLevel(Machine& machine, uint32_t level) { machine.SetSection(kUiLevel, level); }

}  // namespace sim
