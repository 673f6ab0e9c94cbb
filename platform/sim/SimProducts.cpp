#include "platform/sim/SimProducts.h"

#include <algorithm>
#include <cwctype>

#include "platform/sim/Utf8.h"

namespace sim {
namespace {

constexpr char kProducts[] = "products";
constexpr char kResults[] = "msiResults";
constexpr char kUiLevel[] = "msiUiLevel";
constexpr char kCalls[] = "msiCalls";
constexpr size_t kCallsKept = 64;
constexpr uint32_t kDefaultUiLevel = 5;  // INSTALLUILEVEL_BASIC
constexpr uint32_t kUiLevelNoChange = 0;

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

std::vector<InstalledProduct> Products(const nlohmann::json& section) {
    std::vector<InstalledProduct> products;
    if (!section.is_array()) return products;
    for (const nlohmann::json& item : section) {
        if (item.is_object() && item.contains("productCode")) products.push_back(FromJson(item));
    }
    return products;
}

bool HasCode(const nlohmann::json& item, const std::wstring& productCode) {
    if (!item.is_object()) return false;
    auto code = item.find("productCode");
    return code != item.end() && code->is_string() && EqualsNoCase(FromUtf8(code->get<std::string>()), productCode);
}

nlohmann::json& Array(nlohmann::json& section) {
    if (!section.is_array()) section = nlohmann::json::array();
    return section;
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
    std::vector<InstalledProduct> products = machine.ReadSection(kProducts, Products);
    std::stable_sort(products.begin(), products.end(), [](const InstalledProduct& a, const InstalledProduct& b) {
        return PackedProductCode(a.productCode) < PackedProductCode(b.productCode);
    });
    return products;
}

std::optional<InstalledProduct> FindProduct(const Machine& machine, const std::wstring& productCode) {
    return machine.ReadSection(kProducts, [&](const nlohmann::json& section) -> std::optional<InstalledProduct> {
        if (!section.is_array()) return std::nullopt;
        for (const nlohmann::json& item : section) {
            if (HasCode(item, productCode)) return FromJson(item);
        }
        return std::nullopt;
    });
}

void RegisterProduct(Machine& machine, const InstalledProduct& product) {
    machine.EditSection(kProducts, [&](nlohmann::json& section) {
        nlohmann::json& all = Array(section);
        for (nlohmann::json& item : all) {
            if (!HasCode(item, product.productCode)) continue;
            InstalledProduct merged = product;
            merged.layout = FromJson(item).layout;
            merged.layout.Merge(product.layout);
            item = ToJson(merged);
            return;
        }
        all.push_back(ToJson(product));
    });
}

bool ForgetProduct(Machine& machine, const std::wstring& productCode) {
    return machine.EditSection(kProducts, [&](nlohmann::json& section, bool& changed) {
        if (!section.is_array()) return false;
        for (auto it = section.begin(); it != section.end(); ++it) {
            if (!HasCode(*it, productCode)) continue;
            section.erase(it);
            changed = true;
            return true;
        }
        return false;
    });
}

void QueueInstallerResults(Machine& machine, const std::vector<uint32_t>& codes) {
    machine.EditSection(kResults, [&](nlohmann::json& queue) {
        for (uint32_t code : codes) Array(queue).push_back(code);
    });
}

std::vector<uint32_t> QueuedInstallerResults(const Machine& machine) {
    return machine.ReadSection(kResults, [](const nlohmann::json& queue) {
        std::vector<uint32_t> codes;
        if (!queue.is_array()) return codes;
        for (const nlohmann::json& code : queue) {
            if (code.is_number_unsigned()) codes.push_back(code.get<uint32_t>());
        }
        return codes;
    });
}

std::optional<uint32_t> PopInstallerResult(Machine& machine) {
    return machine.EditSection(kResults, [](nlohmann::json& queue, bool& changed) -> std::optional<uint32_t> {
        // Anything that is not a code (a hand-edited machine.json) is
        // dropped rather than left to block the queue.
        while (queue.is_array() && !queue.empty()) {
            const nlohmann::json head = queue.front();
            queue.erase(queue.begin());
            changed = true;
            if (head.is_number_unsigned()) return head.get<uint32_t>();
        }
        return std::nullopt;
    });
}

std::vector<InstallerCall> InstallerCalls(const Machine& machine) {
    return machine.ReadSection(kCalls, [](const nlohmann::json& section) {
        std::vector<InstallerCall> calls;
        if (!section.is_array()) return calls;
        for (const nlohmann::json& entry : section) {
            if (!entry.is_object()) continue;
            calls.push_back({FromUtf8(entry.value("function", std::string())),
                             FromUtf8(entry.value("target", std::string())),
                             FromUtf8(entry.value("commandLine", std::string()))});
        }
        return calls;
    });
}

void RecordInstallerCall(Machine& machine, const InstallerCall& call) {
    machine.EditSection(kCalls, [&](nlohmann::json& section) {
        nlohmann::json& calls = Array(section);
        calls.push_back({{"function", ToUtf8(call.function)},
                         {"target", ToUtf8(call.target)},
                         {"commandLine", ToUtf8(call.commandLine)}});
        if (calls.size() > kCallsKept) calls.erase(calls.begin(), calls.end() - kCallsKept);
    });
}

uint32_t InstallerUiLevel(const Machine& machine) {
    return machine.ReadSection(kUiLevel, [](const nlohmann::json& level) {
        return level.is_number_unsigned() ? level.get<uint32_t>() : kDefaultUiLevel;
    });
}

uint32_t ExchangeInstallerUiLevel(Machine& machine, uint32_t level) {
    return machine.EditSection(kUiLevel, [&](nlohmann::json& stored, bool& changed) {
        const uint32_t previous = stored.is_number_unsigned() ? stored.get<uint32_t>() : kDefaultUiLevel;
        if (level != kUiLevelNoChange && !(stored.is_number_unsigned() && previous == level)) {
            stored = level;
            changed = true;
        }
        return previous;
    });
}

}  // namespace sim
