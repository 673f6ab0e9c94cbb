// brisalen install FILE.msi / uninstall TYPE CODE / product-services TYPE /
// groups: the library's plain exports, found by their exported names as a
// host application finds them.
#pragma once

#include "host/HostContext.h"

void AddQueryCommands(CLI::App& app, HostAction& action);
