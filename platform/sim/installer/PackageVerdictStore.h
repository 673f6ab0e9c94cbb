// Verdicts of the package check kept in a file of the machine's folder, so
// that a later process acting on the same machine does not check its
// packages again: every host command is a process of its own, and the
// product commands open every cached package.
//
// Only verdicts the cache trusts are kept (PackageVerdicts.h), and only for
// the check program and libmsi that reached them: the file carries a stamp
// of both, and a file with another stamp, or one that cannot be read, is
// as good as none. Writes replace the file whole; two processes writing at
// once may lose one of their verdicts, which costs a check, nothing more.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/installer/PackageVerdicts.h"

namespace sim {

class PackageVerdictStore {
public:
    PackageVerdictStore(std::string file, std::string stamp) : file_(std::move(file)), stamp_(std::move(stamp)) {}

    // The trusted verdicts in the file, none when it is missing, unreadable
    // or written under another stamp.
    std::vector<PackageVerdictEntry> Load() const;

    // Adds `entry` (when trusted) in place of any earlier one for its path,
    // dropping the verdicts on files that are gone. False when the file
    // cannot be written.
    bool Save(const PackageVerdictEntry& entry) const;

    // The file name within a machine's folder.
    static constexpr const char* kFileName = "package-checks.json";

private:
    std::string file_;
    std::string stamp_;
};

}  // namespace sim
