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

CFolderWalker::CFolderWalker(platform::IFileSystem& files) : files_(files) {}
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
    if (!FileExists(files_, folder)) return false;
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
    if (!FileExists(files_, folder)) return false;
    excludedFolders_.insert(FolderForm(folder));
    return true;
}

void CFolderWalker::SetHandler(FolderWalkHandler handler, void* context, bool* cancel) {
    handler_ = handler;
    context_ = context;
    cancel_ = cancel;
}

bool CFolderWalker::Cancelled() const { return IsCancelSet(cancel_); }

void CFolderWalker::SetLinkFilter(LinkFilter follows) { followsLink_ = std::move(follows); }

bool CFolderWalker::Notify(const std::wstring& path, const FindData& entry, uint32_t code) {
    return handler_ == nullptr || handler_(context_, path, &entry, code, folderCount_);
}

void CFolderWalker::Run() {
    // A copy: the handler may change the start folders of a later run.
    const std::set<std::wstring> starts = startFolders_;
    for (const std::wstring& start : starts) {
        if (Cancelled()) {
            Notify(start, kNoEntry, kWalkCancelled);
            return;
        }
        if (!FileExists(files_, start)) continue;
        Walk(start);
        Notify(start, kNoEntry, kWalkStartFolderDone);
    }
    // A cancel met inside the last start folder ends its walk, not the run:
    // the run's end is reported as after any other last folder.
    Notify(std::wstring(), kNoEntry, kWalkFinished);
}

bool CFolderWalker::Open(std::wstring folder, uint32_t depth) {
    if (folder.back() != L'\\') folder.push_back(L'\\');
    Level level;
    // The folder already ends in a backslash; a doubled one would not be
    // folded in the "\\?\" form.
    auto search = files_.FindFirst(folder + L"*.*", level.entry);
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
        std::wstring child = ChildPath(files_, level.folder, entry.name);
        if (child.empty()) continue;  // no path reaches it by its own name
        child.push_back(L'\\');
        if (!excludedFolders_.empty() && excludedFolders_.count(FolderForm(child)) != 0) continue;
        if (!Notify(level.folder, entry, level.depth)) continue;
        // A link may lead back up the tree or anywhere on the machine: it is
        // followed only where the filter vouches for it. Other reparse
        // points (cloud placeholders) hold their files where they stand.
        if (child.size() >= kLongestPath) continue;
        if (entry.IsLink() && !(followsLink_ && followsLink_(child))) continue;
        Open(std::move(child), level.depth + 1);  // invalidates `level`
    }
}
