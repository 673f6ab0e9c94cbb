// brisalen check / repair FOLDER / repair-bad: the component check and
// repair tasks through the library's repair manager, reported as they run.
#pragma once

#include "host/HostContext.h"

void AddRepairCommands(CLI::App& app, HostAction& action);

// Runs the check task to its end, printing nothing but the progress line:
// {"items": [...], "summary": {...}} as `check --json` shows it, or null
// when the task could not start.
nlohmann::json RunQuietCheck(IFixItunesMgr& manager);
