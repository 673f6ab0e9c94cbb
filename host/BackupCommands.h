// brisalen backups [FOLDER...] [--deep]: the iOS device backups the
// user-data scan finds, optionally only those at or below some folders.
#pragma once

#include "host/HostContext.h"

void AddBackupCommands(CLI::App& app, HostAction& action);

// One backup as the host's JSON and text output describe it.
nlohmann::json DescribeBackup(const ST_ITUNES_USER_DATA_ITEM& backup);

// A path as Win32 resolves it ("C:\...", "C:\a\..", "c:/A"), case-folded and
// without a trailing separator (a drive root keeps its own); empty when it
// is no path. Two spellings of one folder give the same text.
std::wstring ResolvedPath(const std::wstring& path);
