// Files and folders, as the Windows file APIs see them: Windows paths,
// attribute bits, FindFirstFileW-style searches and Windows error codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Result.h"
#include "platform/Types.h"

namespace platform {

// An open directory search; closing happens when the object goes away.
class IFileSearch {
public:
    virtual ~IFileSearch() = default;
    // Fills the next entry; false when the search is exhausted.
    virtual bool Next(FindData& entry) = 0;
};

// An open file handle (the subset of CreateFileW/ReadFile/WriteFile used).
class IFile {
public:
    virtual ~IFile() = default;
    virtual uint64_t Size() = 0;
    // Reads up to `count` bytes at the current position; returns bytes read.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Appends or writes at the current position; false on a short write.
    virtual bool Write(const void* data, size_t count) = 0;
};

enum class OpenMode {
    Read,      // existing file, read only
    Append,    // create when missing, writes go to the end
    Truncate,  // create or empty, then write
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // _waccess(path, 0): true for files and folders alike.
    virtual bool Exists(const std::wstring& path) = 0;
    // GetFileAttributesW; kInvalidFileAttributes when the path is missing.
    virtual uint32_t GetAttributes(const std::wstring& path) = 0;
    virtual uint32_t SetAttributes(const std::wstring& path, uint32_t attributes) = 0;
    // GetFileAttributesExW at the standard information level: attributes,
    // size and times of one file or folder (`name` is left empty), or why
    // they cannot be read.
    virtual Result<FindData> GetAttributesEx(const std::wstring& path) = 0;
    // FindFirstFileW on a pattern such as "C:\dir\*.*": the open search,
    // with `first` holding the first entry, or why nothing can be searched.
    virtual Result<std::unique_ptr<IFileSearch>> FindFirst(const std::wstring& pattern, FindData& first) = 0;
    // The following return a Windows error code, 0 on success.
    virtual uint32_t DeleteFile(const std::wstring& path) = 0;
    virtual uint32_t RemoveDirectory(const std::wstring& path) = 0;
    virtual uint32_t CreateDirectory(const std::wstring& path) = 0;
    virtual uint32_t CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) = 0;
    virtual uint32_t MoveFile(const std::wstring& from, const std::wstring& to) = 0;
    // The open file, or why it cannot be opened.
    virtual Result<std::unique_ptr<IFile>> Open(const std::wstring& path, OpenMode mode) = 0;
    // GetPrivateProfileIntW: the number after "key=" in "[section]" of an
    // initialisation file, section and key compared without regard to case;
    // `defaultValue` when the file, section or key is missing or the value
    // is empty. A value that is no number reads as 0.
    virtual uint32_t GetPrivateProfileInt(const std::wstring& section, const std::wstring& key, int32_t defaultValue,
                                          const std::wstring& path) = 0;
    // WritePrivateProfileStringW: sets "key=value" in "[section]", adding
    // the section, the key or the file itself as needed. A Windows error
    // code, 0 on success.
    virtual uint32_t WritePrivateProfileString(const std::wstring& section, const std::wstring& key,
                                               const std::wstring& value, const std::wstring& path) = 0;
    // The path a library outside the seam must use to open this file itself
    // (the log4cpp appender takes an 8-bit path).
    virtual std::string NativePath(const std::wstring& path) = 0;
    // GetFullPathNameW: the absolute form of `path`, made against the
    // current folder and drive, with "." and ".." components, repeated and
    // forward separators and trailing dots and blanks of names resolved as
    // Win32 resolves a plain path. A "\\?\" path comes back as it is.
    // Empty when no full path can be made. Pure text: nothing is opened.
    virtual std::wstring FullPathName(const std::wstring& path) = 0;
    // The form in which two spellings of one path compare equal: Windows
    // ignores the case of letters in file names.
    virtual std::wstring CaseFoldedPath(const std::wstring& path) = 0;
    // GetFinalPathNameByHandleW of the opened entry, in drive form
    // ("C:\...") or UNC form ("\\server\share\..."): every link on
    // the way, the entry itself included, followed to its target and every
    // name in its spelling on disk. For a path whose tail does not exist the
    // longest existing ancestor is resolved and the rest kept as given.
    // Empty when no final path can be had (a link that leaves the machine's
    // drives or loops, a path that is not absolute).
    virtual std::wstring FinalPathName(const std::wstring& path) = 0;
};

}  // namespace platform
