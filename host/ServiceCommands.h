// brisalen services ...: the state and start type of Windows services.
#pragma once

#include <CLI/CLI.hpp>

#include "host/HostContext.h"

void AddServiceCommands(CLI::App& app, HostAction& action);
