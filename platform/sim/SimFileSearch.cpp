#include "platform/sim/SimFileSearch.h"

#include "platform/sim/LastError.h"

namespace sim {

bool SimFileSearch::Next(platform::FindData& entry) {
    if (next_ >= entries_.size()) {
        SetLastError(platform::kErrNoMoreFiles);
        return false;
    }
    entry = entries_[next_++];
    return true;
}

}  // namespace sim
