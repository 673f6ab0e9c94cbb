// Keeps libmsi's faults out of the processes that use the simulated machine.
// libmsi dereferences null on some damaged packages; before it reads a
// package in this process, the package check program (pkgcheck/) reads the
// same file the same way in a process of its own. A package that kills that
// process, or keeps it busy past the time limit, is answered as an invalid
// package (1620) and never reaches libmsi here. So is every package while
// the check program cannot be started: libmsi is not trusted unchecked.
//
// The program is found beside the simulated machine's library (the build
// puts both in its bin folder). Verdicts are kept per file version for the
// life of the process (PackageVerdicts.h) and in the machine's folder
// (PackageVerdictStore.h), so a package is checked once however often and
// by however many processes it is opened.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/Api.h"

namespace sim {

class PackageFile;

struct PackageCheckSettings {
    std::string program;  // empty: DefaultPackageCheckProgram()
    std::chrono::milliseconds timeLimit{10000};
    unsigned memoryMiB = 1024;
};

// brisalen-package-check in the folder of the library that holds this code.
SIM_API std::string DefaultPackageCheckProgram();

// Replaces the settings and forgets every verdict this process holds (the
// ones kept in machine folders stay there).
SIM_API void SetPackageCheckSettings(const PackageCheckSettings& settings);
SIM_API PackageCheckSettings CurrentPackageCheckSettings();
// How many checks this process has started.
SIM_API uint64_t PackageChecksStarted();

// 0 when `file` may be read here with `queries`; 1620 when its check did
// not get through or could not run, after a line on standard error that
// names the package as `shownAs`. Verdicts are kept in `machineFolder`
// for later processes, unless it is empty.
uint32_t AdmitPackage(const PackageFile& file, const std::vector<std::string>& queries, const std::wstring& shownAs,
                      const std::string& machineFolder);

}  // namespace sim
