// brisalen services ...: the state and start type of Windows services, and
// on Linux `machine add-service` to put services on the simulated machine.
#pragma once

#include <CLI/CLI.hpp>

#include "host/HostContext.h"

void AddServiceCommands(CLI::App& app, HostAction& action);
// `machine` is the simulated machine's set-up command.
void AddServiceMachineCommands(CLI::App& machine, HostAction& action);
