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

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

struct CFolderWalker::Level {
    std::wstring folder;  // ends in a backslash
    std::unique_ptr<platform::IFileSearch> search;  // null once read to its end
    FindData entry;
    uint32_t depth = 0;
    bool fetchNext = false;  // the first entry comes with the search
    // Entries read ahead, delivered before the search goes on.
    std::vector<FindData> readAhead;
    size_t nextReadAhead = 0;
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

bool CFolderWalker::OpenLevel(std::wstring folder, uint32_t depth, size_t readAhead, Level& level) {
    if (folder.back() != L'\\') folder.push_back(L'\\');
    // The folder already ends in a backslash; a doubled one would not be
    // folded in the "\\?\" form.
    auto search = files_.FindFirst(folder + L"*.*", level.entry);
    if (!search) return false;  // gone or unreadable: the walk goes on without it
    level.search = search.Take();
    level.folder = std::move(folder);
    level.depth = depth;
    if (readAhead == 0) return true;
    level.readAhead.push_back(std::move(level.entry));
    while (level.readAhead.size() < readAhead) {
        FindData next;
        if (!level.search->Next(next)) {
            level.search.reset();
            break;
        }
        level.readAhead.push_back(std::move(next));
    }
    level.fetchNext = true;
    return true;
}

bool CFolderWalker::Open(std::wstring folder, uint32_t depth) {
    Level level;
    if (!OpenLevel(std::move(folder), depth, 0, level)) return false;
    levels_.push_back(std::move(level));
    return true;
}

bool CFolderWalker::NextEntry(Level& level) {
    if (level.nextReadAhead < level.readAhead.size()) {
        level.entry = std::move(level.readAhead[level.nextReadAhead++]);
        if (level.nextReadAhead == level.readAhead.size()) std::vector<FindData>().swap(level.readAhead);
        return true;
    }
    if (!level.search) return false;
    if (!level.fetchNext) {
        level.fetchNext = true;
        return true;
    }
    return level.search->Next(level.entry);
}

CFolderWalker::Presence CFolderWalker::AheadHas(const std::wstring& name) const {
    if (ahead_ == nullptr || ahead_->search) return Presence::Unknown;
    Presence presence = Presence::Absent;
    for (const FindData& entry : ahead_->readAhead) {
        // Windows folds each UTF-16 unit on its own, so only a name of the
        // same length can equal `name`.
        if (entry.name.size() != name.size()) continue;
        bool equal = true;
        for (size_t i = 0; i < name.size() && equal; ++i) {
            const wchar_t c = entry.name[i];
            // Some letters beyond ASCII fold onto ASCII ones (U+0131,
            // dotless i, upper-cases to I): only Windows can tell.
            if (c >= 0x80) return Presence::Unknown;
            equal = FoldAscii(c) == FoldAscii(name[i]);
        }
        if (equal) presence = Presence::Present;
    }
    return presence;
}

void CFolderWalker::Walk(const std::wstring& startFolder) {
    levels_.clear();
    if (!Open(startFolder, 0)) return;
    while (!levels_.empty()) {
        Level& level = levels_.back();
        if (!NextEntry(level)) {
            levels_.pop_back();
            continue;
        }
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
        // A link may lead back up the tree or anywhere on the machine: it is
        // followed only where the filter vouches for it. Other reparse
        // points (cloud placeholders) hold their files where they stand.
        const bool reachable = child.size() < kLongestPath;
        Level ahead;
        const bool readAhead = readAhead_ > 0 && reachable && !entry.IsReparsePoint() &&
                               OpenLevel(child, level.depth + 1, readAhead_, ahead);
        ahead_ = readAhead ? &ahead : nullptr;
        const bool enter = Notify(level.folder, entry, level.depth);
        ahead_ = nullptr;
        if (!enter || !reachable) continue;
        if (entry.IsLink() && !(followsLink_ && followsLink_(child))) continue;
        // Both invalidate `level`.
        if (readAhead) {
            levels_.push_back(std::move(ahead));
        } else {
            Open(std::move(child), level.depth + 1);
        }
    }
}
