// Ending the processes that keep files of the family open: by a part of the
// executable's name, or by the folders their loaded modules come from. Both
// end a process at once (TerminateProcess); there is no polite request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

// The exit code of every process the library ends.
constexpr uint32_t kKilledProcessExitCode = 0x666;

// Ends one process, then waits 500 ms whatever the outcome so it can let go
// of its files. True when TerminateProcess succeeded.
bool TerminateProcessById(platform::Platform& os, uint32_t processId);

// Ends every process whose executable name contains one of the parts,
// compared without regard to ASCII letter case. The parts are lower-cased
// in place.
void KillProcessByPartName(platform::Platform& os, std::vector<std::wstring>& nameParts);
void KillProcessByPartName(platform::Platform& os, const std::wstring& namePart);

// Ends every process whose executable name equals one of `imageNames`,
// compared without regard to ASCII letter case. A name that is an extension
// alone or dots only (".exe", "..exe") names no program and ends nothing.
void KillProcessByImageName(platform::Platform& os, const std::vector<std::wstring>& imageNames);

// Ends every process, other than this one, that has a module loaded from
// below one of the folders (matched as text, so "C:\x" also condemns
// "C:\x2\..."). The Bonjour name-service provider, which Windows loads into
// many processes, never condemns one. True when at least one was ended.
bool KillProcessWhenPathInFolderSafe(platform::Platform& os, const std::vector<std::wstring>& folders);
// The programs (by path) of the processes KillProcessWhenPathInFolderSafe
// would end now, ending none.
std::vector<std::wstring> ProgramsRunningFrom(platform::Platform& os, const std::vector<std::wstring>& folders);
