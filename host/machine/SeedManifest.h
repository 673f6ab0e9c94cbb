// What a scan of a seeded profile must find, worked out from the plan alone
// (never by scanning): per category and group the quick pass's file count
// and bytes, the backups and which pass finds each, the files left to
// "Other Junk Files", and which library entries survive the removal of the
// music category and the library update that follows it.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "host/machine/UserDataSeed.h"

namespace seed {

// The scan's classification: the six roots it walks and the folders each
// category registers, tested the way the scan tests them.
class ScanRule {
public:
    explicit ScanRule(const SeedFolders& folders);
    // The category of a file in `folder`: the first registered folder
    // (ASCII-lower-cased, with a backslash appended) found anywhere in the
    // lower-cased folder path, categories in ascending code; else 19.
    int Classify(const std::wstring& folder) const;
    // Whether the quick pass meets the file at all.
    bool BelowRoots(const std::wstring& path) const;
    // Whether removing category `code` removes the file.
    bool RemovedWith(int code, const std::wstring& path) const;
    static int GroupOf(int code);

private:
    std::vector<std::wstring> roots_;                       // lower-cased, ending in a backslash
    std::vector<std::pair<int, std::wstring>> registered_;  // ascending code, table order
};

nlohmann::json ExpectedManifest(const SeedPlan& plan, uint64_t seed, int bulkFiles);

}  // namespace seed
