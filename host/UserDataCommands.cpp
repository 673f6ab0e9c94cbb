#include "host/UserDataCommands.h"

#include <condition_variable>
#include <csignal>
#include <iomanip>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "host/BackupCommands.h"
#include "host/HostText.h"
#include "host/PreviewCommands.h"
#include "host/ProgressLine.h"
#include "host/StartWhenFree.h"

namespace {

// Ctrl-C sets the running task's cancel flag. A bool because that is what
// the library's interface takes.
bool g_cancelRequested = false;
void OnInterrupt(int) { g_cancelRequested = true; }

// Installed once the library has cleared the flag at the task's start.
class InterruptAsCancel {
public:
    InterruptAsCancel() { std::signal(SIGINT, OnInterrupt); }
    ~InterruptAsCancel() { std::signal(SIGINT, SIG_DFL); }
};

struct CategoryName {
    int32_t code;
    const char* name;
};

// The host's own names for what the library counts.
const CategoryName kCategories[] = {
    {1, "Music"},          {2, "Movies"},        {3, "Home videos"},    {4, "TV shows"},    {5, "Podcasts"},
    {6, "Audiobooks"},     {7, "iTunes U"},      {8, "Voice memos"},    {9, "Books"},       {10, "Tones"},
    {11, "Downloads"},     {12, "iOS backups"},  {13, "iTunes updates"}, {14, "iOS firmware"}, {15, "Mobile apps"},
    {16, "Caches"},        {17, "Cookies"},      {18, "Logs"},          {19, "Other junk files"},
    {20, "Library files (never deleted)"},
};
const char* const kGroupNames[] = {"", "Media", "Backups", "Updates", "Junk", "Library"};

std::string CategoryText(int32_t code) {
    for (const CategoryName& category : kCategories) {
        if (category.code == code) return category.name;
    }
    return "category " + std::to_string(code);
}

std::string GroupText(int32_t group) { return group >= 1 && group <= 5 ? kGroupNames[group] : "?"; }

// What both sessions share: reports arrive on the library's worker thread
// under one lock, a progress line shows them, and the command thread waits
// for the final one.
class TaskSession {
public:
    void WaitForEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [this] { return done_; });
        progress_.Finish();
    }

protected:
    // Called with mutex_ held.
    void SignalEnd() {
        done_ = true;
        ended_.notify_all();
    }

    std::mutex mutex_;
    ProgressLine progress_;

private:
    std::condition_variable ended_;
    bool done_ = false;
};

struct Totals {
    int32_t group = 0;
    int64_t size = 0;
    int32_t count = 0;
};

// What one scan reported, gathered on the library's worker thread.
class ScanSession : public TaskSession {
public:
    static bool OnEnum(void* user, int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO* info) {
        static_cast<ScanSession*>(user)->Take(state, *info);
        return true;
    }

    std::map<int32_t, Totals> categories;
    std::vector<ST_ITUNES_USER_DATA_ITEM> backups;
    int32_t folders = 0;
    bool deepPass = false;

private:
    void Take(int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO& info) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (info.pProgress != nullptr) folders = info.pProgress->nScannedDir;
        if (state == kEnumItunesUserDataState_DeepScan_Begin) deepPass = true;
        if (state == kEnumItunesUserDataState_Enum_Progress) {
            categories[info.nCategory] = Totals{info.nGroup, info.nCategorySize, info.nCategoryCount};
            if (info.item.bValid) backups.push_back(info.item);
            std::ostringstream line;
            line << "scan: " << folders;
            if (deepPass && info.pProgress != nullptr) line << "/" << info.pProgress->nTotalDir;
            line << " folders | " << CategoryText(info.nCategory) << " | " << backups.size() << " backups";
            progress_.Update(line.str());
        }
        if (state == kEnumItunesUserDataState_Enum_End) SignalEnd();
    }
};

// Runs one scan to its end; false (after saying why) when it cannot start.
// `followsOwnScan` when this process's previous scan has just reported its
// end: its slot may not be free yet.
bool RunScanTask(IItunesUserDataMgr& manager, bool deep, ScanSession& session, bool followsOwnScan = false) {
    const auto start = [&] { return manager.EnumItunesUserData(&ScanSession::OnEnum, &session, deep, &g_cancelRequested); };
    if (!(followsOwnScan ? StartWhenFree(start) : start())) {
        std::cerr << "brisalen: the scan could not start: another scan is running (see the library log)\n";
        return false;
    }
    InterruptAsCancel interrupt;
    session.WaitForEnd();
    return true;
}

nlohmann::json ScanJson(const ScanSession& session, bool deep) {
    nlohmann::json groups = nlohmann::json::array();
    std::map<int32_t, nlohmann::json> byGroup;
    for (const auto& [code, totals] : session.categories) {
        nlohmann::json& group = byGroup[totals.group];
        if (group.is_null()) {
            group = {{"group", totals.group}, {"name", GroupText(totals.group)}, {"files", 0}, {"bytes", 0},
                     {"categories", nlohmann::json::array()}};
        }
        group["files"] = group["files"].get<int64_t>() + totals.count;
        group["bytes"] = group["bytes"].get<int64_t>() + totals.size;
        group["categories"].push_back(
            {{"category", code}, {"name", CategoryText(code)}, {"files", totals.count}, {"bytes", totals.size}});
    }
    for (auto& [code, group] : byGroup) groups.push_back(std::move(group));
    nlohmann::json backups = nlohmann::json::array();
    for (const ST_ITUNES_USER_DATA_ITEM& backup : session.backups) {
        nlohmann::json entry = DescribeBackup(backup);
        entry["id"] = backup.nId;
        backups.push_back(std::move(entry));
    }
    return {{"deep", deep}, {"cancelled", g_cancelRequested}, {"folders", session.folders},
            {"groups", groups}, {"backups", backups}};
}

void PrintScanTable(const nlohmann::json& scan) {
    int64_t files = 0;
    int64_t bytes = 0;
    for (const auto& group : scan["groups"]) {
        std::cout << std::left << std::setw(36) << group["name"].get<std::string>() << std::right << std::setw(9)
                  << group["files"].get<int64_t>() << std::setw(12) << ByteText(group["bytes"].get<int64_t>()) << "\n";
        for (const auto& category : group["categories"]) {
            std::cout << std::right << std::setw(4) << category["category"].get<int>() << " " << std::left
                      << std::setw(31) << category["name"].get<std::string>() << std::right << std::setw(9)
                      << category["files"].get<int64_t>() << std::setw(12)
                      << ByteText(category["bytes"].get<int64_t>()) << "\n";
        }
        files += group["files"].get<int64_t>();
        bytes += group["bytes"].get<int64_t>();
    }
    for (const auto& backup : scan["backups"]) {
        std::cout << "backup " << backup["id"].get<int>() << ": " << backup["device_name"].get<std::string>() << ", iOS "
                  << backup["ios_version"].get<std::string>() << ", " << backup["date"].get<std::string>() << ", "
                  << ByteText(backup["size"].get<int64_t>()) << "\n    " << backup["path"].get<std::string>() << "\n";
    }
    std::cout << "total: " << files << " files, " << ByteText(bytes) << " in " << scan["folders"].get<int>()
              << " folders" << (scan["cancelled"].get<bool>() ? " (cancelled)" : "") << "\n";
}

int RunScan(HostContext& host, bool deep) {
    IItunesUserDataMgr* manager = host.UserDataManager();
    if (manager == nullptr) return 2;
    ScanSession session;
    if (!RunScanTask(*manager, deep, session)) return 2;
    const nlohmann::json scan = ScanJson(session, deep);
    if (host.json) host.Print({{"scan", scan}});
    else PrintScanTable(scan);
    return g_cancelRequested ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Deletion

// The ids of the named backups; the paths not found stay in `missing`.
std::vector<int32_t> BackupIds(const ScanSession& session, const std::vector<std::string>& paths,
                               std::vector<std::string>& missing) {
    std::vector<int32_t> ids;
    missing.clear();
    for (const std::string& path : paths) {
        const std::wstring wanted = ResolvedPath(FromUtf8(path));
        bool found = false;
        for (const ST_ITUNES_USER_DATA_ITEM& backup : session.backups) {
            if (wanted.empty() || ResolvedPath(backup.strPath) != wanted) continue;
            ids.push_back(backup.nId);
            found = true;
            break;
        }
        if (!found) missing.push_back(path);
    }
    return ids;
}

class DeleteSession : public TaskSession {
public:
    static bool OnDelete(void* user, int32_t state, const ST_ITUNES_DELETE_INFO* info) {
        static_cast<DeleteSession*>(user)->Take(state, *info);
        return true;
    }

    // The final record; call after WaitForEnd.
    const ST_ITUNES_DELETE_INFO& Final() const { return final_; }

private:
    void Take(int32_t state, const ST_ITUNES_DELETE_INFO& info) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state == kDeleteItunesUserDataState_DeleteComplete) {
            final_ = info;
            SignalEnd();
            return;
        }
        constexpr int kWidth = 30;
        const int filled = info.nTotalSize > 0 ? static_cast<int>(kWidth * info.nDeletedSize / info.nTotalSize) : 0;
        const int bar = filled < 0 ? 0 : (filled > kWidth ? kWidth : filled);
        std::ostringstream line;
        line << "delete: [" << std::string(static_cast<size_t>(bar), '#') << std::string(static_cast<size_t>(kWidth - bar), '-')
             << "] " << ByteText(info.nDeletedSize) << " of " << ByteText(info.nTotalSize);
        progress_.Update(line.str());
    }

    ST_ITUNES_DELETE_INFO final_;
};

struct DeleteRequest {
    std::vector<int32_t> categories;
    std::vector<std::string> backups;
    bool deep = false;
    bool dryRun = false;
};

// The deletion works on the last scan's tables, so the command scans first
// in the same process; a named backup the quick pass did not find is looked
// for by a deep pass before the command gives up on it.
int RunDelete(HostContext& host, DeleteRequest request) {
    if (request.categories.empty() && request.backups.empty()) {
        std::cerr << "brisalen delete: name at least one --category or --backup\n";
        return 2;
    }
    IItunesUserDataMgr* manager = host.UserDataManager();
    if (manager == nullptr) return 2;
    ScanSession quick;
    if (!RunScanTask(*manager, request.deep, quick)) return 2;
    std::vector<std::string> missing;
    std::vector<int32_t> ids = BackupIds(quick, request.backups, missing);
    ScanSession deep;
    if (!missing.empty() && !request.deep && !g_cancelRequested) {
        if (!RunScanTask(*manager, true, deep, true)) return 2;
        ids = BackupIds(deep, request.backups, missing);
    }
    if (g_cancelRequested) {
        std::cerr << "brisalen delete: cancelled during the scan; nothing was deleted\n";
        return 1;
    }
    if (!missing.empty()) {
        for (const std::string& path : missing) std::cerr << "brisalen delete: no backup found at " << path << "\n";
        return 2;
    }
    if (request.dryRun) return PrintDeletionPreview(host, request.categories, ids);

    DeleteSession session;
    if (!manager->DeleteItuensUserData(&DeleteSession::OnDelete, &session, request.categories, ids,
                                       &g_cancelRequested)) {
        std::cerr << "brisalen: the deletion could not start: another deletion is running (see the library log)\n";
        return 2;
    }
    {
        InterruptAsCancel interrupt;
        session.WaitForEnd();
    }
    const ST_ITUNES_DELETE_INFO& result = session.Final();
    nlohmann::json residual = nlohmann::json::array();
    for (const std::wstring& path : result.vecResidual) residual.push_back(ToUtf8(path));
    const nlohmann::json report{{"categories", request.categories}, {"backups", request.backups},
                                {"deleted_bytes", result.nDeletedSize}, {"total_bytes", result.nTotalSize},
                                {"success", result.bSuccess},       {"cancelled", result.nResult == -1},
                                {"result", result.nResult},         {"residual", residual}};
    if (host.json) {
        host.Print({{"delete", report}});
    } else {
        // What is left is said with the verdict: a folder the library would
        // not or could not enter is named with its trailing backslash.
        std::cout << "deleted " << ByteText(result.nDeletedSize) << " of " << ByteText(result.nTotalSize)
                  << (result.nResult == -1 ? " (cancelled)" : "") << ": " << (result.bSuccess ? "success" : "failed");
        if (!result.vecResidual.empty()) std::cout << ", " << result.vecResidual.size() << " left (see the library log)";
        std::cout << "\n";
        for (const std::wstring& path : result.vecResidual) std::cout << "    left: " << ToUtf8(path) << "\n";
    }
    return result.bSuccess ? 0 : 1;
}

}  // namespace

int RunScanOnly(HostContext& host, bool deep) {
    std::vector<ST_ITUNES_USER_DATA_ITEM> backups;
    return ScanForBackups(host, deep, backups);
}

int ScanForBackups(HostContext& host, bool deep, std::vector<ST_ITUNES_USER_DATA_ITEM>& backups) {
    IItunesUserDataMgr* manager = host.UserDataManager();
    if (manager == nullptr) return 2;
    ScanSession session;
    if (!RunScanTask(*manager, deep, session)) return 2;
    backups = std::move(session.backups);
    return g_cancelRequested ? 1 : 0;
}

void AddUserDataCommands(CLI::App& app, HostAction& action) {
    static bool deepScan = false;
    deepScan = false;
    CLI::App* scan = app.add_subcommand(
        "scan", "count the iTunes user data by category and find iOS backups (Ctrl-C stops the scan)");
    scan->add_flag("--deep", deepScan, "also search every fixed drive for backups");
    scan->callback([&action] { action = [](HostContext& host) { return RunScan(host, deepScan); }; });

    static DeleteRequest request;
    request = {};
    CLI::App* remove = app.add_subcommand(
        "delete", "scan, then delete the chosen categories and backups (Ctrl-C stops the deletion)");
    remove->add_option("--category", request.categories, "a category code to delete (1-20; 20 is never deleted)")
        ->check(CLI::Range(1, 20));
    remove->add_option("--backup", request.backups, "the folder of an iOS backup to delete, spelled as Windows resolves it");
    remove->add_flag("--deep", request.deep, "scan every fixed drive first");
    remove->add_flag("--dry-run", request.dryRun, "scan, then show what would go, change nothing");
    remove->callback([&action] { action = [](HostContext& host) { return RunDelete(host, request); }; });
}
