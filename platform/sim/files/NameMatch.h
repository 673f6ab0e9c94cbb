// How NTFS matches and orders the names in one directory.
#pragma once

#include <string>

namespace sim {

// FindFirstFileW's wildcard test: '*' any run, '?' one character, case
// ignored, and "*.*" standing for "*" as it has since DOS.
bool MatchesWildcard(const std::wstring& pattern, const std::wstring& name);

// The order NTFS keeps directory entries in: upper-cased names compared by
// UTF-16 code unit.
bool NtfsNameLess(const std::wstring& a, const std::wstring& b);

}  // namespace sim
