// A directory search over entries captured when it started. Windows lets
// callers delete what they enumerate; a snapshot keeps that safe.
#pragma once

#include <vector>

#include "platform/FileSystem.h"

namespace sim {

class SimFileSearch : public platform::IFileSearch {
public:
    // `entries` holds everything after the first entry FindFirst returned.
    explicit SimFileSearch(std::vector<platform::FindData> entries) : entries_(std::move(entries)) {}
    bool Next(platform::FindData& entry) override;

private:
    std::vector<platform::FindData> entries_;
    size_t next_ = 0;
};

}  // namespace sim
