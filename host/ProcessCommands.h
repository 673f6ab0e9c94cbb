// brisalen processes: the running processes with their loaded modules, and
// on Linux `machine add-process` to start processes on the simulated machine.
#pragma once

#include <CLI/CLI.hpp>

#include "host/HostContext.h"

void AddProcessCommands(CLI::App& app, HostAction& action);
// `machine` is the simulated machine's set-up command.
void AddProcessMachineCommands(CLI::App& machine, HostAction& action);
