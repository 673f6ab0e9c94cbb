// Building the path of an entry a folder search returned. Win32 rewrites
// some names when it parses a plain path: "C:\x\..." names C:\x itself and
// "C:\x\a." names C:\x\a. Walks reach such entries through the "\\?\" form,
// which hands names to the file system as they are, so a walk never
// mistakes one for its parent or a sibling.
#pragma once

#include <string>

#include "platform/FileSystem.h"

// A name the plain Win32 form would rewrite: dots only, or trailing dots or
// blanks.
bool NeedsLiteralPath(const std::wstring& name);

// The path of `name` inside `folder` (with or without a trailing
// backslash), in the "\\?\" form when only that form reaches the entry by
// its real name. Empty when the entry has no such form here (a relative or
// UNC folder): callers leave it alone.
std::wstring ChildPath(platform::IFileSystem& files, const std::wstring& folder, const std::wstring& name);
