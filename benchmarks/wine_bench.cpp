// What the library's file work costs on Windows over the bare Win32 calls
// it cannot avoid, measured in one process on the same data with a warm
// cache (one untimed pass first), best of several rounds. The rounds take
// each measurement in turn, so a slow moment of the machine does not fall
// on one side only. scripts/bench-wine.sh builds this for mingw-x64,
// prepares the data in a private Wine prefix and runs it:
//
//   wine_bench check PACKAGE INSTALL_DIR FILE_COUNT [ROUNDS]
//     the package file check (CMsiDB::Init + CheckItunesProductFile, a new
//     CMsiDB each time, tables read every time) of the installed package,
//     split into its table reading and its per-file probe, against a bare
//     GetFileAttributesExW loop over the paths the check builds, and a bare
//     CreateFileW + GetFileSizeEx loop (with and without the length query),
//     the floor of a check that opens each file. The check must open each
//     file: one that is there but cannot be opened counts as damaged.
//
//   wine_bench scan|deep|delete|peak ...
//     the user-data scan and deletion (WineUserDataBench.h)
//
//   wine_bench walk ROOT [ROUNDS]
//     CFolderWalker over the tree with a handler that counts files and
//     folders and sums sizes, against a bare recursive FindFirstFileExW
//     (basic information, large fetch) / FindNextFileW loop doing the same.
//
// Exits non-zero when the check does not come out clean over FILE_COUNT
// files, when the two walks disagree on the counts, or when a bare loop
// misses a file: a timing of work that went wrong means nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Brisalen/MsiDB.h"
#include "common/FileHelpers.h"
#include "common/FolderWalker.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"
#include "WineBench.h"
#include "WineUserDataBench.h"

namespace {

using winbench::Measure;
using winbench::PrintMeasure;
using winbench::RunRounds;
using winbench::WalkTotals;

constexpr int kProductType = 1;
constexpr int kDefaultRounds = 7;

// ---- file check -----------------------------------------------------------

struct CheckScene {
    std::wstring package;
    std::wstring installDir;
    size_t expected = 0;
    std::vector<std::wstring> paths;  // as the check spells them
};

bool FullCheck(const CheckScene& scene, std::vector<std::wstring>* paths) {
    CMsiDB db(platform::Os(), CCollectDirMgr::Instance());
    if (!db.Init(scene.package)) return false;
    int checked = 0;
    std::vector<std::wstring> bad, missing;
    if (!db.CheckItunesProductFile(kProductType, scene.installDir, checked, bad, missing)) return false;
    if (static_cast<size_t>(checked) != scene.expected || !bad.empty() || !missing.empty()) {
        std::fprintf(stderr, "check: %d checked (expected %zu), %zu bad, %zu missing\n", checked, scene.expected,
                     bad.size(), missing.size());
        if (!bad.empty())
            std::fprintf(stderr, "  first bad: %s\n", WideToNarrow(platform::Os().CodePages(), bad.front()).c_str());
        if (!missing.empty())
            std::fprintf(stderr, "  first missing: %s\n",
                         WideToNarrow(platform::Os().CodePages(), missing.front()).c_str());
        return false;
    }
    if (paths) *paths = std::move(db.m_vecCheckFile);
    return true;
}

// The three tables the check reads, fetched as it fetches them (the same
// fields as text or integer), no file touched.
bool ReadTables(const CheckScene& scene) {
    CMsiDB db(platform::Os(), CCollectDirMgr::Instance());
    if (!db.Init(scene.package)) return false;
    struct Query {
        const wchar_t* sql;
        unsigned textFields;
    };
    static const Query kQueries[] = {
        {L"SELECT Directory, Directory_Parent ,DefaultDir FROM Directory", 3},
        {L"SELECT Component, Directory_ ,KeyPath,Condition FROM Component", 4},
        {L"SELECT File,FileSize,Component_,FileName FROM File", 0},
    };
    size_t fileRows = 0;
    for (const Query& query : kQueries) {
        std::unique_ptr<platform::IMsiView> view;
        if (!db.QuerySql(query.sql, view)) return false;
        while (const auto record = view->Fetch()) {
            if (query.textFields == 0) {
                volatile int size = (*record)->GetInteger(2);
                (void)size;
                volatile size_t length = CMsiDB::GetRecordString(**record, 3).size() +
                                         CMsiDB::GetRecordString(**record, 4).size();
                (void)length;
                ++fileRows;
            } else {
                for (unsigned field = 1; field <= query.textFields; ++field) {
                    volatile size_t length = CMsiDB::GetRecordString(**record, field).size();
                    (void)length;
                }
            }
        }
    }
    return fileRows >= scene.expected;
}

bool ProbeFiles(const CheckScene& scene) {
    for (const std::wstring& path : scene.paths) {
        int64_t size = 0;
        if (!ProbeFileSize(platform::Os().Files(), path, size)) return false;
    }
    return true;
}

bool BareAttributes(const CheckScene& scene) {
    for (const std::wstring& path : scene.paths) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return false;
        }
    }
    return true;
}

// With `sized` false the open alone: the difference is what the length
// query on the handle costs (under Wine, passing the file descriptor).
bool BareOpen(const CheckScene& scene, bool sized) {
    for (const std::wstring& path : scene.paths) {
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        LARGE_INTEGER size{};
        const bool ok = !sized || ::GetFileSizeEx(file, &size) != 0;
        ::CloseHandle(file);
        if (!ok) return false;
    }
    return true;
}

int RunCheckBench(const CheckScene& given, int rounds) {
    CheckScene scene = given;
    if (!FullCheck(scene, &scene.paths)) {
        std::fprintf(stderr, "the installed package does not check clean\n");
        return 1;
    }
    std::vector<Measure> measures = {
        {"full check (CMsiDB::Init + CheckItunesProductFile)", [&] { return FullCheck(scene, nullptr); }},
        {"  of which: reading the three tables", [&] { return ReadTables(scene); }},
        {"  of which: ProbeFileSize on each path", [&] { return ProbeFiles(scene); }},
        {"bare GetFileAttributesExW", [&] { return BareAttributes(scene); }},
        {"bare CreateFileW + GetFileSizeEx + CloseHandle", [&] { return BareOpen(scene, true); }},
        {"bare CreateFileW + CloseHandle", [&] { return BareOpen(scene, false); }},
    };
    if (!RunRounds(measures, rounds)) return 1;
    std::printf("file check: %zu files, best of %d rounds, warm cache\n", scene.paths.size(), rounds);
    for (const Measure& m : measures) PrintMeasure(m, scene.paths.size(), "files");
    const double bare = measures[3].best;
    std::printf("  ratio full check / bare GetFileAttributesExW       = %.2fx\n", measures[0].best / bare);
    std::printf("  ratio ProbeFileSize loop / bare GetFileAttributesExW = %.2fx\n", measures[2].best / bare);
    std::printf("  ratio bare open+size / bare GetFileAttributesExW     = %.2fx\n", measures[4].best / bare);
    std::printf("  ratio full check / bare open+size                    = %.2fx\n", measures[0].best / measures[4].best);
    return 0;
}

// ---- walk ------------------------------------------------------------------

bool CountEntry(void* context, const std::wstring& dirPath, const platform::FindData* entry, uint32_t code,
                uint32_t folderCount) {
    if (code >= kWalkStartFolderDone || entry == nullptr) return true;
    auto& totals = *static_cast<WalkTotals*>(context);
    if (entry->IsDirectory()) {
        ++totals.folders;
    } else {
        ++totals.files;
        totals.bytes += entry->size;
    }
    return true;
}

WalkTotals WalkerWalk(const std::wstring& root) {
    WalkTotals totals;
    CFolderWalker walker(platform::Os().Files());
    walker.AddStartFolder(root);
    walker.SetHandler(CountEntry, &totals, nullptr);
    walker.Run();
    return totals;
}

int RunWalkBench(const std::wstring& root, int rounds) {
    const WalkTotals expected = winbench::BareWalk({root});
    if (expected.files + expected.folders == 0) {
        std::fprintf(stderr, "nothing to walk in %s\n", WideToNarrow(platform::Os().CodePages(), root).c_str());
        return 1;
    }
    const WalkTotals walked = WalkerWalk(root);
    if (!(walked == expected)) {
        std::fprintf(stderr, "the walks disagree: walker %llu files, %llu folders, %llu bytes; bare %llu, %llu, %llu\n",
                     static_cast<unsigned long long>(walked.files), static_cast<unsigned long long>(walked.folders),
                     static_cast<unsigned long long>(walked.bytes), static_cast<unsigned long long>(expected.files),
                     static_cast<unsigned long long>(expected.folders),
                     static_cast<unsigned long long>(expected.bytes));
        return 1;
    }
    std::vector<Measure> measures = {
        {"CFolderWalker, counting handler", [&] { return WalkerWalk(root) == expected; }},
        {"bare FindFirstFileExW/FindNextFileW", [&] { return winbench::BareWalk({root}) == expected; }},
    };
    if (!RunRounds(measures, rounds)) return 1;
    const size_t entries = static_cast<size_t>(expected.files + expected.folders);
    std::printf("walk: %llu files + %llu folders = %zu entries, %llu bytes, best of %d rounds, warm cache\n",
                static_cast<unsigned long long>(expected.files), static_cast<unsigned long long>(expected.folders),
                entries, static_cast<unsigned long long>(expected.bytes), rounds);
    for (const Measure& m : measures) PrintMeasure(m, entries, "entries");
    std::printf("  ratio CFolderWalker / bare loop = %.2fx\n", measures[0].best / measures[1].best);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: wine_bench check PACKAGE INSTALL_DIR FILE_COUNT [ROUNDS]\n"
                 "       wine_bench walk ROOT [ROUNDS]\n"
                 "       wine_bench scan|deep [ROUNDS]\n"
                 "       wine_bench delete LIBRARY_FILE [ROUNDS]\n"
                 "       wine_bench peak quick|deep|music|backup [LIBRARY_FILE]\n");
    return 2;
}

int Rounds(int argc, char** argv, int index) {
    if (argc <= index) return kDefaultRounds;
    const int rounds = std::atoi(argv[index]);
    return rounds > 0 ? rounds : kDefaultRounds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    logging::Setup(L"wine_bench.log", nullptr);
    const std::string command = argv[1];
    if (command == "check" && argc >= 5) {
        CheckScene scene;
        scene.package = AnsiToWide(platform::Os().CodePages(), argv[2]);
        scene.installDir = AnsiToWide(platform::Os().CodePages(), argv[3]);
        scene.expected = static_cast<size_t>(std::strtoul(argv[4], nullptr, 10));
        return RunCheckBench(scene, Rounds(argc, argv, 5));
    }
    if (command == "walk" && argc >= 3)
        return RunWalkBench(AnsiToWide(platform::Os().CodePages(), argv[2]), Rounds(argc, argv, 3));
    if (command == "scan" || command == "deep") return winbench::RunScanBench(command == "deep", Rounds(argc, argv, 2));
    if (command == "delete" && argc >= 3)
        return winbench::RunDeleteBench(AnsiToWide(platform::Os().CodePages(), argv[2]), Rounds(argc, argv, 3));
    if (command == "peak" && argc >= 3)
        return winbench::RunPeak(argv[2], argc >= 4 ? AnsiToWide(platform::Os().CodePages(), argv[3]) : std::wstring());
    return Usage();
}
