#include "platform/sim/PackageVerdicts.h"

#include <time.h>

namespace sim {

std::optional<PackageVerdict> PackageVerdicts::Find(const std::string& path, const FileVersion& version,
                                                    const std::vector<std::string>& queries) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(path);
    if (it == entries_.end() || it->second.version != version || !Trusted(it->second)) return std::nullopt;
    const PackageVerdict& verdict = it->second.verdict;
    if (verdict.sound) {
        for (const std::string& query : queries) {
            if (!verdict.queries.count(query)) return std::nullopt;
        }
    }
    return verdict;
}

void PackageVerdicts::Remember(const std::string& path, const FileVersion& version, int64_t checkStartedNs,
                               PackageVerdict verdict) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(path);
    if (it != entries_.end() && it->second.version == version && Trusted(it->second) &&
        it->second.verdict.sound && verdict.sound) {
        it->second.verdict.queries.insert(verdict.queries.begin(), verdict.queries.end());
        return;
    }
    entries_[path] = Entry{version, checkStartedNs, std::move(verdict)};
}

void PackageVerdicts::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

int64_t PackageVerdicts::CoarseClockNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace sim
