// brisalen products / verify: the installed products of the family and the
// per-product file check (through host/inprocess/ until the library exports
// its product queries).
#pragma once

#include "host/HostContext.h"

void AddProductCommands(CLI::App& app, HostAction& action);
