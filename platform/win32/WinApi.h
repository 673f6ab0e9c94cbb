// Every back-end file reaches the Windows headers through here. The A/W
// macros that share their names with methods of the seam (DeleteFile,
// CopyFile, GetDriveType, ...) are dropped before any seam header is read, so
// the overrides keep the names the interfaces declare; the back end always
// calls the W functions by their full names.
#pragma once

#include <windows.h>

#include <msi.h>
#include <shlobj.h>

#undef CopyFile
#undef CreateDirectory
#undef CreateProcess
#undef DeleteFile
#undef ExpandEnvironmentStrings
#undef GetDriveType
#undef GetPrivateProfileInt
#undef MoveFile
#undef RemoveDirectory
#undef WritePrivateProfileString
