// What installing a package would do on a given machine, read from its
// tables the way the Installer's costing reads them: properties, resolved
// directories, the components whose conditions hold, and their files,
// services and registry values at their final paths. Nothing is changed
// while planning.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Installer.h"
#include "platform/sim/store/MachineState.h"
#include "platform/sim/installer/SimMsiDatabase.h"
#include "platform/sim/installer/SimMsiExpressions.h"

namespace sim {

struct PlannedFile {
    std::wstring path;
    uint64_t size = 0;
};

struct PlannedService {
    std::wstring name;
    std::wstring displayName;
    uint32_t startType = 3;  // SERVICE_DEMAND_START
    std::wstring binaryPath;
    // A ServiceControl row of an installed component starts it at install
    // (msidbServiceControlEventStart); Wait="yes" makes the install wait
    // until it runs, so it is running once the install returns.
    bool startAtInstall = false;
};

struct PlannedRegistryValue {
    std::wstring key;  // full name in the 64-bit view
    std::wstring name;
    std::wstring value;
};

struct InstallPlan {
    bool package64 = false;
    // The package's properties after costing and the property-setting
    // custom actions: directory keys hold their paths with a trailing
    // backslash, ARPINSTALLLOCATION what the package set it to.
    MsiProperties properties;
    std::vector<std::wstring> folders;  // created even when no file lands in them
    // The standard folders (Program Files, Common Files ...) this package
    // uses: Windows has them whether or not a package created them, so an
    // uninstall never removes them.
    std::vector<std::wstring> standardFolders;
    std::vector<PlannedFile> files;
    std::vector<PlannedService> services;
    std::vector<PlannedRegistryValue> registry;
    // ComponentId -> key path of each chosen component.
    std::map<std::wstring, std::wstring> componentPaths;
};

// PROPERTY=value pairs of a command line; values may be quoted.
MsiProperties ParseCommandLine(const std::wstring& commandLine);

// 0 with `plan` filled; 1633 for a 64-bit package on 32-bit Windows, 1620
// for a package without a product code or a broken Directory table.
uint32_t PlanInstall(const MachineState& machine, bool administrator, platform::IMsiDatabase& database,
                     const PackageSummary& summary, const MsiProperties& commandLine, InstallPlan& plan);

}  // namespace sim
