// brisalen scan [--deep] / delete [--category N...] [--backup PATH...]: the
// user-data manager's two tasks, with a progress line while they run and
// Ctrl-C as their cancel flag.
#pragma once

#include "host/HostContext.h"

void AddUserDataCommands(CLI::App& app, HostAction& action);
