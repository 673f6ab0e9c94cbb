#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

#include "FileStore.h"
#include "base/WindowsHandles.h"

namespace itl {

namespace {

std::wstring ForApi(std::wstring path);

// A file this process created; removed unless kept.
class OwnTemporary {
public:
    explicit OwnTemporary(std::wstring path) : path_(std::move(path)) {}
    ~OwnTemporary() {
        if (!kept_) {
            ::SetFileAttributesW(ForApi(path_).c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(ForApi(path_).c_str());
        }
    }
    OwnTemporary(const OwnTemporary&) = delete;
    OwnTemporary& operator=(const OwnTemporary&) = delete;
    const std::wstring& path() const { return path_; }
    void Keep() { kept_ = true; }

private:
    std::wstring path_;
    bool kept_ = false;
};

// Long absolute drive paths take the \\?\ form, which the file functions
// accept past MAX_PATH; it needs backslashes only.
std::wstring ForApi(std::wstring path) {
    const bool drivePath = path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    if (!drivePath || path.size() < MAX_PATH - 12) return path;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    if (path.find(L"\\.") != std::wstring::npos) return path;  // dot components need the normal form
    return L"\\\\?\\" + path;
}

std::wstring TemporaryName(const std::wstring& target) {
    static std::atomic<unsigned> counter{0};
    return target + L".tmp." + std::to_wstring(::GetCurrentProcessId()) + L"." +
           std::to_wstring(counter.fetch_add(1));
}

bool CreateFlushed(const std::wstring& path, const std::string& bytes, bool& created) {
    base::FileHandle file(
        ::CreateFileW(ForApi(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    created = file.Valid();
    if (!created) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return ::FlushFileBuffers(file.Get()) && base::CloseReporting(file);
}

bool Move(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileExW(ForApi(from).c_str(), ForApi(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace

NativePath ToNativePath(const std::wstring& path) { return path; }

NativePath BackupName(const NativePath& target, unsigned number) {
    return number == 0 ? target + L".bak" : target + L"." + std::to_wstring(number) + L".bak";
}

ReadOutcome ReadWholeFile(const NativePath& path, std::string& bytes) {
    // The player may hold its library open; reading beside it is harmless.
    base::FileHandle file(::CreateFileW(ForApi(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadOutcome::Missing
                                                                               : ReadOutcome::Failed;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) || static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX / 2)
        return ReadOutcome::Failed;
    std::string content(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < content.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
        DWORD read = 0;
        if (!::ReadFile(file.Get(), &content[done], chunk, &read, nullptr)) return ReadOutcome::Failed;
        if (read == 0) break;
        done += read;
    }
    content.resize(done);
    bytes = std::move(content);
    return ReadOutcome::Ok;
}

bool PathExists(const NativePath& path) {
    return ::GetFileAttributesW(ForApi(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

WriteOutcome ReplaceFileContents(const NativePath& target, const std::string& bytes) {
    if (target.empty() || target.back() == L'\\' || target.back() == L'/') return WriteOutcome::Failed;
    const DWORD attributes = ::GetFileAttributesW(ForApi(target).c_str());
    const bool hadTarget = attributes != INVALID_FILE_ATTRIBUTES;
    if (hadTarget && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return WriteOutcome::Failed;
    if (hadTarget && (attributes & FILE_ATTRIBUTE_READONLY)) return WriteOutcome::ReadOnly;
    if (hadTarget) {
        // The rename at the end needs delete access to the old file, which a
        // player holding it open without sharing delete access denies; asked
        // for now, before anything is made. OPEN_EXISTING never creates.
        base::FileHandle probe(::CreateFileW(ForApi(target).c_str(), GENERIC_WRITE | DELETE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe.Valid()) {
            const DWORD error = ::GetLastError();
            return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? WriteOutcome::InUse
                                                                                     : WriteOutcome::Failed;
        }
    }

    OwnTemporary temporary(TemporaryName(target));
    bool created = false;
    const bool written = CreateFlushed(temporary.path(), bytes, created);
    if (!created) temporary.Keep();  // someone else's file: never ours to remove
    if (!written) return WriteOutcome::Failed;

    if (hadTarget) {
        OwnTemporary backup(TemporaryName(target + L".bak"));
        // CopyFileW fails rather than overwrite: the name must be new.
        if (!::CopyFileW(ForApi(target).c_str(), ForApi(backup.path()).c_str(), TRUE)) {
            backup.Keep();
            return WriteOutcome::Failed;
        }
        ::SetFileAttributesW(ForApi(backup.path()).c_str(), FILE_ATTRIBUTE_NORMAL);
        // Without MOVEFILE_REPLACE_EXISTING the move fails on a taken name,
        // so no backup is ever replaced.
        bool placed = false;
        for (unsigned number = 0; number < kMaxBackups && !placed; ++number) {
            if (::MoveFileExW(ForApi(backup.path()).c_str(), ForApi(BackupName(target, number)).c_str(),
                              MOVEFILE_WRITE_THROUGH)) {
                placed = true;
            } else {
                const DWORD error = ::GetLastError();
                if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return WriteOutcome::Failed;
            }
        }
        if (!placed) return WriteOutcome::Failed;
        backup.Keep();
    }
    if (!Move(temporary.path(), target)) return WriteOutcome::Failed;
    temporary.Keep();
    return WriteOutcome::Ok;
}

}  // namespace itl
