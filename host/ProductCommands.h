// brisalen products / verify: the installed products through the library's
// product query exports, and each family product's files as the repair
// manager's check judges them.
#pragma once

#include "host/HostContext.h"

void AddProductCommands(CLI::App& app, HostAction& action);
