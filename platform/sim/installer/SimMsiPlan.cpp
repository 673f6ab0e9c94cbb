#include "platform/sim/installer/SimMsiPlan.h"

#include <algorithm>
#include <cwctype>
#include <functional>
#include <map>
#include <set>

#include "platform/Types.h"
#include "platform/sim/installer/PackageQueries.h"
#include "platform/sim/Utf8.h"

namespace sim {
namespace {

using Rows = std::vector<std::unique_ptr<platform::IMsiRecord>>;

constexpr int kComponent64Bit = 256;  // msidbComponentAttributes64bit
constexpr int kCustomActionSetProperty = 51;

// Whether the package has the table a "SELECT ... FROM Table ..." reads.
// A package may leave out any table it does not use; asking libmsi for one
// it lacks would only make it complain on stderr.
bool HasTable(platform::IMsiDatabase& database, const std::wstring& select) {
    const std::wstring probe = sql::TableProbe(select);
    if (probe.empty()) return false;
    auto view = database.OpenView(probe);
    return view && (*view)->Execute() == platform::kErrSuccess && (*view)->Fetch();
}

// The rows of a query; none when the table is missing.
Rows Select(platform::IMsiDatabase& database, const std::wstring& select) {
    Rows rows;
    if (!HasTable(database, select)) return rows;
    auto view = database.OpenView(select);
    if (!view || (*view)->Execute() != platform::kErrSuccess) return rows;
    while (auto row = (*view)->Fetch()) rows.push_back(row.Take());
    return rows;
}

std::wstring WithBackslash(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') path.push_back(L'\\');
    return path;
}

// The target long name of a DefaultDir or FileName cell: "SHORT|Long",
// optionally followed by ":source".
std::wstring LongName(const std::wstring& cell) {
    const std::wstring target = cell.substr(0, cell.find(L':'));
    const size_t bar = target.find(L'|');
    return bar == std::wstring::npos ? target : target.substr(bar + 1);
}

// The standard folder properties the Installer sets before costing. On
// 64-bit Windows ProgramFilesFolder is the x86 folder for every package;
// only the *64Folder properties name the native ones.
void AddMachineProperties(const MachineState& machine, bool administrator, MsiProperties& packageProps,
                          std::vector<std::wstring>& standardFolders) {
    MsiProperties props;
    auto folder = [&](int csidl) {
        auto it = machine.specialFolders.find(csidl);
        return it == machine.specialFolders.end() ? std::wstring() : WithBackslash(it->second);
    };
    const std::wstring windows = folder(csidl::kWindows).empty() ? L"C:\\Windows\\" : folder(csidl::kWindows);
    const std::wstring root = windows.substr(0, 3);
    // msi.dll reports Windows 8.1 for every later release to packages.
    const uint32_t versionNt = std::min<uint32_t>(machine.version.major * 100 + machine.version.minor, 603);
    props[L"VersionNT"] = std::to_wstring(versionNt);
    props[L"WindowsBuild"] = std::to_wstring(machine.version.build);
    props[L"ROOTDRIVE"] = root;
    props[L"WindowsVolume"] = root;
    props[L"WindowsFolder"] = windows;
    props[L"ProgramFilesFolder"] = folder(csidl::kProgramFilesX86);
    props[L"CommonFilesFolder"] = folder(csidl::kProgramFilesCommonX86);
    props[L"CommonAppDataFolder"] = folder(csidl::kCommonAppData);
    props[L"AppDataFolder"] = folder(csidl::kAppData);
    props[L"LocalAppDataFolder"] = folder(csidl::kLocalAppData);
    if (!folder(csidl::kProfile).empty()) props[L"PersonalFolder"] = folder(csidl::kProfile) + L"Documents\\";
    if (!folder(csidl::kLocalAppData).empty()) props[L"TempFolder"] = folder(csidl::kLocalAppData) + L"Temp\\";
    props[L"SystemFolder"] = machine.is64Bit ? windows + L"SysWOW64\\" : windows + L"System32\\";
    if (machine.is64Bit) {
        props[L"VersionNT64"] = props[L"VersionNT"];
        props[L"ProgramFiles64Folder"] = root + L"Program Files\\";
        props[L"CommonFiles64Folder"] = root + L"Program Files\\Common Files\\";
        props[L"System64Folder"] = windows + L"System32\\";
    }
    for (const auto& [name, path] : props) {
        if (name.size() > 6 && name.compare(name.size() - 6, 6, L"Folder") == 0 && !path.empty()) {
            standardFolders.push_back(path);
        }
    }
    if (administrator) {
        props[L"Privileged"] = L"1";
        props[L"AdminUser"] = L"1";
    }
    for (auto& [name, value] : props) packageProps[name] = std::move(value);
}

struct DirectoryRow {
    std::wstring parent;
    std::wstring defaultDir;
};

// Resolves every directory the way CostFinalize does: a directory whose
// key is a set property (a standard folder, or one the command line gave)
// is that path; a root is the root drive; any other is its parent's path
// plus its target name, "." being the parent itself.
bool ResolveDirectories(platform::IMsiDatabase& database, MsiProperties& props) {
    std::map<std::wstring, DirectoryRow> rows;
    for (const auto& row : Select(database, sql::kDirectory)) {
        rows[row->GetString(1)] = DirectoryRow{row->GetString(2), row->GetString(3)};
    }
    std::map<std::wstring, std::wstring> resolved;
    std::function<bool(const std::wstring&, std::set<std::wstring>&)> resolve =
        [&](const std::wstring& key, std::set<std::wstring>& visiting) -> bool {
        if (resolved.count(key)) return true;
        if (!visiting.insert(key).second) return false;  // a loop in the table
        auto set = props.find(key);
        const DirectoryRow& row = rows[key];
        std::wstring path;
        if (set != props.end() && !set->second.empty()) {
            path = WithBackslash(set->second);
        } else if (row.parent.empty() || row.parent == key || !rows.count(row.parent)) {
            path = props[L"ROOTDRIVE"];
        } else {
            if (!resolve(row.parent, visiting)) return false;
            path = resolved[row.parent];
            const std::wstring name = LongName(row.defaultDir);
            if (!name.empty() && name != L".") path += name + L"\\";
        }
        resolved[key] = path;
        return true;
    };
    for (const auto& entry : rows) {
        std::set<std::wstring> visiting;
        if (!resolve(entry.first, visiting)) return false;
    }
    for (const auto& [key, path] : resolved) props[key] = path;
    return true;
}

// Type 51 custom actions set a property from formatted text; the ones the
// execute sequence runs after CostFinalize see the resolved directories.
void RunPropertyActions(platform::IMsiDatabase& database, MsiProperties& props) {
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> actions;  // action -> (property, value)
    for (const auto& row : Select(database, sql::kCustomAction)) {
        const int type = row->GetInteger(2);
        if (type != kMsiNullInteger && (type & 0x3F) == kCustomActionSetProperty) {
            actions[row->GetString(1)] = {row->GetString(3), row->GetString(4)};
        }
    }
    const auto lookup = [&](const std::wstring& name) {
        auto it = props.find(name);
        return it == props.end() ? std::wstring() : it->second;
    };
    for (const auto& row : Select(database, sql::kExecuteSequence)) {
        auto action = actions.find(row->GetString(1));
        if (action == actions.end()) continue;
        const std::wstring condition = row->GetString(2);
        if (!condition.empty() && !EvaluateCondition(condition, props).value_or(true)) continue;
        props[action->second.first] = FormatText(action->second.second, lookup);
    }
}

struct Component {
    std::wstring directory;
    std::wstring keyPath;
    bool is64 = false;
    std::wstring id;
};

// The components this install puts on the machine. A condition the
// evaluator cannot read installs the component rather than drop files.
std::map<std::wstring, Component> ChooseComponents(platform::IMsiDatabase& database, const MsiProperties& props) {
    std::map<std::wstring, Component> chosen;
    for (const auto& row : Select(database, sql::kComponent)) {
        const std::wstring condition = row->GetString(4);
        if (!condition.empty() && !EvaluateCondition(condition, props).value_or(true)) continue;
        const int attributes = row->GetInteger(5);
        chosen[row->GetString(1)] =
            Component{row->GetString(2), row->GetString(3),
                      attributes != kMsiNullInteger && (attributes & kComponent64Bit) != 0, row->GetString(6)};
    }
    return chosen;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The full key name a Registry row writes to, in the 64-bit view: 32-bit
// components on 64-bit Windows see HKLM\SOFTWARE through WOW6432Node.
std::wstring RegistryKey(int root, std::wstring key, bool component64, const MachineState& machine,
                         const MsiProperties& props) {
    auto allUsers = props.find(L"ALLUSERS");
    const bool perMachine = allUsers != props.end() && !allUsers->second.empty();
    std::wstring hive;
    switch (root) {
        case -1: hive = perMachine ? L"HKLM" : L"HKCU"; break;
        case 0:
            hive = L"HKLM";
            key = L"SOFTWARE\\Classes\\" + key;
            break;
        case 1: hive = L"HKCU"; break;
        case 2: hive = L"HKLM"; break;
        default: return std::wstring();  // HKEY_USERS: not kept by the machine
    }
    while (!key.empty() && key.back() == L'\\') key.pop_back();
    if (hive == L"HKLM" && machine.is64Bit && !component64 && StartsWithNoCase(key + L"\\", L"SOFTWARE\\") &&
        !StartsWithNoCase(key, L"SOFTWARE\\WOW6432Node")) {
        key = L"SOFTWARE\\WOW6432Node" + key.substr(8);
    }
    return hive + L"\\" + key;
}

// Registry values are kept as text; "#123" is a DWORD, "#x..." binary,
// "##text" a string starting with '#'.
std::wstring RegistryText(const std::wstring& value) {
    if (value.rfind(L"##", 0) == 0) return value.substr(1);
    if (value.rfind(L"#%", 0) == 0) return value.substr(2);
    if (value.rfind(L"#x", 0) == 0 || value.rfind(L"#X", 0) == 0) return value.substr(2);
    if (value.rfind(L"#", 0) == 0) return value.substr(1);
    return value;
}

// The package's properties after costing: its own, the machine's standard
// folders, the command line's, the resolved directories and what the
// property-setting custom actions made of them.
uint32_t PlanProperties(const MachineState& machine, bool administrator, platform::IMsiDatabase& database,
                        const PackageSummary& summary, const MsiProperties& commandLine, InstallPlan& plan) {
    const std::wstring platformName = Lower(summary.platformTemplate.substr(0, summary.platformTemplate.find(L';')));
    plan.package64 = platformName == L"x64" || platformName == L"amd64" || platformName == L"arm64";
    if (plan.package64 && !machine.is64Bit) return kErrPlatformUnsupported;

    MsiProperties& props = plan.properties;
    for (const auto& row : Select(database, sql::kProperty)) {
        props[row->GetString(1)] = row->GetString(2);
    }
    if (props[L"ProductCode"].empty()) return platform::kErrInstallPackageInvalid;
    AddMachineProperties(machine, administrator, props, plan.standardFolders);
    for (const auto& [name, value] : commandLine) props[name] = value;
    if (!ResolveDirectories(database, props)) return platform::kErrInstallPackageInvalid;
    RunPropertyActions(database, props);
    return platform::kErrSuccess;
}

// Where the chosen components put things.
struct Placement {
    std::map<std::wstring, Component> components;
    std::map<std::wstring, std::wstring> filePaths;  // File key -> path
};

// The files of the chosen components and the folders they create.
void PlanFiles(platform::IMsiDatabase& database, Placement& placement, InstallPlan& plan) {
    MsiProperties& props = plan.properties;
    for (const auto& row : Select(database, sql::kFile)) {
        auto component = placement.components.find(row->GetString(3));
        if (component == placement.components.end()) continue;
        const std::wstring path = props[component->second.directory] + LongName(row->GetString(4));
        const int size = row->GetInteger(2);
        plan.files.push_back(PlannedFile{path, size == kMsiNullInteger || size < 0 ? 0u : static_cast<uint64_t>(size)});
        placement.filePaths[row->GetString(1)] = path;
    }
    for (const auto& row : Select(database, sql::kCreateFolder)) {
        if (placement.components.count(row->GetString(2))) plan.folders.push_back(props[row->GetString(1)]);
    }
    // A component whose key path is a file is found by that file; one with
    // none (or a registry key path, not kept here) by its folder.
    for (const auto& [key, component] : placement.components) {
        if (component.id.empty()) continue;
        const auto file = placement.filePaths.find(component.keyPath);
        plan.componentPaths[component.id] =
            file != placement.filePaths.end() ? file->second : props[component.directory];
    }
}

using Lookup = std::function<std::wstring(const std::wstring&)>;

// What formatted text names: "[#File]" and "[!File]" a file's path,
// "[$Component]" a component's folder, anything else a property.
Lookup PlacementLookup(const Placement& placement, MsiProperties& props) {
    return [&placement, &props](const std::wstring& name) {
        if (name.size() > 1 && (name[0] == L'#' || name[0] == L'!')) {
            auto file = placement.filePaths.find(name.substr(1));
            return file == placement.filePaths.end() ? std::wstring() : file->second;
        }
        if (name.size() > 1 && name[0] == L'$') {
            auto component = placement.components.find(name.substr(1));
            return component == placement.components.end() ? std::wstring() : props[component->second.directory];
        }
        auto it = props.find(name);
        return it == props.end() ? std::wstring() : it->second;
    };
}

void PlanServices(platform::IMsiDatabase& database, Placement& placement, const Lookup& lookup, InstallPlan& plan) {
    for (const auto& row : Select(database, sql::kServiceInstall)) {
        auto component = placement.components.find(row->GetString(4));
        if (component == placement.components.end()) continue;
        const int startType = row->GetInteger(3);
        plan.services.push_back(PlannedService{FormatText(row->GetString(1), lookup),
                                               FormatText(row->GetString(2), lookup),
                                               startType == kMsiNullInteger ? 3u : static_cast<uint32_t>(startType),
                                               L"\"" + placement.filePaths[component->second.keyPath] + L"\""});
    }
    constexpr int kStartAtInstall = 0x1;
    for (const auto& row : Select(database, sql::kServiceControl)) {
        const int event = row->GetInteger(2);
        if (event == kMsiNullInteger || (event & kStartAtInstall) == 0) continue;
        if (placement.components.count(row->GetString(3)) == 0) continue;
        const std::wstring name = FormatText(row->GetString(1), lookup);
        for (PlannedService& service : plan.services) {
            if (EqualsNoCase(service.name, name)) service.startAtInstall = true;
        }
    }
}

void PlanRegistry(platform::IMsiDatabase& database, const Placement& placement, const Lookup& lookup,
                  const MachineState& machine, InstallPlan& plan) {
    for (const auto& row : Select(database, sql::kRegistry)) {
        auto component = placement.components.find(row->GetString(5));
        const std::wstring name = row->GetString(3);
        // Rows without a value only create or delete keys.
        if (component == placement.components.end() || row->GetString(4).empty()) continue;
        if (name == L"+" || name == L"-" || name == L"*") continue;
        const std::wstring key = RegistryKey(row->GetInteger(1), FormatText(row->GetString(2), lookup),
                                             component->second.is64, machine, plan.properties);
        if (key.empty()) continue;
        plan.registry.push_back(
            PlannedRegistryValue{key, FormatText(name, lookup), RegistryText(FormatText(row->GetString(4), lookup))});
    }
}

}  // namespace

MsiProperties ParseCommandLine(const std::wstring& commandLine) {
    MsiProperties props;
    size_t pos = 0;
    while (pos < commandLine.size()) {
        while (pos < commandLine.size() && std::iswspace(commandLine[pos])) ++pos;
        const size_t equals = commandLine.find(L'=', pos);
        if (pos >= commandLine.size() || equals == std::wstring::npos) break;
        std::wstring name = commandLine.substr(pos, equals - pos);
        pos = equals + 1;
        std::wstring value;
        if (pos < commandLine.size() && commandLine[pos] == L'"') {
            const size_t close = commandLine.find(L'"', pos + 1);
            value = commandLine.substr(pos + 1, close == std::wstring::npos ? std::wstring::npos : close - pos - 1);
            pos = close == std::wstring::npos ? commandLine.size() : close + 1;
        } else {
            size_t end = pos;
            while (end < commandLine.size() && !std::iswspace(commandLine[end])) ++end;
            value = commandLine.substr(pos, end - pos);
            pos = end;
        }
        if (!name.empty() && name.find_first_of(L" \t") == std::wstring::npos) props[name] = value;
    }
    return props;
}

uint32_t PlanInstall(const MachineState& machine, bool administrator, platform::IMsiDatabase& database,
                     const PackageSummary& summary, const MsiProperties& commandLine, InstallPlan& plan) {
    plan = InstallPlan{};
    const uint32_t error = PlanProperties(machine, administrator, database, summary, commandLine, plan);
    if (error != platform::kErrSuccess) return error;
    Placement placement{ChooseComponents(database, plan.properties), {}};
    PlanFiles(database, placement, plan);
    const Lookup lookup = PlacementLookup(placement, plan.properties);
    PlanServices(database, placement, lookup, plan);
    PlanRegistry(database, placement, lookup, machine, plan);
    return platform::kErrSuccess;
}

}  // namespace sim
