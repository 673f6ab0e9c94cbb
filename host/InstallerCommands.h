// brisalen machine install / uninstall / install-family / queue-msi-results:
// puts installer packages on the simulated machine the way msiexec would,
// through the same Windows Installer seam the library uses.
#pragma once

#include <CLI/CLI.hpp>

#include "host/HostContext.h"

// `machine` is the simulated machine's set-up command.
void AddInstallerMachineCommands(CLI::App& machine, HostAction& action);
