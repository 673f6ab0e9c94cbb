// A directory search over entries captured when it started. Windows lets
// callers delete what they enumerate; a snapshot keeps that safe.
#pragma once

#include <vector>

#include "platform/FileSystem.h"

namespace sim {

class SimFileSearch : public platform::IFileSearch {
public:
    // Next hands out `entries` from index `next` on; FindFirst has returned
    // those before it.
    SimFileSearch(std::vector<platform::FindData> entries, size_t next) : entries_(std::move(entries)), next_(next) {}
    bool Next(platform::FindData& entry) override;

private:
    std::vector<platform::FindData> entries_;
    size_t next_;
};

}  // namespace sim
