#include "common/FileHelpers.h"

#include <cstdlib>
#include <limits>
#include <memory>
#include <set>
#include <utility>

#include "common/ChildPath.h"
#include "common/DeletionGuard.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

using platform::FindData;

bool IsDotEntry(const std::wstring& name) { return name == L"." || name == L".."; }

// Windows addresses nothing longer through its file functions.
constexpr size_t kLongestPath = 32767;

// What a tree walk asks about the entries it meets.
class WalkVisitor {
public:
    virtual ~WalkVisitor() = default;
    // Asked before each entry; true ends the current folder's loop.
    virtual bool Stop() { return false; }
    // An entry other than "." and ".."; true walks into it next.
    virtual bool Visit(const std::wstring& path, const FindData& entry) = 0;
    // A folder whose loop has ended, its search already closed.
    virtual void Leave(const std::wstring& folder) {}
};

// Depth-first walk keeping one open search per level on the heap, so a
// deep tree (long paths are allowed) cannot exhaust the thread's stack.
class TreeWalk {
public:
    TreeWalk(platform::IFileSystem& files, WalkVisitor& visitor) : files_(files), visitor_(visitor) {}

    // `folder` without a trailing backslash. False when it cannot be
    // searched; the visitor then hears nothing about it.
    bool Run(const std::wstring& folder) {
        if (!Open(folder)) return false;
        while (!levels_.empty()) {
            Level& level = levels_.back();
            if (level.fetchNext) level.hasEntry = level.search->Next(level.entry);
            level.fetchNext = true;
            if (!level.hasEntry || visitor_.Stop()) {
                const std::wstring done = std::move(level.folder);
                levels_.pop_back();  // closes the search before the visitor removes the folder
                visitor_.Leave(done);
                continue;
            }
            if (IsDotEntry(level.entry.name)) continue;
            std::wstring child = ChildPath(files_, level.folder, level.entry.name);
            if (child.empty()) continue;
            if (visitor_.Visit(child, level.entry) && child.size() < kLongestPath) Open(child);  // invalidates `level`
        }
        return true;
    }

private:
    struct Level {
        std::wstring folder;
        std::unique_ptr<platform::IFileSearch> search;
        FindData entry;
        bool hasEntry = true;
        bool fetchNext = false;  // the first entry comes with the search
    };

    bool Open(const std::wstring& folder) {
        Level level;
        auto search = files_.FindFirst(folder + L"\\*.*", level.entry);
        if (!search) return false;
        level.search = search.Take();
        level.folder = folder;
        levels_.push_back(std::move(level));
        return true;
    }

    platform::IFileSystem& files_;
    WalkVisitor& visitor_;
    std::vector<Level> levels_;
};

class Deletion : public WalkVisitor {
public:
    using Entered = std::function<void(const std::wstring&)>;
    Deletion(platform::IFileSystem& files, const std::function<bool()>& cancelled, const Entered& entered,
             const FileTried& fileTried, const SpareFolder& spare)
        : cancelled_(cancelled), entered_(entered), fileTried_(fileTried), spare_(spare), files_(files) {}

    bool Stop() override { return cancelled_ && cancelled_(); }

    bool Visit(const std::wstring& path, const FindData& entry) override {
        if (!entry.IsDirectory()) {
            const bool deleted = files_.DeleteFile(path) == platform::kErrSuccess;
            if (fileTried_) fileTried_(entry, deleted);
            return false;
        }
        if (spare_ && spare_(path)) return false;
        if (entry.IsLink()) {
            files_.RemoveDirectory(path);
            return false;
        }
        Enter(path);
        return true;
    }

    void Enter(const std::wstring& folder) {
        if (entered_) entered_(folder);
    }

    void Leave(const std::wstring& folder) override { files_.RemoveDirectory(folder + L"\\"); }

private:
    const std::function<bool()>& cancelled_;
    const Entered& entered_;
    const FileTried& fileTried_;
    const SpareFolder& spare_;
    platform::IFileSystem& files_;
};

// The same folder spelled plainly or in the "\\?\" form a walk switches to
// below a name of dots.
std::wstring PlainForm(const std::wstring& path) {
    return path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
}

std::wstring ParentKey(const std::wstring& path) {
    const size_t cut = path.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : AsciiLower(PlainForm(path.substr(0, cut)));
}

class Remains : public WalkVisitor {
public:
    Remains(const SpareFolder& spare, std::vector<std::wstring>& leaves) : spare_(spare), leaves_(leaves) {}

    bool Visit(const std::wstring& path, const FindData& entry) override {
        withContent_.insert(ParentKey(path));
        if (!entry.IsDirectory()) {
            leaves_.push_back(AsciiLower(path));
            return false;
        }
        if (spare_ && spare_(path)) return false;
        if (entry.IsLink()) {
            leaves_.push_back(AsciiLower(path) + L"\\");
            return false;
        }
        folders_.push_back(path);
        return true;
    }

    // The folders in which nothing was listed, the top one included.
    void AddEmptyFolders(const std::wstring& top) {
        folders_.push_back(top);
        for (const std::wstring& folder : folders_) {
            if (withContent_.count(AsciiLower(PlainForm(folder))) == 0) leaves_.push_back(AsciiLower(folder) + L"\\");
        }
    }

private:
    const SpareFolder& spare_;
    std::vector<std::wstring>& leaves_;
    std::vector<std::wstring> folders_;
    std::set<std::wstring> withContent_;
};

class Listing : public WalkVisitor {
public:
    Listing(std::vector<std::wstring>& files, std::vector<std::wstring>& folders, uint64_t& total,
            bool recursive)
        : files_(files), folders_(folders), total_(total), recursive_(recursive) {}

    bool Visit(const std::wstring& path, const FindData& entry) override {
        if (entry.IsDirectory()) {
            folders_.push_back(path);
            return recursive_ && !entry.IsLink();
        }
        files_.push_back(path);
        total_ += entry.size;
        return false;
    }

private:
    std::vector<std::wstring>& files_;
    std::vector<std::wstring>& folders_;
    uint64_t& total_;
    const bool recursive_;
};

}  // namespace

bool CreateDirTree(platform::IFileSystem& files, std::wstring folder) {
    if (FileExists(files, folder)) return true;
    RemoveTrailingBackslash(folder);
    if (folder.empty()) return false;
    folder.push_back(L'\\');
    // Every prefix ending before a backslash, skipping a leading "\" and a
    // drive's "C:", is a folder that must exist before the next.
    for (size_t cut = folder.find(L'\\', 1); cut != std::wstring::npos; cut = folder.find(L'\\', cut + 1)) {
        const std::wstring prefix = folder.substr(0, cut);
        if (prefix.back() == L':' || files.Exists(prefix)) continue;
        const uint32_t error = files.CreateDirectory(prefix);
        if (error != platform::kErrSuccess && error != platform::kErrAlreadyExists) break;
    }
    folder.pop_back();
    return FileExists(files, folder);
}

namespace {

// The walk of a folder the guard has allowed, in its canonical form.
void DeleteAllowedTree(platform::IFileSystem& files, std::wstring target, const std::function<bool()>& cancelled,
                       const std::function<void(const std::wstring&)>& entered, const FileTried& fileTried,
                       const SpareFolder& spare = {}) {
    RemoveTrailingBackslash(target);
    if (IsLink(files, target)) {
        // A link given as the folder is removed as a link too.
        files.RemoveDirectory(target);
        return;
    }
    Deletion deletion(files, cancelled, entered, fileTried, spare);
    deletion.Enter(target);
    TreeWalk(files, deletion).Run(target);
}

}  // namespace

bool DeleteTree(platform::Platform& os, std::wstring folder, const std::function<bool()>& cancelled,
                const std::vector<std::wstring>& keep, const std::function<void(const std::wstring&)>& entered,
                const FileTried& fileTried, const SpareFolder& spare) {
    if (!FileExists(os.Files(), folder)) return true;
    std::wstring target;
    if (!DeletionGuard(os).AllowsTree(folder, target, keep)) return false;
    DeleteAllowedTree(os.Files(), target, cancelled, entered, fileTried, spare);
    return true;
}

void ListRemains(platform::IFileSystem& files, const std::wstring& folder, const SpareFolder& spare,
                 std::vector<std::wstring>& remaining) {
    if (!FileExists(files, folder)) return;
    std::wstring top = folder;
    RemoveTrailingBackslash(top);
    if (IsLink(files, top)) {
        remaining.push_back(AsciiLower(top) + L"\\");
        return;
    }
    std::vector<std::wstring> leaves;
    Remains remains(spare, leaves);
    TreeWalk(files, remains).Run(top);
    remains.AddEmptyFolders(top);
    remaining.insert(remaining.end(), leaves.begin(), leaves.end());
}

bool DeleteDir(platform::Platform& os, std::wstring folder, const bool* cancel, const std::vector<std::wstring>& keep) {
    if (!FileExists(os.Files(), folder)) return true;
    // A refused folder counts as gone: the caller goes on as if it were.
    if (!DeleteTree(
            os, folder, [cancel] { return IsCancelSet(cancel); }, keep))
        return true;
    if (FileExists(os.Files(), folder)) {
        LOG_INFO_W(L"ERR:Can not Delete dir = [%s]!\n", folder);
        return false;
    }
    return true;
}

bool DeleteProductDir(platform::Platform& os, std::wstring folder, const std::vector<std::wstring>& leavingProducts,
                      const std::vector<std::wstring>& keep) {
    if (!FileExists(os.Files(), folder)) return true;
    std::wstring target;
    // A refused folder counts as gone, as in DeleteDir.
    if (!DeletionGuard(os, leavingProducts).AllowsProductTree(folder, target, keep)) return true;
    DeleteAllowedTree(os.Files(), target, [] { return false; }, {}, {});
    if (FileExists(os.Files(), folder)) {
        LOG_INFO_W(L"ERR:Can not Delete dir = [%s]!\n", folder);
        return false;
    }
    return true;
}

bool EnumDir(platform::IFileSystem& fs, std::wstring folder, std::vector<std::wstring>& files,
             std::vector<std::wstring>& folders, uint64_t& total, bool recursive) {
    if (!FileExists(fs, folder)) return false;
    RemoveTrailingBackslash(folder);
    Listing listing(files, folders, total, recursive);
    return TreeWalk(fs, listing).Run(folder);
}

uint64_t GetDirSize(platform::IFileSystem& fs, std::wstring folder) {
    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;
    uint64_t total = 0;
    EnumDir(fs, std::move(folder), files, folders, total, true);
    return total;
}

bool ListFilesRecursive(platform::IFileSystem& fs, std::wstring folder, std::vector<std::wstring>& files) {
    std::vector<std::wstring> folders;
    uint64_t total = 0;
    return EnumDir(fs, std::move(folder), files, folders, total, true);
}

void DeleteFilesInFolders(platform::Platform& os, const std::vector<std::wstring>& folders,
                          std::vector<std::wstring>& undeletable) {
    undeletable.clear();
    platform::IFileSystem& fs = os.Files();
    std::set<std::wstring> remaining;
    const DeletionGuard guard(os);
    for (const std::wstring& folder : folders) {
        if (!FileExists(fs, folder)) continue;
        std::wstring root;
        if (!guard.AllowsTree(folder, root)) continue;
        RemoveTrailingBackslash(root);
        if (IsLink(fs, root)) continue;  // its files are not below this tree
        std::vector<std::wstring> files;
        ListFilesRecursive(fs, root, files);
        for (std::wstring& file : files) {
            NormalizePath(file);
            fs.DeleteFile(file);
            if (!FileExists(fs, file)) continue;
            AsciiLowerInPlace(file);
            remaining.insert(std::move(file));
        }
    }
    undeletable.assign(remaining.begin(), remaining.end());
}

char* ReadWholeFile(platform::IFileSystem& files, std::wstring path, uint64_t* size, uint64_t maxBytes) {
    NormalizePath(path);
    const auto opened = files.Open(path, platform::OpenMode::Read);
    if (!opened) return nullptr;
    platform::IFile& file = **opened;
    const uint64_t length = file.Size();
    if (length == 0 || length > maxBytes || length >= std::numeric_limits<size_t>::max()) return nullptr;
    const size_t bytes = static_cast<size_t>(length);
    char* buffer = static_cast<char*>(std::calloc(bytes + 1, 1));
    if (buffer == nullptr) return nullptr;
    size_t done = 0;
    while (done < bytes) {
        const size_t n = file.Read(buffer + done, bytes - done);
        if (n == 0) break;  // shrank since it was measured; the rest stays zero
        done += n;
    }
    if (size != nullptr) *size = done;
    return buffer;
}

bool ProbeFileSize(platform::IFileSystem& files, const std::wstring& path, int64_t& size) {
    size = 0;
    const auto file = files.Open(path, platform::OpenMode::Read);
    if (file) {
        const uint64_t length = (*file)->Size();
        size = length > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? 0 : static_cast<int64_t>(length);
        return true;
    }
    if (file.Error() == platform::kErrFileNotFound || file.Error() == platform::kErrPathNotFound) return false;
    // Held, locked or a folder: it is there, only its length cannot be read.
    return files.Exists(path);
}

int64_t GetFileSizeByPath(platform::IFileSystem& files, std::wstring path) {
    const auto file = files.Open(path, platform::OpenMode::Read);
    if (!file) return 0;
    const uint64_t length = (*file)->Size();
    return length > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? 0 : static_cast<int64_t>(length);
}

bool IsCancelSet(const bool* flag) {
    if (flag == nullptr) return false;
    // The host sets its flag from another thread without any lock; an
    // atomic load makes every read see the latest store.
#if defined(__GNUC__)
    return __atomic_load_n(flag, __ATOMIC_RELAXED);
#else
    return *static_cast<const volatile bool*>(flag);
#endif
}

std::vector<std::wstring> LinksOnPath(platform::IFileSystem& files, const std::wstring& path, bool includeLast) {
    std::vector<std::wstring> links;
    std::wstring text = path;
    RemoveTrailingBackslash(text);
    // Names start after the root: C:\ or \\?\C:\ or \\server\share\.
    size_t start = 0;
    if (text.rfind(L"\\\\?\\", 0) == 0) {
        start = text.find(L'\\', 4);
    } else if (text.rfind(L"\\\\", 0) == 0) {
        start = text.find(L'\\', 2);
        if (start != std::wstring::npos) start = text.find(L'\\', start + 1);
    } else {
        start = text.find(L'\\');
    }
    if (start == std::wstring::npos) return links;
    for (size_t cut = text.find(L'\\', start + 1);; cut = text.find(L'\\', cut + 1)) {
        const bool last = cut == std::wstring::npos;
        if (last && !includeLast) break;
        const std::wstring prefix = last ? text : text.substr(0, cut);
        const uint32_t attributes = files.GetAttributes(prefix);
        if (attributes == platform::kInvalidFileAttributes) break;  // nothing beyond it to lead anywhere
        if ((attributes & platform::kAttrReparsePoint) != 0 && IsLink(files, prefix)) links.push_back(prefix);
        if (last) break;
    }
    return links;
}

bool IsLink(platform::IFileSystem& files, const std::wstring& path) {
    const uint32_t attributes = files.GetAttributes(path);
    if (attributes == platform::kInvalidFileAttributes || (attributes & platform::kAttrReparsePoint) == 0) return false;
    // Only a search reports the tag: one for the entry itself, by its name.
    std::wstring entryPath = path;
    RemoveTrailingBackslash(entryPath);
    platform::FindData entry;
    auto search = files.FindFirst(entryPath, entry);
    return !search || entry.IsLink();
}
