#include "common/FolderWalker.h"

#include <utility>

#include "common/ChildPath.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "platform/Platform.h"

namespace {

using platform::FindData;

// What the handler is given where an entry has no find data.
const FindData kNoEntry{};

// Windows addresses nothing longer through its file functions.
constexpr size_t kLongestPath = 32767;

bool IsDotEntry(const std::wstring& name) { return name == L"." || name == L".."; }

}  // namespace

struct CFolderWalker::Level {
    std::wstring folder;  // ends in a backslash
    std::unique_ptr<platform::IFileSearch> search;
    FindData entry;
    uint32_t depth = 0;
    bool fetchNext = false;  // the first entry comes with the search
};

CFolderWalker::CFolderWalker() = default;
CFolderWalker::~CFolderWalker() = default;

std::wstring CFolderWalker::FolderForm(std::wstring folder) {
    NormalizePath(folder);
    // The C library's tolower in the "C" locale: ASCII letters only.
    for (wchar_t& c : folder) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    AddTrailingBackslash(folder);
    return folder;
}

bool CFolderWalker::AddStartFolder(const std::wstring& folder) {
    if (!FileExists(folder)) return false;
    const std::wstring added = FolderForm(folder);
    for (const std::wstring& stored : startFolders_) {
        if (added.find(stored) != std::wstring::npos) return true;  // already walked with `stored`
    }
    for (auto it = startFolders_.begin(); it != startFolders_.end();) {
        it = it->find(added) != std::wstring::npos ? startFolders_.erase(it) : std::next(it);
    }
    startFolders_.insert(added);
    return true;
}

bool CFolderWalker::AddStartFolders(const std::vector<std::wstring>& folders) {
    for (const std::wstring& folder : folders) AddStartFolder(folder);
    return true;
}

void CFolderWalker::ClearStartFolders() { startFolders_.clear(); }

bool CFolderWalker::AddExcludedFolder(const std::wstring& folder) {
    if (!FileExists(folder)) return false;
    excludedFolders_.insert(FolderForm(folder));
    return true;
}

void CFolderWalker::SetHandler(FolderWalkHandler handler, void* context, bool* cancel) {
    handler_ = handler;
    context_ = context;
    cancel_ = cancel;
}

bool CFolderWalker::Cancelled() const { return IsCancelSet(cancel_); }

bool CFolderWalker::Notify(const std::wstring& path, const FindData& entry, uint32_t code) {
    if (code == kWalkCancelled) cancelReported_ = true;
    return handler_ == nullptr || handler_(context_, path, &entry, code, folderCount_);
}

void CFolderWalker::Run() {
    cancelReported_ = false;
    // A copy: the handler may change the start folders of a later run.
    const std::set<std::wstring> starts = startFolders_;
    for (const std::wstring& start : starts) {
        if (Cancelled()) {
            Notify(start, kNoEntry, kWalkCancelled);
            return;
        }
        if (!FileExists(start)) continue;
        Walk(start);
        Notify(start, kNoEntry, kWalkStartFolderDone);
    }
    // A run whose cancel came too late to be met between entries did not
    // finish normally either; it still says so once.
    if (Cancelled()) {
        if (!cancelReported_) Notify(std::wstring(), kNoEntry, kWalkCancelled);
        return;
    }
    Notify(std::wstring(), kNoEntry, kWalkFinished);
}

bool CFolderWalker::Open(std::wstring folder, uint32_t depth) {
    if (folder.back() != L'\\') folder.push_back(L'\\');
    Level level;
    // The folder already ends in a backslash; a doubled one would not be
    // folded in the "\\?\" form.
    auto search = platform::Os().Files().FindFirst(folder + L"*.*", level.entry);
    if (!search) return false;  // gone or unreadable: the walk goes on without it
    level.search = search.Take();
    level.folder = std::move(folder);
    level.depth = depth;
    levels_.push_back(std::move(level));
    return true;
}

void CFolderWalker::Walk(const std::wstring& startFolder) {
    levels_.clear();
    if (!Open(startFolder, 0)) return;
    while (!levels_.empty()) {
        Level& level = levels_.back();
        if (level.fetchNext && !level.search->Next(level.entry)) {
            levels_.pop_back();
            continue;
        }
        level.fetchNext = true;
        if (Cancelled()) {
            // The level above meets the flag at its next entry and ends too.
            Notify(level.folder, level.entry, kWalkCancelled);
            levels_.pop_back();
            continue;
        }
        const FindData& entry = level.entry;
        if (IsDotEntry(entry.name)) continue;
        if (!entry.IsDirectory()) {
            ++fileCount_;
            Notify(level.folder, entry, level.depth);
            continue;
        }
        ++folderCount_;
        std::wstring child = ChildPath(level.folder, entry.name);
        if (child.empty()) continue;  // no path reaches it by its own name
        child.push_back(L'\\');
        if (!excludedFolders_.empty() && excludedFolders_.count(FolderForm(child)) != 0) continue;
        if (!Notify(level.folder, entry, level.depth)) continue;
        // A link is reported but never followed: it may lead back up the tree.
        if (entry.IsReparsePoint() || child.size() >= kLongestPath) continue;
        Open(std::move(child), level.depth + 1);  // invalidates `level`
    }
}
