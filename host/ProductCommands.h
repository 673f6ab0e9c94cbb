// Installed products as the library sees them, and the per-product file
// check. These run the library's product engines inside the host process.
#pragma once

#include "host/HostContext.h"

void AddProductCommands(CLI::App& app, HostAction& action);
