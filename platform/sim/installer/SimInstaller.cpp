#include "platform/sim/installer/SimInstaller.h"

#include <unistd.h>

#include <ctime>
#include <functional>
#include <mutex>
#include <set>

#include "platform/NoDestructor.h"
#include "platform/Types.h"
#include "platform/sim/files/SimFileSystem.h"
#include "platform/sim/installer/SimMsiDatabase.h"
#include "platform/sim/installer/SimMsiLayout.h"
#include "platform/sim/installer/SimMsiPlan.h"
#include "platform/sim/installer/SimProducts.h"
#include "platform/sim/registry/SimRegistry.h"
#include "platform/sim/processes/SimServices.h"
#include "platform/sim/Utf8.h"
#include "platform/sim/files/WinPath.h"
#include "platform/sim/store/StoreAnswers.h"

namespace sim {
namespace {

constexpr int kInstallStateLocal = 3;
constexpr int kInstallStateDefault = 5;

// The Installer runs one installation at a time in this process; a second
// caller meanwhile is told another one is in progress. Installs of other
// processes on the same machine run side by side, each of their changes
// to the machine a transaction of its own. Never destroyed: a detached
// worker may still be installing while the process exits.
std::mutex& ExecuteMutex() {
    static platform::NoDestructor<std::mutex> mutex;
    return *mutex;
}

// What MsiGetProductInfoW knows by name; one of these that an install did
// not set reads as empty rather than unknown. Never destroyed, for the
// same reason.
const std::set<std::wstring>& ProductInfoNames() {
    static const platform::NoDestructor<const std::set<std::wstring>> names{std::set<std::wstring>{
        L"ProductName",
        L"PackageName",
        L"Transforms",
        L"AssignmentType",
        L"PackageCode",
        L"Version",
        L"ProductIcon",
        L"Language",
        L"AuthorizedLUAApp",
        L"InstanceType",
        L"InstalledProductName",
        L"VersionString",
        L"HelpLink",
        L"HelpTelephone",
        L"InstallLocation",
        L"InstallSource",
        L"InstallDate",
        L"Publisher",
        L"LocalPackage",
        L"URLInfoAbout",
        L"URLUpdateInfo",
        L"VersionMinor",
        L"VersionMajor",
        L"ProductID",
        L"RegCompany",
        L"RegOwner",
        L"State",
        L"LastUsedSource",
        L"LastUsedType",
        L"MediaPackagePath",
        L"DiskPrompt",
    }};
    return *names;
}

bool ValidCode(const std::wstring& productCode) { return !PackedProductCode(productCode).empty(); }

std::wstring Get(const MsiProperties& props, const wchar_t* name) {
    auto it = props.find(name);
    return it == props.end() ? std::wstring() : it->second;
}

std::wstring Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    wchar_t text[16];
    std::swprintf(text, 16, L"%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return text;
}

// "12.13.1.3" -> major, minor, build as the Installer packs them.
void AddVersion(const std::wstring& version, std::map<std::wstring, std::wstring>& info) {
    uint32_t parts[3] = {0, 0, 0};
    size_t pos = 0;
    for (uint32_t& part : parts) {
        if (pos >= version.size()) break;
        size_t end = version.find(L'.', pos);
        if (end == std::wstring::npos) end = version.size();
        try {
            part = static_cast<uint32_t>(std::stoul(version.substr(pos, end - pos)));
        } catch (const std::exception&) {
            part = 0;
        }
        pos = end + 1;
    }
    const uint32_t packed = ((parts[0] & 0xFF) << 24) | ((parts[1] & 0xFF) << 16) | (parts[2] & 0xFFFF);
    info[L"VersionString"] = version;
    info[L"Version"] = std::to_wstring(packed);
    info[L"VersionMajor"] = std::to_wstring(parts[0] & 0xFF);
    info[L"VersionMinor"] = std::to_wstring(parts[1] & 0xFF);
}

// A name under C:\Windows\Installer no other cached package uses, derived
// from the package so reruns pick the same one.
std::wstring NewCachePath(const std::shared_ptr<Machine>& machine, const std::wstring& folder,
                          const std::wstring& seed) {
    SimFileSystem files(machine);
    uint32_t hash = 2166136261u;
    for (wchar_t c : seed) hash = (hash ^ static_cast<uint32_t>(c)) * 16777619u;
    for (;; ++hash) {
        wchar_t name[16];
        std::swprintf(name, 16, L"%08x.msi", hash);
        const std::wstring path = folder + name;
        if (!files.Exists(path)) return path;
    }
}

// The Add/Remove Programs entry, in the view the package's bitness selects.
std::wstring UninstallKey(const InstallPlan& plan, bool windows64, const std::wstring& productCode) {
    const std::wstring below = L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productCode;
    return windows64 && !plan.package64 ? L"HKLM\\SOFTWARE\\WOW6432Node\\" + below : L"HKLM\\SOFTWARE\\" + below;
}

// Opens the package and plans its install on the machine as it is.
uint32_t PlanPackage(Machine& machine, const MachineState& state, const std::wstring& packagePath,
                     const std::wstring& commandLine, PackageSummary& summary, InstallPlan& plan) {
    std::unique_ptr<platform::IMsiDatabase> database;
    const uint32_t opened = OpenPackage(machine, packagePath, database, &summary);
    if (opened == kErrOpenFailed) return platform::kErrInstallPackageOpenFailed;
    if (opened != platform::kErrSuccess) return opened;
    return PlanInstall(state, IsAdministrator(machine), *database, summary, ParseCommandLine(commandLine), plan);
}

// The package an install runs from, the seed of its cached copy's name,
// and the folder that copy goes to.
struct CachedPackage {
    WinPath source;
    std::wstring seed;
    std::wstring folder;
};

// The Installer keeps a copy of every package it installs under
// C:\Windows\Installer and remembers where it came from; a repair that runs
// from that copy keeps the original source. Sets InstallSource,
// PackageName and LocalPackage.
uint32_t KeepPackage(const std::shared_ptr<Machine>& machine, PackageLayout& layout, const CachedPackage& package,
                     const std::optional<InstalledProduct>& existing, std::map<std::wstring, std::wstring>& info) {
    std::wstring localPackage = existing ? Get(existing->properties, L"LocalPackage") : std::wstring();
    if (existing && EqualsNoCase(package.source.ToString(), localPackage)) {
        info[L"InstallSource"] = Get(existing->properties, L"InstallSource");
        info[L"PackageName"] = Get(existing->properties, L"PackageName");
        info[L"LocalPackage"] = localPackage;
        return platform::kErrSuccess;
    }
    ProductLayout shared;  // C:\Windows\Installer outlives every product
    if (localPackage.empty()) localPackage = NewCachePath(machine, package.folder, package.seed);
    if (!layout.CreateFolders(package.folder, shared) ||
        SimFileSystem(machine).CopyFile(package.source.ToString(), localPackage, false) != platform::kErrSuccess) {
        return platform::kErrInstallFailure;
    }
    const WinPath parent = package.source.Parent();
    info[L"InstallSource"] = parent.ToString() + (parent.IsRoot() ? L"" : L"\\");
    info[L"PackageName"] = package.source.Components().back();
    info[L"LocalPackage"] = localPackage;
    return platform::kErrSuccess;
}

// What MsiGetProductInfoW answers about the product besides its source,
// from the package's properties after costing.
void AddPackageInfo(const MsiProperties& props, const std::wstring& packageCode,
                    std::map<std::wstring, std::wstring>& info) {
    info[L"ProductName"] = Get(props, L"ProductName");
    info[L"InstalledProductName"] = Get(props, L"ProductName");
    AddVersion(Get(props, L"ProductVersion"), info);
    info[L"Publisher"] = Get(props, L"Manufacturer");
    info[L"Language"] = Get(props, L"ProductLanguage");
    info[L"InstallDate"] = Today();
    info[L"InstallLocation"] = Get(props, L"ARPINSTALLLOCATION");
    info[L"PackageCode"] = packageCode;
    info[L"AssignmentType"] = Get(props, L"ALLUSERS").empty() ? L"0" : L"1";
    info[L"State"] = L"5";  // INSTALLSTATE_DEFAULT
    for (const auto& [name, property] : std::map<std::wstring, std::wstring>{{L"ProductID", L"ProductID"},
                                                                             {L"RegOwner", L"USERNAME"},
                                                                             {L"RegCompany", L"COMPANYNAME"},
                                                                             {L"URLInfoAbout", L"ARPURLINFOABOUT"},
                                                                             {L"URLUpdateInfo", L"ARPURLUPDATEINFO"},
                                                                             {L"HelpLink", L"ARPHELPLINK"},
                                                                             {L"HelpTelephone", L"ARPHELPTELEPHONE"}}) {
        const std::wstring value = Get(props, property.c_str());
        if (!value.empty()) info[name] = value;
    }
}

// Writes the product's Add/Remove Programs entry under `key` and returns
// the key.
std::wstring WriteUninstallEntry(Machine& machine, const std::wstring& key, const InstalledProduct& product) {
    const std::map<std::wstring, std::wstring>& info = product.properties;
    for (const auto& [name, value] :
         std::map<std::wstring, std::wstring>{{L"DisplayName", Get(info, L"ProductName")},
                                              {L"DisplayVersion", Get(info, L"VersionString")},
                                              {L"Publisher", Get(info, L"Publisher")},
                                              {L"InstallLocation", Get(info, L"InstallLocation")},
                                              {L"InstallSource", Get(info, L"InstallSource")},
                                              {L"InstallDate", Get(info, L"InstallDate")},
                                              {L"UninstallString", L"MsiExec.exe /X" + product.productCode},
                                              {L"ModifyPath", L"MsiExec.exe /I" + product.productCode},
                                              {L"WindowsInstaller", L"1"}}) {
        SetRegistryString(machine, key, name, value);
    }
    return key;
}

}  // namespace

uint32_t SimInstaller::EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) {
    // MsiEnableLog answers nothing but success and a bad parameter.
    constexpr StoreFailureCodes kLogStoreFailure{platform::kErrInvalidParameter, platform::kErrInvalidParameter,
                                                 platform::kErrInvalidParameter};
    return AnswerStoreFailure(kLogStoreFailure, [&]() -> uint32_t {
        machine_->Edit([&](MachineState& state) { state.msiLog = MsiLogSetting{logFile, logMode, attributes}; });
        return platform::kErrSuccess;
    });
}

uint32_t SimInstaller::EnumProducts(uint32_t index, std::wstring& productCode) {
    return AnswerStoreFailure(kInstallerQueryStoreFailure, [&]() -> uint32_t {
        productCode.clear();
        if (index != 0 && index != lastEnumIndex_ + 1) return platform::kErrInvalidParameter;
        lastEnumIndex_ = index;
        const std::vector<InstalledProduct> products = ListProducts(*machine_);
        if (index >= products.size()) return platform::kErrNoMoreItems;
        productCode = products[index].productCode;
        return platform::kErrSuccess;
    });
}

uint32_t SimInstaller::IsProductElevated(const std::wstring& productCode, bool& elevated) {
    return AnswerStoreFailure(kInstallerQueryStoreFailure, [&]() -> uint32_t {
        elevated = false;
        if (!ValidCode(productCode)) return platform::kErrInvalidParameter;
        const std::optional<InstalledProduct> product = FindProduct(*machine_, productCode);
        if (!product) return platform::kErrUnknownProduct;
        elevated = Get(product->properties, L"AssignmentType") == L"1";
        return platform::kErrSuccess;
    });
}

uint32_t SimInstaller::GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                                      std::wstring& value) {
    return AnswerStoreFailure(kInstallerQueryStoreFailure, [&]() -> uint32_t {
        value.clear();
        if (!ValidCode(productCode)) return platform::kErrInvalidParameter;
        const std::optional<InstalledProduct> product = FindProduct(*machine_, productCode);
        if (!product) return platform::kErrUnknownProduct;
        auto it = product->properties.find(property);
        if (it != product->properties.end()) {
            value = it->second;
            return platform::kErrSuccess;
        }
        return ProductInfoNames().count(property) ? platform::kErrSuccess : platform::kErrUnknownProperty;
    });
}

int SimInstaller::GetComponentPath(const std::wstring& productCode, const std::wstring& componentId,
                                   std::wstring& path) {
    try {
        path.clear();
        const std::optional<InstalledProduct> product =
            ValidCode(productCode) ? FindProduct(*machine_, productCode) : std::nullopt;
        if (!product) return platform::kInstallStateUnknown;
        for (const auto& [id, keyPath] : product->layout.componentPaths) {
            if (!EqualsNoCase(id, componentId)) continue;
            path = keyPath;
            std::string host;
            const bool present =
                !keyPath.empty() && machine_->Resolve(keyPath, host) && ::access(host.c_str(), F_OK) == 0;
            return present ? platform::kInstallStateLocal : platform::kInstallStateAbsent;
        }
        return platform::kInstallStateUnknown;
    } catch (const StoreError&) {
        return platform::kInstallStateUnknown;
    }
}

platform::Result<std::unique_ptr<platform::IMsiDatabase>> SimInstaller::OpenDatabase(const std::wstring& packagePath) {
    std::unique_ptr<platform::IMsiDatabase> database;
    const uint32_t opened = OpenPackage(*machine_, packagePath, database);
    if (opened != platform::kErrSuccess) return platform::Failure(opened);
    return database;
}

uint32_t SimInstaller::SetInternalUI(uint32_t uiLevel) { return ExchangeInstallerUiLevel(*machine_, uiLevel); }

namespace {

// Runs one install or configure call the way the machine is scripted to
// answer: busy while another runs, a queued failure at once, a queued 0 or
// 3010 after doing the work.
uint32_t RunScripted(Machine& machine, const std::function<uint32_t()>& work) {
    std::unique_lock<std::mutex> running(ExecuteMutex(), std::try_to_lock);
    if (!running.owns_lock()) return platform::kErrInstallAlreadyRunning;
    const std::optional<uint32_t> queued = PopInstallerResult(machine);
    if (queued && *queued != platform::kErrSuccess && *queued != platform::kErrSuccessRebootRequired) return *queued;
    const uint32_t result = work();
    if (result == platform::kErrSuccess && queued) return *queued;
    return result;
}

}  // namespace

uint32_t SimInstaller::InstallProduct(const std::wstring& packagePath, const std::wstring& commandLine) {
    return AnswerStoreFailure(kInstallerActionStoreFailure, [&]() -> uint32_t {
        RecordInstallerCall(*machine_, {L"InstallProduct", packagePath, commandLine});
        return RunScripted(*machine_, [&] { return Install(packagePath, commandLine); });
    });
}

uint32_t SimInstaller::ConfigureProductEx(const std::wstring& productCode, int /*installLevel*/, int installState,
                                          const std::wstring& commandLine) {
    return AnswerStoreFailure(kInstallerActionStoreFailure, [&]() -> uint32_t {
        RecordInstallerCall(*machine_, {L"ConfigureProductEx", productCode, commandLine});
        return Configure(productCode, installState, commandLine);
    });
}

uint32_t SimInstaller::ConfigureProduct(const std::wstring& productCode, int /*installLevel*/, int installState) {
    return AnswerStoreFailure(kInstallerActionStoreFailure, [&]() -> uint32_t {
        RecordInstallerCall(*machine_, {L"ConfigureProduct", productCode, std::wstring()});
        return Configure(productCode, installState, std::wstring());
    });
}

uint32_t SimInstaller::Configure(const std::wstring& productCode, int installState, const std::wstring& commandLine) {
    if (!ValidCode(productCode)) return platform::kErrInvalidParameter;
    if (installState == platform::kInstallStateAbsent) {
        return RunScripted(*machine_, [&] { return Uninstall(productCode); });
    }
    if (installState == kInstallStateDefault || installState == kInstallStateLocal) {
        return RunScripted(*machine_, [&] { return Repair(productCode, commandLine); });
    }
    return platform::kErrInvalidParameter;
}

uint32_t SimInstaller::Install(const std::wstring& packagePath, const std::wstring& commandLine) {
    const MachineState state = machine_->Snapshot();
    PackageSummary summary;
    InstallPlan plan;
    const uint32_t planned = PlanPackage(*machine_, state, packagePath, commandLine, summary, plan);
    if (planned != platform::kErrSuccess) return planned;

    InstalledProduct product;
    product.productCode = Get(plan.properties, L"ProductCode");
    const std::optional<InstalledProduct> existing = FindProduct(*machine_, product.productCode);
    WinPath package;
    WinPath::Parse(packagePath, package);  // it opened, so it parses

    PackageLayout layout(machine_);
    bool restartNeeded = false;
    uint32_t error = layout.LayOut(plan, product.layout, restartNeeded);
    product.layout.componentPaths = plan.componentPaths;
    if (error == platform::kErrSuccess) {
        const CachedPackage cache{package, product.productCode + summary.revisionNumber,
                                  Get(plan.properties, L"WindowsFolder") + L"Installer\\"};
        error = KeepPackage(machine_, layout, cache, existing, product.properties);
    }
    if (error != platform::kErrSuccess) {
        // Over an earlier install the files belong to it; only a first
        // install is taken back whole.
        bool ignored = false;
        if (!existing) layout.TakeDown(product.layout, ignored);
        return error;
    }

    AddPackageInfo(plan.properties, summary.revisionNumber, product.properties);
    product.layout.registryKeys.push_back(
        WriteUninstallEntry(*machine_, UninstallKey(plan, state.is64Bit, product.productCode), product));
    RegisterProduct(*machine_, product);
    return restartNeeded ? platform::kErrSuccessRebootRequired : platform::kErrSuccess;
}

uint32_t SimInstaller::Uninstall(const std::wstring& productCode) {
    const std::optional<InstalledProduct> product = FindProduct(*machine_, productCode);
    if (!product) return platform::kErrUnknownProduct;
    bool restartNeeded = false;
    PackageLayout(machine_).TakeDown(product->layout, restartNeeded);
    const std::wstring localPackage = Get(product->properties, L"LocalPackage");
    if (!localPackage.empty()) SimFileSystem(machine_).DeleteFile(localPackage);
    ForgetProduct(*machine_, productCode);
    return restartNeeded ? platform::kErrSuccessRebootRequired : platform::kErrSuccess;
}

uint32_t SimInstaller::Repair(const std::wstring& productCode, const std::wstring& commandLine) {
    const std::optional<InstalledProduct> product = FindProduct(*machine_, productCode);
    if (!product) return platform::kErrUnknownProduct;
    const std::wstring localPackage = Get(product->properties, L"LocalPackage");
    if (localPackage.empty() || !SimFileSystem(machine_).Exists(localPackage)) return kErrInstallSourceAbsent;
    return Install(localPackage, commandLine);
}

}  // namespace sim
