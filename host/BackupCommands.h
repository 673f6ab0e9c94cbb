// brisalen backups [FOLDER...]: the iOS device backups below some folders,
// by default the user's backup folders.
#pragma once

#include "host/HostContext.h"

void AddBackupCommands(CLI::App& app, HostAction& action);

// One backup as the host's JSON and text output describe it.
nlohmann::json DescribeBackup(const ST_ITUNES_USER_DATA_ITEM& backup);
