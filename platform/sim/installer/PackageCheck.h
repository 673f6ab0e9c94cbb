// One run of the package check program (pkgcheck/) on a package file: it
// reads the package with libmsi in a process of its own, under a time and
// a memory limit, and says whether it got through.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace sim {

struct PackageCheckLimits {
    std::string program;  // absolute path of brisalen-package-check
    std::chrono::milliseconds timeLimit{0};
    unsigned memoryMiB = 0;
};

enum class CheckEnd {
    kSound,     // read through: libmsi may read it in-process
    kFailed,    // died by a signal or ended without saying it got through
    kTimedOut,  // killed at the time limit
    kNotRun,    // the program could not be started
};

struct CheckOutcome {
    CheckEnd end = CheckEnd::kNotRun;
    std::string detail;  // how it ended, for a log line
};

// Checks the package open at `packageFd` with `queries`.
CheckOutcome RunPackageCheck(const PackageCheckLimits& limits, int packageFd, const std::vector<std::string>& queries);

}  // namespace sim
