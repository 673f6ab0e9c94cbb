// Which host directory entries a Windows file system could hold. The host
// allows every byte but '/' and NUL in a name, Windows does not: a host
// name with a backslash would become a path separator once a walk joins it
// onto its folder ("..\..\Windows\win.ini" climbs out of it), a colon names
// a stream, and the rest make the name invalid. Such entries are not there
// for the machine: never listed, never found by a path.
#pragma once

#include <string>

namespace sim {

// Whether a Windows name may be `name`: no backslash, slash, colon, any of
// <>"|?* and no control character. Names ending in dots or blanks, and names
// of dots other than "." and "..", pass: NTFS holds them and Win32 reaches
// them through the "\\?\" form (WinPath, ChildPath), never as another name.
bool IsWindowsName(const std::wstring& name);

// The same for a host entry's name, which must also read back as itself:
// bytes that are no UTF-8 become U+FFFD, a name that leads to another host
// entry (or none) when the machine spells it back.
bool IsWindowsHostName(const char* name);

}  // namespace sim
