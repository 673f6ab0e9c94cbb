// brisalen check / repair FOLDER / repair-bad: the component check and
// repair tasks through the library's repair manager, reported as they run.
#pragma once

#include "host/HostContext.h"

void AddRepairCommands(CLI::App& app, HostAction& action);
