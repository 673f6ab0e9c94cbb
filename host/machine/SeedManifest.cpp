#include "host/machine/SeedManifest.h"

#include <map>

#include "base/Text.h"
#include "host/HostText.h"

namespace seed {

namespace {

constexpr int kBackupCategory = 12;
constexpr int kJunkCategory = 19;

using base::AsciiLower;

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

struct Totals {
    int64_t count = 0;
    int64_t size = 0;
};

}  // namespace

ScanRule::ScanRule(const SeedFolders& f) {
    for (const std::wstring& root : {f.appData + L"\\Apple Computer", f.localAppData + L"\\Apple",
                                     f.localAppData + L"\\Apple Computer", f.programData + L"\\Apple",
                                     f.programData + L"\\Apple Computer", f.myMusic + L"\\iTunes"}) {
        roots_.push_back(AsciiLower(root) + L"\\");
    }
    const std::wstring media = f.myMusic + L"\\iTunes\\iTunes Media\\";
    const std::wstring roaming = f.appData + L"\\Apple Computer\\";
    const std::vector<std::pair<int, std::wstring>> table{
        {1, media + L"Music"}, {1, media + L"Apple Music"}, {2, media + L"Movies"}, {3, media + L"Home Videos"},
        {4, media + L"TV Shows"}, {5, media + L"Podcasts"}, {6, media + L"Audiobooks"}, {7, media + L"iTunes U"},
        {8, media + L"Voice Memos"}, {9, media + L"Books"}, {10, media + L"Tones"}, {11, media + L"Downloads"},
        {13, f.localAppData + L"\\Apple\\Apple Software Update"},
        {14, roaming + L"iTunes\\iPhone Software Updates"}, {14, roaming + L"iTunes\\iPad Software Updates"},
        {14, roaming + L"iTunes\\iPod Software Updates"}, {14, f.programData + L"\\Apple Computer\\iTunes"},
        {15, media + L"Mobile Applications"},
        {16, f.programData + L"\\Apple\\Installer Cache"}, {16, f.programData + L"\\Apple Computer\\Installer Cache"},
        {16, f.myMusic + L"\\iTunes\\Album Artwork\\Cache"},
        {17, roaming + L"iTunes\\Cookies"},
        {18, roaming + L"Logs"}, {18, roaming + L"iTunes\\iPhone Updater Logs"},
        {18, roaming + L"iTunes\\iPad Updater Logs"}, {18, roaming + L"iTunes\\iPod Updater Logs"},
        {20, f.myMusic + L"\\iTunes"}, {20, f.programData + L"\\Apple\\Lockdown"},
    };
    for (const auto& [code, folder] : table) registered_.emplace_back(code, AsciiLower(folder) + L"\\");
}

int ScanRule::Classify(const std::wstring& folder) const {
    const std::wstring path = AsciiLower(folder) + L"\\";
    for (const auto& [code, registered] : registered_) {
        if (path.find(registered) != std::wstring::npos) return code;
    }
    return kJunkCategory;
}

bool ScanRule::BelowRoots(const std::wstring& path) const {
    const std::wstring lower = AsciiLower(path);
    for (const std::wstring& root : roots_) {
        if (lower.compare(0, root.size(), root) == 0) return true;
    }
    return false;
}

bool ScanRule::RemovedWith(int code, const std::wstring& path) const {
    // Deletion removes the registered folders as trees: what lies below them.
    const std::wstring lower = AsciiLower(path);
    for (const auto& [registeredCode, registered] : registered_) {
        if (registeredCode == code && lower.compare(0, registered.size(), registered) == 0) return true;
    }
    return false;
}

int ScanRule::GroupOf(int code) {
    if (code <= 11) return 1;
    if (code == kBackupCategory) return 2;
    if (code <= 14) return 3;
    if (code <= 19) return 4;
    return 5;
}

namespace {

nlohmann::json BackupList(const SeedPlan& plan) {
    nlohmann::json backups = nlohmann::json::array();
    for (const PlannedBackup& backup : plan.backups) {
        backups.push_back({{"path", ToUtf8(backup.folder)},
                           {"device_name", backup.deviceName},
                           {"version", backup.version},
                           {"device_id", backup.deviceId},
                           {"date_unix", backup.dateUnix},
                           {"size", backup.size},
                           {"form", backup.binary ? "binary" : "xml"},
                           {"found_by", backup.deep ? "deep" : "quick"}});
    }
    return backups;
}

nlohmann::json LibraryEntries(const SeedPlan& plan, const ScanRule& rule) {
    nlohmann::json entries = nlohmann::json::array();
    for (const LibraryEntry& entry : plan.library) {
        // Remote entries are never touched; a local one stays while its
        // file is there after the music folders are gone.
        const bool remains = entry.remote || (entry.written && !rule.RemovedWith(1, entry.path));
        entries.push_back({{"location", entry.location},
                           {"path", entry.remote ? nlohmann::json() : nlohmann::json(ToUtf8(entry.path))},
                           {"remote", entry.remote},
                           {"exists", entry.written},
                           {"remains_after_music_delete", remains}});
    }
    return entries;
}

// The category list, and the group totals it adds up to.
nlohmann::json CategoryList(const std::map<int, Totals>& categories, std::map<int, Totals>& groups) {
    nlohmann::json categoryList = nlohmann::json::array();
    for (const auto& [code, totals] : categories) {
        Totals& group = groups[ScanRule::GroupOf(code)];
        group.count += totals.count;
        group.size += totals.size;
        categoryList.push_back({{"code", code}, {"group", ScanRule::GroupOf(code)}, {"count", totals.count},
                                {"size", totals.size}});
    }
    return categoryList;
}

}  // namespace

nlohmann::json ExpectedManifest(const SeedPlan& plan, uint64_t seed, int bulkFiles) {
    const ScanRule rule(plan.folders);
    std::map<int, Totals> categories;
    for (int code = 1; code <= 20; ++code) categories[code];
    nlohmann::json junk = nlohmann::json::array();
    Totals written;
    for (const PlannedFile& file : plan.files) {
        ++written.count;
        written.size += static_cast<int64_t>(file.size);
        // A recognised backup is never entered: its files count only as
        // the backup's size.
        if (file.inBackup || !rule.BelowRoots(file.path)) continue;
        const int code = rule.Classify(FolderOf(file.path));
        ++categories[code].count;
        categories[code].size += static_cast<int64_t>(file.size);
        if (code == kJunkCategory) junk.push_back(ToUtf8(file.path));
    }
    int64_t deepBackupBytes = 0;
    for (const PlannedBackup& backup : plan.backups) {
        if (backup.deep) deepBackupBytes += static_cast<int64_t>(backup.size);
        else categories[kBackupCategory].size += static_cast<int64_t>(backup.size);
    }
    std::map<int, Totals> groups;
    const nlohmann::json categoryList = CategoryList(categories, groups);
    nlohmann::json groupList = nlohmann::json::array();
    for (const auto& [code, totals] : groups) {
        groupList.push_back({{"code", code}, {"count", totals.count}, {"size", totals.size}});
    }
    const int64_t quickBackupBytes = categories[kBackupCategory].size;
    return {{"seed", seed},
            {"bulk_files", bulkFiles},
            {"written", {{"files", written.count}, {"bytes", written.size}}},
            {"folders",
             {{"my_music", ToUtf8(plan.folders.myMusic)},
              {"app_data", ToUtf8(plan.folders.appData)},
              {"local_app_data", ToUtf8(plan.folders.localAppData)},
              {"program_data", ToUtf8(plan.folders.programData)}}},
            {"categories", categoryList},
            {"groups", groupList},
            {"deep_scan",
             {{"category_12_size", quickBackupBytes + deepBackupBytes},
              {"group_2_size", groups[2].size + deepBackupBytes}}},
            {"backups", BackupList(plan)},
            {"junk_files", junk},
            {"library", {{"path", ToUtf8(plan.libraryFile)}, {"entries", LibraryEntries(plan, rule)}}}};
}

}  // namespace seed
