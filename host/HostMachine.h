// The machine the host acts on. On Linux it is a simulated Windows machine
// in a folder, chosen with --machine and set up with the `machine` commands
// (host/machine/); on Windows it is the real one (host/RealMachine.cpp),
// with nothing to choose or set up.
#pragma once

#include <CLI/CLI.hpp>

#include "host/HostContext.h"

// Registers the options and commands that choose and set up the machine.
void AddMachineCommands(CLI::App& app, HostAction& action);

// Runs the chosen command on the machine; returns its exit code.
int RunOnMachine(HostContext& host, const HostAction& action);
