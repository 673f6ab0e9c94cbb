// PowerShell, which carries the package removal: where it is, and the
// command line that removes one package.
#pragma once

#include <string>

#include "PackageFullName.h"

namespace removepackage {

// The native PowerShell of this Windows: a 32-bit process reaches the
// 64-bit one through Sysnative, as the package cmdlets belong to the
// native system. Empty when there is none.
std::wstring PowerShellPath();

// "<program>" -NoProfile -NonInteractive -WindowStyle Hidden -Command
// "Remove-AppxPackage -Package '<full name>'". The full name is a parsed
// one, whose characters need no quoting.
std::wstring RemovalCommandLine(const std::wstring& powerShell, const PackageId& package);

}  // namespace removepackage
