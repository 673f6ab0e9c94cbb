// brisalen processes: the running processes with their loaded modules.
#pragma once

#include <CLI/CLI.hpp>

#include "host/HostContext.h"

void AddProcessCommands(CLI::App& app, HostAction& action);
