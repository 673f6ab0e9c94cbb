#include "platform/sim/installer/PackageVerdicts.h"

#include <time.h>

namespace sim {

std::optional<PackageVerdict> PackageVerdicts::Find(const std::string& path, const FileVersion& version,
                                                    const std::vector<std::string>& queries) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(path);
    if (it == entries_.end() || it->second.version != version || !it->second.Trusted()) return std::nullopt;
    const PackageVerdict& verdict = it->second.verdict;
    if (verdict.sound) {
        for (const std::string& query : queries) {
            if (!verdict.queries.count(query)) return std::nullopt;
        }
    }
    return verdict;
}

PackageVerdictEntry PackageVerdicts::Remember(PackageVerdictEntry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(entry.path);
    if (it != entries_.end() && it->second.version == entry.version && it->second.Trusted() &&
        it->second.verdict.sound && entry.verdict.sound) {
        it->second.verdict.queries.insert(entry.verdict.queries.begin(), entry.verdict.queries.end());
        return it->second;
    }
    const std::string path = entry.path;
    return entries_[path] = std::move(entry);
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
