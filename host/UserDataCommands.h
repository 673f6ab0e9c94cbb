// brisalen scan [--deep] / delete [--category N...] [--backup PATH...]: the
// user-data manager's two tasks, with a progress line while they run and
// Ctrl-C as their cancel flag.
#pragma once

#include <vector>

#include "host/HostContext.h"

void AddUserDataCommands(CLI::App& app, HostAction& action);

// Runs one scan to its end with the progress line and prints nothing else:
// 0, 1 when it was cancelled, 2 when it could not start. The library's
// tables then hold its results.
int RunScanOnly(HostContext& host, bool deep);
// The same, handing back the iOS backups the scan found.
int ScanForBackups(HostContext& host, bool deep, std::vector<ST_ITUNES_USER_DATA_ITEM>& backups);
