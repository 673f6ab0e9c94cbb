#include "platform/win32/Win32FileSystem.h"

#include <algorithm>
#include <utility>

#include "platform/win32/GrowingBuffer.h"

#include "platform/win32/LongPath.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32CodePages.h"
#include "platform/win32/Win32File.h"
#include "platform/win32/Win32FileSearch.h"
#include "platform/win32/WinError.h"

namespace platform::win32 {

namespace {

struct OpenRequest {
    DWORD access;
    DWORD share;
    DWORD disposition;
};

// Readers and appenders let others keep the file open (a log may be read or
// rolled while it is written); a rewrite only tolerates readers.
OpenRequest RequestFor(OpenMode mode) {
    switch (mode) {
        case OpenMode::Append:
            return {FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS};
        case OpenMode::Truncate:
            return {GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS};
        case OpenMode::Read:
        default:
            return {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING};
    }
}

}  // namespace

bool Win32FileSystem::Exists(const std::wstring& path) {
    return ::GetFileAttributesW(ForFileApi(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint32_t Win32FileSystem::GetAttributes(const std::wstring& path) {
    return ::GetFileAttributesW(ForFileApi(path).c_str());
}

uint32_t Win32FileSystem::SetAttributes(const std::wstring& path, uint32_t attributes) {
    return ErrorUnless(::SetFileAttributesW(ForFileApi(path).c_str(), attributes));
}

Result<FindData> Win32FileSystem::GetAttributesEx(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA found{};
    if (!::GetFileAttributesExW(ForFileApi(path).c_str(), GetFileExInfoStandard, &found)) {
        return Failure(::GetLastError());
    }
    FindData data;
    data.attributes = found.dwFileAttributes;
    data.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    data.creationTime = (static_cast<uint64_t>(found.ftCreationTime.dwHighDateTime) << 32) |
                        found.ftCreationTime.dwLowDateTime;
    data.lastWriteTime = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                         found.ftLastWriteTime.dwLowDateTime;
    return data;
}

Result<std::unique_ptr<IFileSearch>> Win32FileSystem::FindFirst(const std::wstring& pattern, FindData& first) {
    return Win32FileSearch::Start(pattern, first);
}

uint32_t Win32FileSystem::DeleteFile(const std::wstring& path) {
    return ErrorUnless(::DeleteFileW(ForFileApi(path).c_str()));
}

uint32_t Win32FileSystem::RemoveDirectory(const std::wstring& path) {
    return ErrorUnless(::RemoveDirectoryW(ForFileApi(path).c_str()));
}

uint32_t Win32FileSystem::CreateDirectory(const std::wstring& path) {
    return ErrorUnless(::CreateDirectoryW(ForFileApi(path).c_str(), nullptr));
}

uint32_t Win32FileSystem::CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) {
    return ErrorUnless(::CopyFileW(ForFileApi(from).c_str(), ForFileApi(to).c_str(), failIfExists ? TRUE : FALSE));
}

// MoveFileW semantics: an existing target is an error, and a file may move
// to another volume by copy and delete.
uint32_t Win32FileSystem::MoveFile(const std::wstring& from, const std::wstring& to) {
    return ErrorUnless(::MoveFileExW(ForFileApi(from).c_str(), ForFileApi(to).c_str(), MOVEFILE_COPY_ALLOWED));
}

// OPEN_ALWAYS and CREATE_ALWAYS leave ERROR_ALREADY_EXISTS in the last
// error on success; an opened file is all the caller hears of it.
Result<std::unique_ptr<IFile>> Win32FileSystem::Open(const std::wstring& path, OpenMode mode) {
    const OpenRequest request = RequestFor(mode);
    FileHandle handle(::CreateFileW(ForFileApi(path).c_str(), request.access, request.share, nullptr,
                                    request.disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return LastErrorFailure();
    return std::make_unique<Win32File>(std::move(handle));
}

uint32_t Win32FileSystem::GetPrivateProfileInt(const std::wstring& section, const std::wstring& key,
                                               int32_t defaultValue, const std::wstring& path) {
    return ::GetPrivateProfileIntW(section.c_str(), key.c_str(), defaultValue, path.c_str());
}

uint32_t Win32FileSystem::WritePrivateProfileString(const std::wstring& section, const std::wstring& key,
                                                    const std::wstring& value, const std::wstring& path) {
    return ErrorUnless(::WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str()));
}

std::string Win32FileSystem::NativePath(const std::wstring& path) { return NarrowFromWide(CP_ACP, path); }

std::wstring Win32FileSystem::FullPathName(const std::wstring& path) {
    if (path.empty()) return std::wstring();
    return FullPathOf(path);
}

// NTFS compares names through its upper-case table; the invariant locale's
// upper-casing is the closest a program can ask for.
std::wstring Win32FileSystem::CaseFoldedPath(const std::wstring& path) {
    if (path.empty()) return path;
    std::wstring folded(path.size(), L'\0');
    const int written = ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.c_str(), static_cast<int>(path.size()),
                                       &folded[0], static_cast<int>(folded.size()));
    if (written <= 0) return path;
    folded.resize(static_cast<size_t>(written));
    return folded;
}

namespace {

// The final path of an entry that opens, without the "\\?\" that
// GetFinalPathNameByHandleW puts before it; empty when it does not open.
std::wstring FinalPathOfExisting(const std::wstring& path) {
    // No access asked for: attributes and the name need none, and a folder
    // opens only with backup semantics.
    UniqueHandle<FileHandleTraits> entry(::CreateFileW(ForFileApi(path).c_str(), 0,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!entry) return std::wstring();
    auto final = ReadIntoGrowingBuffer<std::wstring>(MAX_PATH, [&](wchar_t* buffer, size_t size) {
        const DWORD answer = ::GetFinalPathNameByHandleW(entry.Get(), buffer, static_cast<DWORD>(size),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (answer == 0) return BufferFill::Failed(::GetLastError());
        return answer < size ? BufferFill::Whole(answer) : BufferFill::NeedsSize(answer + 1);
    });
    if (!final) return std::wstring();
    std::wstring text = final.Take();
    if (text.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + text.substr(8);
    if (text.rfind(L"\\\\?\\", 0) == 0) return text.substr(4);
    return text;
}

}  // namespace

std::wstring Win32FileSystem::FinalPathName(const std::wstring& path) {
    std::wstring folder = FullPathOf(path);
    // A literal path keeps its prefix when it is opened, so that names the
    // plain form would trim stay as they are; the walk up works on the rest.
    std::wstring literal;
    if (folder.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        literal = L"\\\\?\\UNC";
        folder = L"\\" + folder.substr(7);
    } else if (folder.rfind(L"\\\\?\\", 0) == 0) {
        literal = L"\\\\?\\";
        folder = folder.substr(4);
    }
    if (folder.empty()) return folder;
    const bool unc = folder.rfind(L"\\\\", 0) == 0;
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    // What does not exist yet is kept as given below the nearest ancestor
    // that does.
    std::wstring tail;
    for (;;) {
        const std::wstring final = FinalPathOfExisting(literal + (unc && !literal.empty() ? folder.substr(1) : folder));
        if (!final.empty()) {
            if (tail.empty()) return final;
            return final + (final.back() == L'\\' ? L"" : L"\\") + tail;
        }
        const size_t cut = folder.rfind(L'\\');
        if (cut == std::wstring::npos) return std::wstring();
        // A drive root or a share's root has nothing above it to resolve.
        if (folder.size() <= 3 && folder.size() >= 2 && folder[1] == L':') return std::wstring();
        if (unc && std::count(folder.begin(), folder.end(), L'\\') <= 3) return std::wstring();
        tail = folder.substr(cut + 1) + (tail.empty() ? L"" : L"\\" + tail);
        folder.resize(cut);
        if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    }
}

}  // namespace platform::win32
