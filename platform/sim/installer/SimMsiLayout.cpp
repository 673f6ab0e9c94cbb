#include "platform/sim/installer/SimMsiLayout.h"

#include <algorithm>
#include <vector>

#include "platform/Registry.h"
#include "platform/Services.h"
#include "platform/Types.h"
#include "platform/sim/files/SimFileSystem.h"
#include "platform/sim/registry/SimRegistry.h"
#include "platform/sim/processes/SimServices.h"
#include "platform/sim/Utf8.h"
#include "platform/sim/files/WinPath.h"

namespace sim {
namespace {

constexpr size_t kChunk = 64 * 1024;

// Filler of a payload file: the same bytes for the same path on every run,
// different from file to file so that no two look alike.
std::vector<char> Filler(const std::wstring& path, size_t size) {
    uint64_t state = 1469598103934665603ull;
    for (wchar_t c : Fold(path)) state = (state ^ static_cast<uint64_t>(c)) * 1099511628211ull;
    std::vector<char> bytes(size);
    for (char& byte : bytes) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        byte = static_cast<char>(state >> 56);
    }
    return bytes;
}

bool IsMissing(uint32_t error) { return error == platform::kErrFileNotFound || error == platform::kErrPathNotFound; }

// "HKLM\SOFTWARE\..." -> root and path below it.
bool SplitKey(const std::wstring& full, platform::RegistryRoot& root, std::wstring& path) {
    const size_t slash = full.find(L'\\');
    if (slash == std::wstring::npos) return false;
    const std::wstring hive = full.substr(0, slash);
    if (EqualsNoCase(hive, L"HKLM"))
        root = platform::RegistryRoot::LocalMachine;
    else if (EqualsNoCase(hive, L"HKCU"))
        root = platform::RegistryRoot::CurrentUser;
    else
        return false;
    path = full.substr(slash + 1);
    return true;
}

}  // namespace

bool PackageLayout::CreateFolders(const std::wstring& folder, ProductLayout& created) {
    WinPath path;
    if (!WinPath::Parse(folder, path)) return false;
    std::vector<WinPath> chain;
    for (WinPath at = path; !at.IsRoot(); at = at.Parent()) chain.push_back(at);
    SimFileSystem files(machine_);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const std::wstring name = it->ToString();
        const uint32_t attributes = files.GetAttributes(name);
        if (attributes == platform::kInvalidFileAttributes) {
            // Another install on the machine may create the same shared
            // folder at the same moment.
            const uint32_t error = files.CreateDirectory(name);
            if (error == platform::kErrAlreadyExists) {
                const uint32_t now = files.GetAttributes(name);
                if (now == platform::kInvalidFileAttributes || (now & platform::kAttrDirectory) == 0) return false;
            } else if (error != platform::kErrSuccess) {
                return false;
            }
        } else if ((attributes & platform::kAttrDirectory) == 0) {
            return false;  // a file stands in the way
        }
        if (std::none_of(created.folders.begin(), created.folders.end(),
                         [&](const std::wstring& have) { return EqualsNoCase(have, name); })) {
            created.folders.push_back(name);
        }
    }
    return true;
}

bool PackageLayout::WriteFile(const PlannedFile& file, bool& restartNeeded) {
    SimFileSystem files(machine_);
    auto out = files.Open(file.path, platform::OpenMode::Truncate);
    if (!out && out.Error() == platform::kErrAccessDenied) {
        // The Installer overwrites read-only files it owns.
        const uint32_t attributes = files.GetAttributes(file.path);
        if (attributes != platform::kInvalidFileAttributes && (attributes & platform::kAttrReadOnly)) {
            files.SetAttributes(file.path, attributes & ~platform::kAttrReadOnly);
            out = files.Open(file.path, platform::OpenMode::Truncate);
        }
    }
    if (!out) {
        if (out.Error() != platform::kErrSharingViolation) return false;
        restartNeeded = true;  // replaced when the holder lets go, at the next boot
        return true;
    }
    const std::vector<char> bytes = Filler(file.path, static_cast<size_t>(file.size));
    for (size_t done = 0; done < bytes.size(); done += kChunk) {
        if (!(*out)->Write(bytes.data() + done, std::min(kChunk, bytes.size() - done))) return false;
    }
    return true;
}

uint32_t PackageLayout::LayOut(const InstallPlan& plan, ProductLayout& created, bool& restartNeeded) {
    for (const std::wstring& folder : plan.folders) {
        if (!CreateFolders(folder, created)) return platform::kErrInstallFailure;
    }
    for (const PlannedFile& file : plan.files) {
        WinPath path;
        if (!WinPath::Parse(file.path, path) || !CreateFolders(path.Parent().ToString(), created)) {
            return platform::kErrInstallFailure;
        }
        if (!WriteFile(file, restartNeeded)) return platform::kErrInstallFailure;
        created.files.push_back(path.ToString());
    }
    auto standard = [&](const std::wstring& folder) {
        return std::any_of(plan.standardFolders.begin(), plan.standardFolders.end(),
                           [&](const std::wstring& path) { return EqualsNoCase(path, folder + L"\\"); });
    };
    created.folders.erase(std::remove_if(created.folders.begin(), created.folders.end(), standard),
                          created.folders.end());
    for (const PlannedService& planned : plan.services) {
        ServiceEntry service;
        service.name = planned.name;
        service.displayName = planned.displayName.empty() ? planned.name : planned.displayName;
        service.startType = planned.startType;
        service.binaryPath = planned.binaryPath;
        service.state = planned.startAtInstall ? platform::kServiceRunning : platform::kServiceStopped;
        AddService(*machine_, service);
        created.services.push_back(planned.name);
    }
    for (const PlannedRegistryValue& value : plan.registry) {
        SetRegistryString(*machine_, value.key, value.name, value.value);
        created.registry.push_back(RegistryValueRef{value.key, value.name});
    }
    return platform::kErrSuccess;
}

void PackageLayout::TakeDown(const ProductLayout& layout, bool& restartNeeded) {
    SimFileSystem files(machine_);
    for (const std::wstring& file : layout.files) {
        uint32_t error = files.DeleteFile(file);
        if (error == platform::kErrAccessDenied) {
            const uint32_t attributes = files.GetAttributes(file);
            if (attributes != platform::kInvalidFileAttributes && (attributes & platform::kAttrReadOnly)) {
                files.SetAttributes(file, attributes & ~platform::kAttrReadOnly);
                error = files.DeleteFile(file);
            }
        }
        if (error == platform::kErrSharingViolation) restartNeeded = true;
    }
    // Deepest first; a folder something else still uses stays.
    std::vector<std::wstring> folders = layout.folders;
    std::sort(folders.begin(), folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders) files.RemoveDirectory(folder);

    // Stopped and deleted through the service manager, so a handle the
    // library still holds keeps the service (marked) until it closes.
    SimServices manager(machine_);
    if (auto database = manager.OpenManager(platform::kScManagerAllAccess)) {
        for (const std::wstring& name : layout.services) {
            SetServiceState(*machine_, name, platform::kServiceStopped);
            if (auto service = (*database)->Open(name, platform::kServiceDeleteAccess)) (*service)->Delete();
        }
    }

    SimRegistry registry(machine_);
    for (const RegistryValueRef& value : layout.registry) {
        platform::RegistryRoot root;
        std::wstring path;
        if (!SplitKey(value.key, root, path)) continue;
        auto key = registry.OpenKey(root, path, platform::kKeyWrite | platform::kKeyWow64_64);
        if (!key) continue;
        const uint32_t error = (*key)->DeleteValue(value.name);
        if (error != platform::kErrSuccess && !IsMissing(error)) continue;
        // The Installer removes a key it wrote to once its last value is gone.
        DeleteRegistryKey(*machine_, value.key, true);
    }
    for (const std::wstring& key : layout.registryKeys) DeleteRegistryKey(*machine_, key);
}

}  // namespace sim
