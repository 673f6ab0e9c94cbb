// --dry-run of uninstall-all, delete and repair: what the task would do, as
// the library's C previews work it out, printed as text or JSON; nothing on
// the machine changes. Each returns the exit code: 0 when the preview was
// printed, 2 when the library lacks the export or could not make it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/HostContext.h"

int PrintUninstallPreview(HostContext& host, bool withUserData);
// On the library's last scan, which the caller has run.
int PrintDeletionPreview(HostContext& host, const std::vector<int32_t>& categories, const std::vector<int32_t>& items);
// `folder` empty: the repair of the damaged products only.
int PrintRepairPreview(HostContext& host, bool badOnly, const std::string& folder);
