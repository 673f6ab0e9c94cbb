// Walks a tree with CFolderWalker on the real Win32 back end and prints what
// the handler was given, for the scenario to compare with the host's own
// count of the same tree:
//
//   walk_probe ROOT [--exclude FOLDER] [--cancel-after N]
//
// prints "files N", "folders N", "bytes N" (entries the handler heard),
// "deepest N" (the largest depth code), "longest N" (the longest path of an
// entry, in UTF-16 units), "unreachable N" (entries whose path, folder and
// name as handed over, does not name an existing entry: a name spoiled on
// the way, or a long path cut), "inside-excluded N" (entries heard from
// within an excluded folder), "counters F G" (the walker's own file and
// folder counts) and "end finished|cancelled|cancelled-finished|none" (a
// cancel met inside the last start folder ends the run with its finish
// notice too). With --cancel-after the
// handler sets the cancel flag once it has heard N files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/FolderWalker.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

struct Tally {
    uint64_t files = 0, folders = 0, bytes = 0, unreachable = 0, insideExcluded = 0;
    uint32_t deepest = 0;
    size_t longest = 0;
    std::wstring excluded;  // in the walker's folder form, empty when none
    uint64_t cancelAfter = 0;
    bool cancel = false;
    const char* end = "none";
};

bool Hear(void* context, const std::wstring& dirPath, const platform::FindData* entry, uint32_t code, uint32_t) {
    Tally& tally = *static_cast<Tally*>(context);
    if (code == kWalkCancelled) tally.end = "cancelled";
    if (code == kWalkFinished) tally.end = std::string(tally.end) == "cancelled" ? "cancelled-finished" : "finished";
    if (code >= kWalkStartFolderDone || entry == nullptr) return true;
    const std::wstring path = dirPath + entry->name;
    tally.longest = std::max(tally.longest, path.size());
    tally.deepest = std::max(tally.deepest, code);
    if (platform::Os().Files().GetAttributes(path) == platform::kInvalidFileAttributes) ++tally.unreachable;
    if (!tally.excluded.empty() && CFolderWalker::FolderForm(dirPath).rfind(tally.excluded, 0) == 0) {
        ++tally.insideExcluded;
    }
    if (entry->IsDirectory()) {
        ++tally.folders;
    } else {
        ++tally.files;
        tally.bytes += entry->size;
        if (tally.cancelAfter != 0 && tally.files >= tally.cancelAfter) tally.cancel = true;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: walk_probe ROOT [--exclude FOLDER] [--cancel-after N]\n");
        return 2;
    }
    logging::Setup(L"walk_probe.log", nullptr);
    Tally tally;
    CFolderWalker walker(platform::Os().Files());
    if (!walker.AddStartFolder(AnsiToWide(platform::Os().CodePages(), argv[1]))) {
        std::fprintf(stderr, "no such folder: %s\n", argv[1]);
        return 1;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--exclude") {
            if (!walker.AddExcludedFolder(AnsiToWide(platform::Os().CodePages(), argv[i + 1]))) {
                std::fprintf(stderr, "no such folder to exclude: %s\n", argv[i + 1]);
                return 1;
            }
            tally.excluded = CFolderWalker::FolderForm(AnsiToWide(platform::Os().CodePages(), argv[i + 1]));
        } else if (option == "--cancel-after") {
            tally.cancelAfter = std::strtoull(argv[i + 1], nullptr, 10);
        } else {
            std::fprintf(stderr, "unknown option: %s\n", argv[i]);
            return 2;
        }
    }
    walker.SetHandler(Hear, &tally, &tally.cancel);
    walker.Run();
    std::printf("files %llu\nfolders %llu\nbytes %llu\n", static_cast<unsigned long long>(tally.files),
                static_cast<unsigned long long>(tally.folders), static_cast<unsigned long long>(tally.bytes));
    std::printf("deepest %u\nlongest %zu\nunreachable %llu\ninside-excluded %llu\n", tally.deepest, tally.longest,
                static_cast<unsigned long long>(tally.unreachable),
                static_cast<unsigned long long>(tally.insideExcluded));
    std::printf("counters %u %u\nend %s\n", walker.FileCount(), walker.FolderCount(), tally.end);
    return 0;
}
