// The folder walker the user-data scan runs over whole trees: a set of start
// folders and a set of excluded folders, walked depth first, every entry
// handed to one handler that decides which folders are entered.
//
// Folders are kept in folder form: normalised, ASCII letters lower-cased,
// ending in a backslash. Start folders never nest, so each tree is walked
// once. A junction or symbolic link to a folder is reported like any
// folder but entered only when the handler wants it and the link filter
// vouches for it (none does by default): a link may lead back up the tree
// or anywhere on the machine. Reparse points that are no links, such as
// cloud placeholder folders, are walked like any folder. Entries whose names Win32
// would rewrite ("...", "name.") are reached by their "\\?\" path, so the
// handler is then given paths in that form.
//
// A walker belongs to one thread; the cancel flag may be set by another.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

// Codes the handler receives besides the depth of an ordinary entry (0 for
// the entries directly in a start folder).
constexpr uint32_t kWalkStartFolderDone = 0x1fffffff;  // a start folder walked, or cut short by the cancel flag
constexpr uint32_t kWalkFinished = 0x20000000;         // the whole run ended normally; path empty
constexpr uint32_t kWalkCancelled = 0x20000001;        // the cancel flag was found set

// (context, folder holding the entry ending in a backslash, the entry or an
// empty FindData, code, folders met so far). For a folder entry, false
// keeps the walk out of it; otherwise the result is ignored.
using FolderWalkHandler = bool (*)(void* context, const std::wstring& dirPath, const platform::FindData* entry,
                                   uint32_t code, uint32_t folderCount);

class CFolderWalker {
public:
    explicit CFolderWalker(platform::IFileSystem& files);
    ~CFolderWalker();
    CFolderWalker(const CFolderWalker&) = delete;
    CFolderWalker& operator=(const CFolderWalker&) = delete;

    // False when the folder does not exist. A folder inside (or equal to) a
    // stored one changes nothing; one that holds stored folders replaces them.
    bool AddStartFolder(const std::wstring& folder);
    // Each in order; always true.
    bool AddStartFolders(const std::vector<std::wstring>& folders);
    // The excluded folders stay.
    void ClearStartFolders();
    // False when the folder does not exist. Only the folder itself is
    // excluded, which suffices: the walk tests each folder before entering.
    bool AddExcludedFolder(const std::wstring& folder);

    // Plain member writes. `cancel` stays owned by the caller and may be null.
    void SetHandler(FolderWalkHandler handler, void* context, bool* cancel);

    // Which links to folders the walk may enter, given the link's path
    // (ending in a backslash) as the walk reached it.
    using LinkFilter = std::function<bool(const std::wstring& link)>;
    void SetLinkFilter(LinkFilter follows);

    // Walks every start folder in ascending order and reports the end of
    // each, then the end of the run (or that it was cancelled).
    void Run();

    // Read ahead: before the handler is told of a folder it may enter, the
    // walk reads up to `entries` entries of that folder (0, the default:
    // none), which it then delivers from memory. The handler can then ask
    // AheadHas whether the folder holds a name without a query of its own,
    // which costs a whole folder listing where names are case-insensitive
    // above a file system that is not (Wine, the simulated machine). Links
    // and other reparse points are never read ahead: a cloud placeholder
    // may fetch its listing from the network.
    void SetReadAhead(size_t entries) { readAhead_ = entries; }
    enum class Presence { Unknown, Present, Absent };
    // During the handler's call for a folder entry: whether that folder
    // holds an entry named `name` (ASCII, compared ignoring ASCII case).
    // Unknown when the folder was not read ahead whole, or when a name of
    // the same length holds other characters, which Windows may fold
    // onto ASCII ones.
    Presence AheadHas(const std::wstring& name) const;

    const std::set<std::wstring>& StartFolders() const { return startFolders_; }
    const std::set<std::wstring>& ExcludedFolders() const { return excludedFolders_; }
    // Counted since construction, across runs.
    uint32_t FileCount() const { return fileCount_; }
    uint32_t FolderCount() const { return folderCount_; }

    // Normalised, ASCII letters lower-cased, with a trailing backslash.
    static std::wstring FolderForm(std::wstring folder);

private:
    struct Level;

    void Walk(const std::wstring& startFolder);
    bool Open(std::wstring folder, uint32_t depth);
    bool OpenLevel(std::wstring folder, uint32_t depth, size_t readAhead, Level& level);
    static bool NextEntry(Level& level);
    bool Notify(const std::wstring& path, const platform::FindData& entry, uint32_t code);
    bool Cancelled() const;

    platform::IFileSystem& files_;
    std::set<std::wstring> startFolders_;
    std::set<std::wstring> excludedFolders_;
    FolderWalkHandler handler_ = nullptr;
    void* context_ = nullptr;
    bool* cancel_ = nullptr;
    uint32_t fileCount_ = 0;
    uint32_t folderCount_ = 0;

    // The open searches of the walk in progress, outermost first. Kept on
    // the heap so a deep tree cannot exhaust the thread's stack.
    std::vector<Level> levels_;
    LinkFilter followsLink_;
    size_t readAhead_ = 0;
    // The folder read ahead for the handler's current call, or null.
    const Level* ahead_ = nullptr;
};
