#include "platform/sim/installer/SimProducts.h"

#include <algorithm>
#include <cwctype>

#include "platform/sim/Utf8.h"

namespace sim {
namespace {

constexpr size_t kCallsKept = 64;
constexpr uint32_t kUiLevelNoChange = 0;

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
    AppendMissing(registry, other.registry, [](const RegistryValueRef& a, const RegistryValueRef& b) {
        return EqualsNoCase(a.key, b.key) && EqualsNoCase(a.name, b.name);
    });
    componentPaths.insert(other.componentPaths.begin(), other.componentPaths.end());
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
    std::vector<InstalledProduct> products = machine.Snapshot<Products>().entries;
    std::stable_sort(products.begin(), products.end(), [](const InstalledProduct& a, const InstalledProduct& b) {
        return PackedProductCode(a.productCode) < PackedProductCode(b.productCode);
    });
    return products;
}

std::optional<InstalledProduct> FindProduct(const Machine& machine, const std::wstring& productCode) {
    return machine.Read<Products>([&](const Products& products) -> std::optional<InstalledProduct> {
        auto it = products.Find(productCode);
        if (it == products.entries.end()) return std::nullopt;
        return *it;
    });
}

void RegisterProduct(Machine& machine, const InstalledProduct& product) {
    machine.Edit<Products>([&](Products& products) {
        auto it = products.Find(product.productCode);
        if (it == products.entries.end()) {
            products.entries.push_back(product);
            return;
        }
        ProductLayout layout = std::move(it->layout);
        layout.Merge(product.layout);
        *it = product;
        it->layout = std::move(layout);
    });
}

bool ForgetProduct(Machine& machine, const std::wstring& productCode) {
    return machine.Edit<Products>([&](Products& products, bool& changed) {
        changed = products.Erase(productCode);
        return changed;
    });
}

void QueueInstallerResults(Machine& machine, const std::vector<uint32_t>& codes) {
    machine.Edit<InstallerResultQueue>(
        [&](InstallerResultQueue& queue) { queue.codes.insert(queue.codes.end(), codes.begin(), codes.end()); });
}

std::vector<uint32_t> QueuedInstallerResults(const Machine& machine) {
    return machine.Snapshot<InstallerResultQueue>().codes;
}

std::optional<uint32_t> PopInstallerResult(Machine& machine) {
    return machine.Edit<InstallerResultQueue>(
        [](InstallerResultQueue& queue, bool& changed) -> std::optional<uint32_t> {
            if (queue.codes.empty()) return std::nullopt;
            const uint32_t head = queue.codes.front();
            queue.codes.erase(queue.codes.begin());
            changed = true;
            return head;
        });
}

std::vector<InstallerCall> InstallerCalls(const Machine& machine) {
    return machine.Snapshot<InstallerCallLog>().entries;
}

void RecordInstallerCall(Machine& machine, const InstallerCall& call) {
    machine.Edit<InstallerCallLog>([&](InstallerCallLog& log) { KeepLast(log.entries, call, kCallsKept); });
}

uint32_t InstallerUiLevel(const Machine& machine) {
    return machine.Read<InstallerUi>([](const InstallerUi& ui) { return ui.level; });
}

uint32_t ExchangeInstallerUiLevel(Machine& machine, uint32_t level) {
    return machine.Edit<InstallerUi>([&](InstallerUi& ui, bool& changed) {
        const uint32_t previous = ui.level;
        if (level != kUiLevelNoChange && level != previous) {
            ui.level = level;
            changed = true;
        }
        return previous;
    });
}

}  // namespace sim
