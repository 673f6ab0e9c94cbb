// RemovePackage.dll: finds and removes the Microsoft Store edition of iTunes
// for the current user. Brisalen loads it at run time; any program may, as
// long as it keeps to this contract.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define REMOVEPACKAGE_CDECL __cdecl
#else
#define REMOVEPACKAGE_CDECL
#endif

namespace removepackage {

// The room the caller gives the version text, in UTF-16 units, its
// terminating zero included.
constexpr int32_t kVersionUnits = 1024;

// What UninstallMicrosoftStoreItunes answers.
enum RemovalCode : int32_t {
    kRemoved = 0,
    // The package manager knows no Store edition of iTunes for this user.
    kNotInstalled = 1,
    // Nothing on this machine can say which packages are installed: no
    // package query in kernel32 and no package repository in the user's
    // registry (Windows before 8, or Wine).
    kNoPackageManager = 2,
    // No PowerShell, which carries the removal command.
    kNoRemovalTool = 3,
    // CreateProcessW refused to start PowerShell.
    kCannotStartRemoval = 4,
    // The removal outran its time limit and was ended.
    kRemovalTimedOut = 5,
    // The removal reported success but the package is still there.
    kStillInstalled = 6,
    // Anything else that went wrong inside this library (out of memory).
    kInternalError = 7,
    // The removal command failed: its exit code is in the low 16 bits.
    kRemovalCommandFailed = 0x10000,
};

}  // namespace removepackage

extern "C" {

// True when the Store package of iTunes (AppleInc.iTunes) is installed for
// the current user; `version` (a zero-filled buffer of kVersionUnits units)
// then receives the version from the package's full name, such as
// "12.13.2.3". `reserved` is 0.
bool REMOVEPACKAGE_CDECL CheckInstallMicrosoftStoreItunes(wchar_t* version, int32_t reserved);

// Removes the Store package for the current user and confirms it is gone:
// kRemoved, or one of the failure codes above.
int32_t REMOVEPACKAGE_CDECL UninstallMicrosoftStoreItunes();

}  // extern "C"
