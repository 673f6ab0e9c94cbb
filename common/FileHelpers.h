// Folder creation, recursive listing and deletion, and whole-file reads,
// all through the OS seam the caller names. Paths are Windows paths passed
// by value.
//
// Recursive deletion and listing never walk through a reparse point (a
// junction or directory symlink) met inside a tree: a deletion removes the
// link itself and leaves what it leads to, a listing names the link as a
// folder and does not enter it. Uninstall code deletes user folders, and a
// junction there may lead anywhere on the machine. Entries whose names the
// plain Win32 form would rewrite ("...", "name.") are reached, and listed,
// by their "\\?\" path, so a walk never mistakes one for its parent.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/Platform.h"

// True when the folder exists afterwards. Missing parents are created from
// the root down.
bool CreateDirTree(platform::IFileSystem& files, std::wstring folder);

// Whether the path is a junction or symbolic link: the files behind it are
// not below the folder it stands in. Other reparse points (a cloud
// placeholder folder) hold their files where they stand and are no links.
bool IsLink(platform::IFileSystem& files, const std::wstring& path);

// The folders on the way from the drive (or share) down to `path` that are
// junctions or links, in that order, `path` itself included when
// `includeLast`. A walk reaches a path only through links it chose to
// follow, so the files behind it are the ones the walk counted there only
// when each of these is one it follows.
std::vector<std::wstring> LinksOnPath(platform::IFileSystem& files, const std::wstring& path, bool includeLast);

// Whether the host's cancel flag (which may be null) is set now.
bool IsCancelSet(const bool* flag);

// Deletes the folder with everything in it, once the deletion guard
// (common/DeletionGuard.h) allows it; `keep` names further folders that
// must survive (other products' install folders). Read-only files are not
// made writable, so they and the folders above them stay. `cancel` (may be
// null) is read before every entry while another thread may set it; once it
// is true the walk stops, still trying to remove each folder it had entered.
// True when the folder is gone, never existed or was refused by the guard
// (the refusal is logged); otherwise logs and returns false.
bool DeleteDir(platform::Platform& os, std::wstring folder, const bool* cancel = nullptr,
               const std::vector<std::wstring>& keep = {});

// DeleteDir for a product's own folder (an install location, a residual
// program folder): the guard also wants it strictly below a folder programs
// are installed into, and the installed products' locations but those of
// `leavingProducts` (product codes) stay, with everything above them.
bool DeleteProductDir(platform::Platform& os, std::wstring folder, const std::vector<std::wstring>& leavingProducts,
                      const std::vector<std::wstring>& keep = {});

// The guarded walk under DeleteDir on its own, asking `cancelled` before
// each entry. `entered` (may be empty) hears each folder just before the
// walk empties it, the folder itself first; a link is removed, never
// entered, so it is never heard. `fileTried` (may be empty) hears each file
// right after its deletion was tried, with its search data and whether the
// deletion succeeded. `spare` (may be empty) names sub-folders that are
// neither entered nor removed (the folders above them then stay too).
// False when the guard refused the folder; otherwise test the folder's
// existence afterwards.
using FileTried = std::function<void(const platform::FindData& entry, bool deleted)>;
using SpareFolder = std::function<bool(const std::wstring& folder)>;
bool DeleteTree(platform::Platform& os, std::wstring folder, const std::function<bool()>& cancelled,
                const std::vector<std::wstring>& keep = {},
                const std::function<void(const std::wstring&)>& entered = {}, const FileTried& fileTried = {},
                const SpareFolder& spare = {});

// What is left of `folder` after a deletion, named by the deepest paths:
// each remaining file and link, and each folder with nothing listed in it
// (one that could not be removed, or whose contents cannot be searched),
// the folder itself when nothing below it is listed. Folders end in a
// backslash; `spare`d folders are passed over, links are not entered.
// Lower-cased; appended to `remaining`.
void ListRemains(platform::IFileSystem& files, const std::wstring& folder, const SpareFolder& spare,
                 std::vector<std::wstring>& remaining);

// Appends the files and folders below `folder` (full paths; with
// `recursive`, depth first, each folder's contents right after it) and adds
// the files' sizes to `total`. False when the folder is missing or cannot be
// searched. The lists are not cleared first.
bool EnumDir(platform::IFileSystem& fs, std::wstring folder, std::vector<std::wstring>& files,
             std::vector<std::wstring>& folders, uint64_t& total, bool recursive);

// Bytes in all files below the folder; 0 for a missing one.
uint64_t GetDirSize(platform::IFileSystem& files, std::wstring folder);

bool ListFilesRecursive(platform::IFileSystem& fs, std::wstring folder, std::vector<std::wstring>& files);

// Deletes every file below each existing folder the deletion guard allows
// (the folders stay) and returns in `undeletable` the files that remain,
// lower-cased, sorted by code unit and without duplicates.
void DeleteFilesInFolders(platform::Platform& os, const std::vector<std::wstring>& folders,
                          std::vector<std::wstring>& undeletable);

// The whole file in a buffer from malloc, one zero byte longer than the
// file; the caller releases it with free(). Null for a file that cannot be
// opened, is empty or does not fit in memory, and for one longer than
// `maxBytes`, which is then not read at all (readers of files an attacker
// may have put there name a bound). `size` (optional) receives the number
// of bytes read.
char* ReadWholeFile(platform::IFileSystem& files, std::wstring path, uint64_t* size = nullptr,
                    uint64_t maxBytes = std::numeric_limits<uint64_t>::max());

// The file's length in bytes; 0 when it cannot be opened. The path is used
// as given, without normalising it.
int64_t GetFileSizeByPath(platform::IFileSystem& files, std::wstring path);

// Existence and length in one open, for checks that ask both of many files:
// false when the path does not exist; otherwise true with the length, or 0
// when the file exists but cannot be opened (as GetFileSizeByPath says).
bool ProbeFileSize(platform::IFileSystem& files, const std::wstring& path, int64_t& size);
