#include "platform/sim/files/SimFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <cwctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/sim/files/HostDir.h"
#include "platform/sim/files/HostFile.h"
#include "platform/sim/files/HostNode.h"
#include "platform/sim/processes/LastError.h"
#include "platform/sim/files/NameMatch.h"
#include "platform/sim/files/SimFileSearch.h"
#include "platform/sim/files/SimProfile.h"
#include "base/UniqueFd.h"
#include "platform/sim/Utf8.h"
#include "platform/sim/files/WinPath.h"
#include "platform/sim/files/WindowsName.h"

namespace sim {

using namespace platform;

namespace {

// Codes Win32 uses that the layers above never test for by name.
constexpr uint32_t kErrNotSameDevice = 17;
constexpr uint32_t kErrDiskFull = 112;
constexpr uint32_t kErrDirectory = 267;  // a folder operation on a file

uint32_t FromErrno(int err) {
    switch (err) {
        case ENOENT: return kErrFileNotFound;
        case ENOTDIR: return kErrPathNotFound;
        case EEXIST: return kErrAlreadyExists;
        case ENOTEMPTY: return kErrDirNotEmpty;
        case EBUSY:
        case ETXTBSY: return kErrSharingViolation;
        case ENOSPC: return kErrDiskFull;
        case EXDEV: return kErrNotSameDevice;
        case EINVAL: return kErrInvalidParameter;
        default: return kErrAccessDenied;
    }
}

bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsHostDirectory(const std::string& hostPath) {
    struct stat st {};
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string HostParent(const std::string& hostPath) {
    const size_t slash = hostPath.rfind('/');
    return slash == std::string::npos ? std::string() : hostPath.substr(0, slash);
}

// Windows tells a missing file in an existing folder (2) from a path whose
// folders are missing (3); callers rely on the difference.
uint32_t MissingError(const std::string& hostPath) {
    return IsHostDirectory(HostParent(hostPath)) ? kErrFileNotFound : kErrPathNotFound;
}

bool CopyContents(int from, int to) {
    for (;;) {
        const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (n == 0) return true;
        if (n > 0) continue;
        if (errno == EINTR) continue;
        if (errno != ENOSYS && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP) return false;
        break;
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(to, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

// Opens a host file for the machine. A link may lead to a FIFO or device
// (or one may be put where a file was): O_NONBLOCK keeps the open of a FIFO
// from waiting for a writer, and what is not a regular file once open is
// refused. O_NONBLOCK changes nothing for a regular file.
base::UniqueFd OpenHostFile(const std::string& hostPath, int flags) {
    base::UniqueFd fd(::open(hostPath.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!fd.Valid()) return fd;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        fd.Reset();
        errno = EACCES;
    }
    return fd;
}

bool MatchesAll(const std::wstring& pattern) { return pattern == L"*" || pattern == L"*.*"; }

// One entry as a listing found it on the host.
struct ListedEntry {
    HostNode node;
    std::wstring name;
};

// The entries of a host folder that match a search pattern, in the order
// NTFS lists them. The folder is read once and each entry is stat-ed
// relative to it, as a directory read costs on the host. Left out: an entry
// that cannot be stat-ed (deleted while we listed), one whose name Windows
// cannot have (WindowsName.h) and one that is no file, folder or link (a
// FIFO, socket or device, which HostNode does not see).
std::vector<ListedEntry> ListHostFolder(const std::string& hostFolder, const std::wstring& namePattern) {
    std::vector<ListedEntry> entries;
    const bool all = MatchesAll(namePattern);
    DirHandle dir{::opendir(hostFolder.c_str())};
    if (!dir) return entries;
    const int fd = ::dirfd(dir.get());
    while (dirent* found = ::readdir(dir.get())) {
        const char* name = found->d_name;
        if (!IsWindowsHostName(name)) continue;
        std::wstring wide = FromUtf8(name);
        if (!all && !MatchesWildcard(namePattern, wide)) continue;
        struct stat st {};
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        HostNode node = HostNode::FromLstatAt(fd, name, st);
        if (!node.exists) continue;
        entries.push_back({node, std::move(wide)});
    }
    std::sort(entries.begin(), entries.end(),
              [](const ListedEntry& a, const ListedEntry& b) { return NtfsNameLess(a.name, b.name); });
    return entries;
}

}  // namespace

struct SimFileSystem::Target {
    bool valid = false;
    uint32_t refusal = kErrPathNotFound;  // why, when not valid
    WinPath path;
    std::wstring win;  // normalised, the key for metadata and held files
    std::string host;
    HostNode node;
    FileMeta meta;
};

// The process's current folder is the host program's, as when Explorer
// starts it; its drive is the current drive.
std::wstring SimFileSystem::CurrentFolder() const {
    const std::wstring program = machine_->Read([](const MachineState& s) { return s.hostProgram; });
    WinPath path;
    return WinPath::Parse(program, path) ? path.Parent().ToString() : std::wstring(L"C:\\");
}

// A path rooted on the current drive ("\\x") gets that drive's letter, as
// Win32 gives it; every other form is left to WinPath.
std::wstring SimFileSystem::OnCurrentDrive(const std::wstring& path) const {
    const bool rooted = !path.empty() && IsPathSeparator(path[0]) && (path.size() == 1 || !IsPathSeparator(path[1]));
    return rooted ? CurrentFolder().substr(0, 2) + path : path;
}

SimFileSystem::Target SimFileSystem::Locate(const std::wstring& path) const {
    Target target;
    if (!WinPath::Parse(OnCurrentDrive(path), target.path)) return target;
    target.win = target.path.ToString();
    if (!machine_->Resolve(target.path, target.host, &target.node)) {
        const auto& names = target.path.Components();
        if (!std::all_of(names.begin(), names.end(), IsWindowsName)) target.refusal = kErrInvalidName;
        return target;
    }
    target.valid = true;
    target.meta = machine_->Meta(target.path);
    if (target.node.link && target.meta.Empty()) target.meta = LinkMeta(target.host);
    return target;
}

// A junction reached through another one (C:\Documents and Settings\Tarn
// \My Documents) is the same reparse point, with the same attributes and
// ACL, as at the place it lies in; bookkeeping is kept by path, so it is
// looked up there. Links are few, and only theirs costs the extra lookup.
FileMeta SimFileSystem::LinkMeta(const std::string& host) const {
    WinPath real;
    return machine_->PathOfHostEntry(host, real) ? machine_->Meta(real) : FileMeta{};
}

uint32_t SimFileSystem::Attributes(const Target& target) const { return target.node.Attributes(target.meta); }

// Why CreateFileW refuses to write an existing file, 0 when it would not.
uint32_t SimFileSystem::WriteCheck(const Target& target) const {
    if (target.node.directory) return kErrAccessDenied;
    if (Attributes(target) & kAttrReadOnly) return kErrAccessDenied;
    if (machine_->IsHeld(target.win)) return kErrSharingViolation;
    return 0;
}

bool SimFileSystem::Exists(const std::wstring& path) {
    const Target target = Locate(path);
    return target.valid && target.node.exists;
}

uint32_t SimFileSystem::GetAttributes(const std::wstring& path) {
    const Target target = Locate(path);
    if (!target.valid || !target.node.exists) {
        Fail(target.valid ? MissingError(target.host) : target.refusal);
        return kInvalidFileAttributes;
    }
    return Attributes(target);
}

Result<FindData> SimFileSystem::GetAttributesEx(const std::wstring& path) {
    const Target target = Locate(path);
    if (!target.valid || !target.node.exists) {
        return Failure(Fail(target.valid ? MissingError(target.host) : target.refusal));
    }
    return Describe(target, std::wstring());
}

uint32_t SimFileSystem::SetAttributes(const std::wstring& path, uint32_t attributes) {
    const Target target = Locate(path);
    if (!target.valid) return Fail(target.refusal);
    if (!target.node.exists) return Fail(MissingError(target.host));
    FileMeta meta = target.meta;
    meta.attributes = attributes & kSettableAttributes;
    machine_->SetMeta(target.win, meta);
    return kErrSuccess;
}

Result<std::unique_ptr<IFileSearch>> SimFileSystem::FindFirst(const std::wstring& pattern, FindData& first) {
    const size_t sep = pattern.find_last_of(L"\\/");
    const std::wstring namePattern = sep == std::wstring::npos ? std::wstring() : pattern.substr(sep + 1);
    const Target folder = sep == std::wstring::npos ? Target{} : Locate(pattern.substr(0, sep + 1));
    if (!folder.valid) return Failure(Fail(folder.refusal));
    if (!folder.node.directory) return Failure(Fail(kErrPathNotFound));
    if (folder.meta.listDenied) return Failure(Fail(kErrAccessDenied));
    std::vector<FindData> found;
    if (!namePattern.empty()) found = List(folder, namePattern);
    if (found.empty()) return Failure(Fail(kErrFileNotFound));
    first = std::move(found.front());
    return std::make_unique<SimFileSearch>(std::move(found), 1);
}

// What a search of `folder` finds, in NTFS order: the folder itself and its
// parent first (a drive root has neither), then its entries by name.
std::vector<FindData> SimFileSystem::List(const Target& folder, const std::wstring& namePattern) const {
    std::vector<FindData> found;
    if (!folder.path.IsRoot()) {
        if (MatchesWildcard(namePattern, L".")) found.push_back(Describe(folder, L"."));
        if (MatchesWildcard(namePattern, L"..")) {
            // The host folder above is the parent's, already resolved: no
            // second lookup of the path from the drive down.
            Target parent;
            parent.valid = true;
            parent.path = folder.path.Parent();
            parent.host = HostParent(folder.host);
            parent.node = HostNode::Inspect(parent.host);
            parent.meta = machine_->Meta(parent.path);
            found.push_back(Describe(parent, L".."));
        }
    }
    std::vector<ListedEntry> entries = ListHostFolder(folder.host, namePattern);
    if (entries.empty()) return found;
    // Nearly every folder has nothing recorded for its entries; then no
    // entry's name is ever folded.
    const std::map<std::wstring, FileMeta> recorded = machine_->ChildMeta(folder.path);
    found.reserve(found.size() + entries.size());
    for (ListedEntry& entry : entries) {
        FileMeta meta;
        if (!recorded.empty()) {
            auto it = recorded.find(Fold(entry.name));
            if (it != recorded.end()) meta = it->second;
        }
        if (entry.node.link && meta.Empty()) meta = LinkMeta(folder.host + "/" + ToUtf8(entry.name));
        FindData data;
        data.attributes = entry.node.Attributes(meta);
        data.reparseTag = entry.node.ReparseTag(meta);
        data.size = entry.node.size;
        data.creationTime = entry.node.CreationTime(meta);
        data.lastWriteTime = entry.node.lastWriteTime;
        data.name = std::move(entry.name);
        found.push_back(std::move(data));
    }
    return found;
}

FindData SimFileSystem::Describe(const Target& target, const std::wstring& name) const {
    FindData data;
    data.name = name;
    data.attributes = Attributes(target);
    data.reparseTag = target.node.ReparseTag(target.meta);
    data.size = target.node.size;
    data.creationTime = target.node.CreationTime(target.meta);
    data.lastWriteTime = target.node.lastWriteTime;
    return data;
}

uint32_t SimFileSystem::DeleteFile(const std::wstring& path) {
    const Target target = Locate(path);
    if (!target.valid) return Fail(target.refusal);
    if (!target.node.exists) return Fail(MissingError(target.host));
    // A link is deleted as itself, whatever it points to.
    if (target.node.directory && !target.node.link) return Fail(kErrAccessDenied);
    if (Attributes(target) & kAttrReadOnly) return Fail(kErrAccessDenied);
    if (machine_->IsHeld(target.win)) return Fail(kErrSharingViolation);
    if (::unlink(target.host.c_str()) != 0) return Fail(FromErrno(errno));
    machine_->ForgetMeta(target.win);
    return kErrSuccess;
}

uint32_t SimFileSystem::RemoveDirectory(const std::wstring& path) {
    const Target target = Locate(path);
    if (!target.valid) return Fail(target.refusal);
    if (!target.node.exists) return Fail(MissingError(target.host));
    if (!target.node.directory) return Fail(kErrDirectory);
    if (target.path.IsRoot()) return Fail(kErrAccessDenied);
    if (Attributes(target) & kAttrReadOnly) return Fail(kErrAccessDenied);
    if (machine_->IsHeld(target.win)) return Fail(kErrSharingViolation);
    // Removing a junction removes the reparse point, never the folder it
    // leads to; rmdir on a host symlink would fail, unlink does just that.
    const int rc = target.node.link ? ::unlink(target.host.c_str()) : ::rmdir(target.host.c_str());
    if (rc != 0) return Fail(errno == EEXIST ? kErrDirNotEmpty : FromErrno(errno));
    machine_->ForgetMeta(target.win);
    return kErrSuccess;
}

uint32_t SimFileSystem::CreateDirectory(const std::wstring& path) {
    const Target target = Locate(path);
    if (!target.valid) return Fail(target.refusal);
    if (target.path.IsRoot()) return Fail(kErrAccessDenied);
    if (target.node.exists) return Fail(kErrAlreadyExists);
    if (!IsHostDirectory(HostParent(target.host))) return Fail(kErrPathNotFound);
    if (::mkdir(target.host.c_str(), 0777) != 0) return Fail(FromErrno(errno));
    machine_->ForgetMeta(target.win);  // left by an earlier folder of that name
    return kErrSuccess;
}

uint32_t SimFileSystem::CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) {
    const Target source = Locate(from);
    if (!source.valid) return Fail(source.refusal);
    if (!source.node.exists) return Fail(MissingError(source.host));
    if (source.node.directory) return Fail(kErrAccessDenied);
    const Target dest = Locate(to);
    if (!dest.valid) return Fail(dest.refusal);
    if (dest.node.exists) {
        if (failIfExists) return Fail(kErrFileExists);
        if (dest.host == source.host) return Fail(kErrSharingViolation);
        if (Attributes(dest) & kAttrHidden) return Fail(kErrAccessDenied);
        if (const uint32_t refused = WriteCheck(dest)) return Fail(refused);
    } else if (!IsHostDirectory(HostParent(dest.host))) {
        return Fail(kErrPathNotFound);
    }

    base::UniqueFd in = OpenHostFile(source.host, O_RDONLY);
    if (!in.Valid()) return Fail(FromErrno(errno));
    base::UniqueFd out = OpenHostFile(dest.host, O_WRONLY | O_CREAT | O_TRUNC);
    if (!out.Valid()) return Fail(FromErrno(errno));
    if (!CopyContents(in.Get(), out.Get())) return Fail(FromErrno(errno));
    struct stat st {};
    if (::fstat(in.Get(), &st) == 0) {
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.Get(), times);
    }
    // The copy takes the source's attributes and the write time; its
    // creation time is its own.
    FileMeta meta;
    meta.attributes = source.meta.attributes;
    if (dest.node.exists) meta.creationTime = dest.meta.creationTime;
    machine_->SetMeta(dest.win, meta);
    return kErrSuccess;
}

uint32_t SimFileSystem::MoveFile(const std::wstring& from, const std::wstring& to) {
    const Target source = Locate(from);
    if (!source.valid) return Fail(source.refusal);
    if (!source.node.exists) return Fail(MissingError(source.host));
    if (source.path.IsRoot()) return Fail(kErrAccessDenied);
    const Target dest = Locate(to);
    if (!dest.valid) return Fail(dest.refusal);
    if (machine_->IsHeld(source.win)) return Fail(kErrSharingViolation);

    std::string destHost = dest.host;
    if (dest.node.exists) {
        // Only a change of case may rename an entry onto itself.
        if (dest.host != source.host || dest.path.IsRoot()) return Fail(kErrAlreadyExists);
        destHost = HostParent(source.host) + "/" + ToUtf8(dest.path.Components().back());
        if (destHost == source.host) return kErrSuccess;
    } else if (!IsHostDirectory(HostParent(dest.host))) {
        return Fail(kErrPathNotFound);
    }
    if (source.node.directory && source.path.Drive() != dest.path.Drive()) return Fail(kErrNotSameDevice);
    if (::rename(source.host.c_str(), destHost.c_str()) != 0) return Fail(FromErrno(errno));
    machine_->MoveMeta(source.win, dest.win);
    return kErrSuccess;
}

Result<std::unique_ptr<IFile>> SimFileSystem::Open(const std::wstring& path, OpenMode mode) {
    const Target target = Locate(path);
    auto refuse = [](uint32_t code) { return Failure(Fail(code)); };
    if (!target.valid) return refuse(target.refusal);

    int flags = 0;
    if (mode == OpenMode::Read) {
        if (!target.node.exists) return refuse(MissingError(target.host));
        if (target.node.directory) return refuse(kErrAccessDenied);
        flags |= O_RDONLY;
    } else if (target.node.exists) {
        if (const uint32_t refused = WriteCheck(target)) return refuse(refused);
        // CREATE_ALWAYS with normal attributes will not replace a hidden or
        // system file.
        if (mode == OpenMode::Truncate && (Attributes(target) & (kAttrHidden | kAttrSystem))) {
            return refuse(kErrAccessDenied);
        }
        flags |= O_RDWR | (mode == OpenMode::Append ? O_APPEND : O_TRUNC);
    } else {
        if (!IsHostDirectory(HostParent(target.host))) return refuse(kErrPathNotFound);
        flags |= O_RDWR | O_CREAT | (mode == OpenMode::Append ? O_APPEND : O_TRUNC);
    }

    base::UniqueFd fd = OpenHostFile(target.host, flags);
    if (!fd.Valid()) return refuse(FromErrno(errno));
    if (!target.node.exists) {
        machine_->ForgetMeta(target.win);  // left by an earlier file of that name
    } else if (mode == OpenMode::Truncate && target.meta.attributes) {
        FileMeta meta = target.meta;  // overwriting resets the attributes, not the creation time
        meta.attributes.reset();
        machine_->SetMeta(target.win, meta);
    }
    // CreateFileW with CREATE_ALWAYS shares the file for reading only: while
    // it is open nobody else may write, move or delete it.
    std::shared_ptr<void> hold = mode == OpenMode::Truncate ? machine_->HoldWhileOpen(target.win) : nullptr;
    return std::make_unique<HostFile>(std::move(fd), std::move(hold));
}

std::wstring SimFileSystem::FullPathName(const std::wstring& path) {
    if (path.empty()) return std::wstring();
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;  // taken literally, as Windows does
    std::wstring absolute = OnCurrentDrive(path);
    const bool driveForm = absolute.size() >= 2 && absolute[1] == L':';
    if (driveForm && (absolute.size() == 2 || !IsPathSeparator(absolute[2]))) {
        // "D:x": relative to that drive's current folder, its root unless it
        // is the current drive.
        const std::wstring current = CurrentFolder();
        const bool currentDrive = std::towupper(absolute[0]) == std::towupper(current[0]);
        absolute = (currentDrive ? current + L"\\" : absolute.substr(0, 2) + L"\\") + absolute.substr(2);
    } else if (!driveForm && !(absolute.size() >= 2 && IsPathSeparator(absolute[0]) && IsPathSeparator(absolute[1]))) {
        absolute = CurrentFolder() + L"\\" + absolute;
    }
    WinPath parsed;
    if (!WinPath::Parse(absolute, parsed)) return std::wstring();
    std::wstring full = parsed.ToString();
    // A trailing separator survives, as GetFullPathNameW keeps it.
    if (!parsed.IsRoot() && IsPathSeparator(path.back())) full += L'\\';
    return full;
}

// The lookup's own folding, so that two spellings equal here name the same
// entry and the other way round.
std::wstring SimFileSystem::CaseFoldedPath(const std::wstring& path) { return Fold(path); }

// Links are host symlinks with host targets: the host resolves them, and
// the real path found is named again by the drive folder it lies in.
std::wstring SimFileSystem::FinalPathName(const std::wstring& path) {
    WinPath parsed;
    if (!WinPath::Parse(FullPathName(path), parsed)) return std::wstring();
    std::vector<std::wstring> tail;
    WinPath existing = parsed;
    std::string real;
    for (;;) {
        std::string host;
        HostNode node;
        if (machine_->Resolve(existing, host, &node) && node.exists) {
            // A link whose target is gone does not open on Windows either;
            // it is named as it stands below the folder that holds it.
            char* resolved = ::realpath(host.c_str(), nullptr);
            if (resolved != nullptr) {
                real = resolved;
                std::free(resolved);
                break;
            }
        }
        if (existing.IsRoot()) return std::wstring();
        tail.insert(tail.begin(), existing.Components().back());
        existing = existing.Parent();
    }
    const std::vector<wchar_t> letters = machine_->Read([](const MachineState& state) {
        std::vector<wchar_t> found;
        for (const DriveInfo& drive : state.drives) found.push_back(drive.letter);
        return found;
    });
    for (wchar_t letter : letters) {
        char* root = ::realpath(machine_->DriveFolder(letter).c_str(), nullptr);
        if (root == nullptr) continue;
        const std::string rootPath = root;
        std::free(root);
        if (real != rootPath && real.rfind(rootPath + "/", 0) != 0) continue;
        WinPath final;
        if (!WinPath::Parse(std::wstring(1, letter) + L":\\", final)) return std::wstring();
        for (size_t at = rootPath.size() + 1; at < real.size();) {
            const size_t slash = std::min(real.find('/', at), real.size());
            final = final.Child(FromUtf8(real.substr(at, slash - at)));
            at = slash + 1;
        }
        for (const std::wstring& name : tail) final = final.Child(name);
        return final.ToString();
    }
    return std::wstring();  // the link leaves the machine's drives
}

std::string SimFileSystem::NativePath(const std::wstring& path) {
    std::string host;
    return machine_->Resolve(path, host) ? host : std::string();
}

// Initialisation files are plain files of the machine; SimProfileFile does
// the parsing.
uint32_t SimFileSystem::GetPrivateProfileInt(const std::wstring& section, const std::wstring& key, int32_t defaultValue,
                                             const std::wstring& path) {
    return SimProfileFile(machine_, path).GetInt(section, key, defaultValue);
}

uint32_t SimFileSystem::WritePrivateProfileString(const std::wstring& section, const std::wstring& key,
                                                  const std::wstring& value, const std::wstring& path) {
    return SimProfileFile(machine_, path).WriteString(section, key, value);
}

}  // namespace sim
