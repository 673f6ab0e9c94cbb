// brisalen uninstall-all [--user-data] / install-all FOLDER: the one-key
// tasks through the library's repair manager, reported as they run.
#pragma once

#include "host/HostContext.h"

void AddOneKeyCommands(CLI::App& app, HostAction& action);
