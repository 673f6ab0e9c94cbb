#include "platform/sim/SimRegistry.h"

#include "platform/Types.h"
#include "platform/sim/Utf8.h"

namespace sim {
namespace {

constexpr char kSection[] = "registry";

std::wstring RootName(platform::RegistryRoot root) {
    return root == platform::RegistryRoot::LocalMachine ? L"HKLM" : L"HKCU";
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The key's full name in the view the access mask selects.
std::wstring ViewPath(const Machine& machine, platform::RegistryRoot root, std::wstring path,
                      uint32_t access) {
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

// The stored spelling of a key or value name that matches `name`.
std::string FindName(const nlohmann::json& object, const std::wstring& name) {
    if (!object.is_object()) return std::string();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (EqualsNoCase(FromUtf8(it.key()), name)) return it.key();
    }
    return std::string();
}

class SimRegistryKey final : public platform::IRegistryKey {
public:
    SimRegistryKey(std::shared_ptr<Machine> machine, std::string keyName, bool writable)
        : machine_(std::move(machine)), keyName_(std::move(keyName)), writable_(writable) {}

    uint32_t QueryString(const std::wstring& name, std::wstring& value) override {
        return machine_->ReadSection(kSection, [&](const nlohmann::json& all) {
            if (!all.is_object() || !all.contains(keyName_)) return platform::kErrFileNotFound;
            const nlohmann::json& values = all[keyName_];
            const std::string stored = FindName(values, name);
            if (stored.empty() || !values[stored].is_string()) return platform::kErrFileNotFound;
            value = FromUtf8(values[stored].get<std::string>());
            const size_t zero = value.find(L'\0');
            if (zero != std::wstring::npos) value.resize(zero);
            return platform::kErrSuccess;
        });
    }

    uint32_t SetString(const std::wstring& name, const std::wstring& value) override {
        if (!writable_) return platform::kErrAccessDenied;
        return machine_->EditSection(kSection, [&](nlohmann::json& all, bool& changed) {
            if (!all.is_object() || !all.contains(keyName_)) return platform::kErrFileNotFound;  // deleted meanwhile
            nlohmann::json& values = all[keyName_];
            std::string stored = FindName(values, name);
            if (stored.empty()) stored = ToUtf8(name);
            values[stored] = ToUtf8(value);
            changed = true;
            return platform::kErrSuccess;
        });
    }

    uint32_t DeleteValue(const std::wstring& name) override {
        if (!writable_) return platform::kErrAccessDenied;
        return machine_->EditSection(kSection, [&](nlohmann::json& all, bool& changed) {
            if (!all.is_object() || !all.contains(keyName_)) return platform::kErrFileNotFound;
            nlohmann::json& values = all[keyName_];
            const std::string stored = FindName(values, name);
            if (stored.empty()) return platform::kErrFileNotFound;
            values.erase(stored);
            changed = true;
            return platform::kErrSuccess;
        });
    }

private:
    std::shared_ptr<Machine> machine_;
    const std::string keyName_;
    const bool writable_;
};

// The registry section, made an object if a hand-written machine left it
// out or got it wrong.
nlohmann::json& Keys(nlohmann::json& section) {
    if (!section.is_object()) section = nlohmann::json::object();
    return section;
}

platform::Result<std::unique_ptr<platform::IRegistryKey>> Open(const std::shared_ptr<Machine>& machine,
                                                               platform::RegistryRoot root, const std::wstring& path,
                                                               uint32_t access, bool create) {
    const std::wstring full = ViewPath(*machine, root, path, access);
    std::string stored;
    if (create) {
        machine->EditSection(kSection, [&](nlohmann::json& section, bool& changed) {
            nlohmann::json& all = Keys(section);
            stored = FindName(all, full);
            if (!stored.empty()) return;
            stored = ToUtf8(full);
            all[stored] = nlohmann::json::object();
            changed = true;
        });
    } else {
        stored = machine->ReadSection(kSection, [&](const nlohmann::json& all) { return FindName(all, full); });
        if (stored.empty()) return platform::Failure(platform::kErrFileNotFound);
    }
    const bool writable = (access & platform::kKeyWrite & ~0x20000u) != 0;
    return std::make_unique<SimRegistryKey>(machine, stored, writable);
}

}  // namespace

platform::Result<std::unique_ptr<platform::IRegistryKey>> SimRegistry::OpenKey(platform::RegistryRoot root,
                                                                               const std::wstring& path,
                                                                               uint32_t access) {
    return Open(machine_, root, path, access, false);
}

platform::Result<std::unique_ptr<platform::IRegistryKey>> SimRegistry::CreateKey(platform::RegistryRoot root,
                                                                                 const std::wstring& path,
                                                                                 uint32_t access) {
    return Open(machine_, root, path, access, true);
}

void SetRegistryString(Machine& machine, const std::wstring& keyPath, const std::wstring& name,
                       const std::wstring& value) {
    std::wstring full = keyPath;
    while (!full.empty() && full.back() == L'\\') full.pop_back();
    machine.EditSection(kSection, [&](nlohmann::json& section) {
        nlohmann::json& all = Keys(section);
        std::string stored = FindName(all, full);
        if (stored.empty()) stored = ToUtf8(full);
        nlohmann::json& values = all[stored];
        if (!values.is_object()) values = nlohmann::json::object();
        std::string valueName = FindName(values, name);
        if (valueName.empty()) valueName = ToUtf8(name);
        values[valueName] = ToUtf8(value);
    });
}

void DeleteRegistryKey(Machine& machine, const std::wstring& keyPath, bool onlyIfEmpty) {
    machine.EditSection(kSection, [&](nlohmann::json& all, bool& changed) {
        const std::string stored = FindName(all, keyPath);
        if (stored.empty()) return;
        const nlohmann::json& values = all[stored];
        if (onlyIfEmpty && !(values.is_object() && values.empty())) return;
        all.erase(stored);
        changed = true;
    });
}

}  // namespace sim
