// What the package check said about each version of each package file this
// process reads, so that a package opened again is not checked again.
//
// A version is told by identity, size and times, but file times are coarse
// (the kernel stamps them from a clock that moves in ticks of milliseconds),
// so a file rewritten within the tick in which its check began can look
// unchanged. A verdict is therefore only trusted for a file whose last
// change lies before the clock tick in which its check started; any other
// file is checked again on its next open, by when its stamp is in the past.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/installer/PackageFile.h"

namespace sim {

struct PackageVerdict {
    bool sound = false;
    std::string detail;             // how the check ended, when not sound
    std::set<std::string> queries;  // what a sound check ran
};

// A verdict on one version of one file. `checkStartedNs` is CoarseClockNs()
// taken before the check opened the file.
struct PackageVerdictEntry {
    std::string path;  // host path
    FileVersion version;
    int64_t checkStartedNs = 0;
    PackageVerdict verdict;

    bool Trusted() const { return version.changedNs < checkStartedNs; }
};

class PackageVerdicts {
public:
    // The verdict for `version` of the file at `path`, to read it with
    // `queries`: an unsound one whatever the queries, a sound one only when
    // its check ran them all. None when the file has to be checked.
    std::optional<PackageVerdict> Find(const std::string& path, const FileVersion& version,
                                       const std::vector<std::string>& queries) const;

    // Keeps `entry` as the verdict for its path, and returns what is kept:
    // a sound verdict on a version already trusted sound adds its queries
    // to the ones checked before.
    PackageVerdictEntry Remember(PackageVerdictEntry entry);

    void Clear();

    // The wall clock as the kernel stamps file times with it.
    static int64_t CoarseClockNs();

private:
    mutable std::mutex mutex_;
    std::map<std::string, PackageVerdictEntry> entries_;  // by host path
};

}  // namespace sim
