#include "platform/sim/registry/SimRegistry.h"

#include "platform/Types.h"
#include "platform/sim/Utf8.h"
#include "platform/sim/store/StoreAnswers.h"

namespace sim {
namespace {

std::wstring RootName(platform::RegistryRoot root) {
    return root == platform::RegistryRoot::LocalMachine ? L"HKLM" : L"HKCU";
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The key's full name in the view the access mask selects.
std::wstring ViewPath(const Machine& machine, platform::RegistryRoot root, std::wstring path, uint32_t access) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    const bool windows64 = machine.Read([](const MachineState& s) { return s.is64Bit; });
    const std::wstring software = L"SOFTWARE\\";
    if (windows64 && root == platform::RegistryRoot::LocalMachine && (access & platform::kKeyWow64_64) == 0 &&
        StartsWithNoCase(path + L"\\", software) && !StartsWithNoCase(path, L"SOFTWARE\\WOW6432Node")) {
        path = path.size() > software.size() - 1 ? L"SOFTWARE\\WOW6432Node\\" + path.substr(software.size())
                                                 : L"SOFTWARE\\WOW6432Node";
    }
    return RootName(root) + L"\\" + path;
}

class SimRegistryKey final : public platform::IRegistryKey {
public:
    SimRegistryKey(std::shared_ptr<Machine> machine, std::wstring keyName, bool writable)
        : machine_(std::move(machine)), keyName_(std::move(keyName)), writable_(writable) {}

    uint32_t QueryString(const std::wstring& name, std::wstring& value) override {
        return AnswerStoreFailure(kRegistryStoreFailure, [&]() -> uint32_t {
            return machine_->Read<Registry>([&](const Registry& registry) {
                auto key = registry.keys.find(keyName_);
                if (key == registry.keys.end()) return platform::kErrFileNotFound;
                auto stored = key->second.find(name);
                if (stored == key->second.end()) return platform::kErrFileNotFound;
                value = stored->second;
                const size_t zero = value.find(L'\0');
                if (zero != std::wstring::npos) value.resize(zero);
                return platform::kErrSuccess;
            });
        });
    }

    uint32_t SetString(const std::wstring& name, const std::wstring& value) override {
        if (!writable_) return platform::kErrAccessDenied;
        return EditValues([&](RegistryValues& values) {
            values[name] = value;
            return true;
        });
    }

    uint32_t DeleteValue(const std::wstring& name) override {
        if (!writable_) return platform::kErrAccessDenied;
        return EditValues([&](RegistryValues& values) { return values.erase(name) != 0; });
    }

private:
    // Runs `edit(values)` on this key's values, which answers whether it
    // found what it was to change.
    template <typename F>
    uint32_t EditValues(F&& edit) {
        return AnswerStoreFailure(kRegistryStoreFailure, [&]() -> uint32_t {
            return machine_->Edit<Registry>([&](Registry& registry, bool& changed) {
                auto key = registry.keys.find(keyName_);
                if (key == registry.keys.end()) return platform::kErrFileNotFound;  // deleted meanwhile
                changed = edit(key->second);
                return changed ? platform::kErrSuccess : platform::kErrFileNotFound;
            });
        });
    }

    std::shared_ptr<Machine> machine_;
    const std::wstring keyName_;
    const bool writable_;
};

platform::Result<std::unique_ptr<platform::IRegistryKey>> Open(const std::shared_ptr<Machine>& machine,
                                                               platform::RegistryRoot root, const std::wstring& path,
                                                               uint32_t access, bool create) {
    const std::wstring full = ViewPath(*machine, root, path, access);
    std::wstring stored;
    if (create) {
        stored = machine->Edit<Registry>([&](Registry& registry, bool& changed) {
            auto [it, created] = registry.keys.try_emplace(full);
            changed = created;
            return it->first;
        });
    } else {
        stored = machine->Read<Registry>([&](const Registry& registry) {
            auto it = registry.keys.find(full);
            return it == registry.keys.end() ? std::wstring() : it->first;
        });
        if (stored.empty()) return platform::Failure(platform::kErrFileNotFound);
    }
    const bool writable = (access & platform::kKeyWrite & ~0x20000u) != 0;
    return std::make_unique<SimRegistryKey>(machine, stored, writable);
}

}  // namespace

platform::Result<std::unique_ptr<platform::IRegistryKey>> SimRegistry::OpenKey(platform::RegistryRoot root,
                                                                               const std::wstring& path,
                                                                               uint32_t access) {
    return AnswerStoreFailure(kRegistryStoreFailure, [&] { return Open(machine_, root, path, access, false); });
}

platform::Result<std::unique_ptr<platform::IRegistryKey>> SimRegistry::CreateKey(platform::RegistryRoot root,
                                                                                 const std::wstring& path,
                                                                                 uint32_t access) {
    return AnswerStoreFailure(kRegistryStoreFailure, [&] { return Open(machine_, root, path, access, true); });
}

void SetRegistryString(Machine& machine, const std::wstring& keyPath, const std::wstring& name,
                       const std::wstring& value) {
    std::wstring full = keyPath;
    while (!full.empty() && full.back() == L'\\') full.pop_back();
    machine.Edit<Registry>([&](Registry& registry) { registry.keys[full][name] = value; });
}

void DeleteRegistryKey(Machine& machine, const std::wstring& keyPath, bool onlyIfEmpty) {
    machine.Edit<Registry>([&](Registry& registry, bool& changed) {
        auto it = registry.keys.find(keyPath);
        if (it == registry.keys.end() || (onlyIfEmpty && !it->second.empty())) return;
        registry.keys.erase(it);
        changed = true;
    });
}

}  // namespace sim
