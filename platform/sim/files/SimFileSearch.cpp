#include "platform/sim/files/SimFileSearch.h"

#include "platform/sim/processes/LastError.h"

#include <utility>

namespace sim {

bool SimFileSearch::Next(platform::FindData& entry) {
    if (next_ >= entries_.size()) {
        SetLastError(platform::kErrNoMoreFiles);
        return false;
    }
    entry = std::move(entries_[next_++]);  // each is handed out once
    return true;
}

}  // namespace sim
