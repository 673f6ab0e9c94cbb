// brisalen backups [FOLDER...] [--deep]: the iOS device backups the
// user-data scan finds, optionally only those at or below some folders.
#pragma once

#include "host/HostContext.h"

void AddBackupCommands(CLI::App& app, HostAction& action);

// One backup as the host's JSON and text output describe it.
nlohmann::json DescribeBackup(const ST_ITUNES_USER_DATA_ITEM& backup);
