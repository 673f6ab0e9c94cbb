// brisalen [info] / itunes / open-itunes / store: what the machine is and
// what the library's repair manager answers.
#pragma once

#include "host/HostContext.h"

// Also makes `info` the command run when none is named.
void AddInfoCommands(CLI::App& app, HostAction& action);
