// brisalen backups [FOLDER...]: the iOS device backups below some folders,
// by default the user's backup folders.
#pragma once

#include "host/HostContext.h"

void AddBackupCommands(CLI::App& app, HostAction& action);
