// `brisalen session`: many commands in one process, read from standard
// input. A host that starts slowly (a 32-bit program under an emulator
// takes the better part of a minute) loads the library once and is then
// driven step by step, with the machine changed by other tools in between.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/HostContext.h"

// Parses one command line against every command and runs it; returns its
// exit code. The library stays loaded in `host` from one call to the next.
int RunCommandLine(HostContext& host, const std::vector<std::string>& arguments);

void AddSessionCommand(CLI::App& app, HostAction& action);
