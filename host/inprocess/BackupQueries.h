// iOS device backups below some folders, found the way the user-data scan
// finds them. In-process for the same reason as ProductQueries.h: the
// library exports no backup listing of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "include/Brisalen.h"

namespace inprocess {

// The folders iTunes keeps backups in for this user, those that exist.
std::vector<std::wstring> DefaultBackupRoots();

// Every backup at or below `folders`, in the order the walk meets them. A
// recognised backup is not searched for further backups inside it.
std::vector<ST_ITUNES_USER_DATA_ITEM> FindBackups(const std::vector<std::wstring>& folders);

// The size as the library writes it in its log ("1.50 MB").
std::wstring SizeText(int64_t bytes);

}  // namespace inprocess
