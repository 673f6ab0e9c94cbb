// Package databases of the simulated machine: real .msi files read with
// libmsi behind the seam's IMsiDatabase, answering with msi.dll's codes.
// Nothing here needs libmsi's headers. libmsi reads a package in this
// process only after the package check has (PackageGuard.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Installer.h"
#include "platform/sim/store/Machine.h"

namespace sim {

// Error codes msi.dll gives that the rest of the seam has no name for.
constexpr uint32_t kErrOpenFailed = 110;
constexpr uint32_t kErrInstallSourceAbsent = 1612;
constexpr uint32_t kErrBadQuerySyntax = 1615;
constexpr uint32_t kErrFunctionFailed = 1627;
constexpr uint32_t kErrPlatformUnsupported = 1633;
constexpr int kMsiNullInteger = static_cast<int>(0x80000000u);

// The summary information stream fields the installer acts on.
struct PackageSummary {
    std::wstring platformTemplate;  // "x64;1033", "Intel;1033"
    std::wstring revisionNumber;    // the package code
};

// MsiOpenDatabaseW(path, MSIDBOPEN_READONLY) on a file of the machine:
// 110 when the file is missing, 1620 when it is not an installer package
// or one its check refused.
// Fills `summary` too when asked.
uint32_t OpenPackage(const Machine& machine, const std::wstring& winPath,
                     std::unique_ptr<platform::IMsiDatabase>& database, PackageSummary* summary = nullptr);

}  // namespace sim
