// Paths for the W file functions when they are too long for the plain form.
#pragma once

#include <string>

namespace platform::win32 {

// The path as the file functions must receive it: unchanged while it fits
// the plain limit, otherwise the extended-length form (\\?\C:\... or
// \\?\UNC\server\share\...). The limit is MAX_PATH-12 because
// CreateDirectoryW keeps room for an 8.3 name below the folder it makes.
std::wstring ForFileApi(const std::wstring& path);

// GetFullPathNameW of the path, of any length; empty when it fails.
std::wstring FullPathOf(const std::wstring& path);

}  // namespace platform::win32
