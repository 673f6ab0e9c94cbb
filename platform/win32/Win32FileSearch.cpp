#include "platform/win32/Win32FileSearch.h"

#include <utility>

#include "platform/win32/LongPath.h"
#include "platform/win32/WinError.h"

namespace platform::win32 {

namespace {

uint64_t Ticks(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FindData ToFindData(const WIN32_FIND_DATAW& found) {
    FindData entry;
    entry.name = found.cFileName;
    entry.attributes = found.dwFileAttributes;
    entry.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    entry.creationTime = Ticks(found.ftCreationTime);
    entry.lastWriteTime = Ticks(found.ftLastWriteTime);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) entry.reparseTag = found.dwReserved0;
    return entry;
}

// The basic information level (no 8.3 names) and large fetches make wide
// folder walks cheaper, but Windows before 7 rejects both with
// ERROR_INVALID_PARAMETER; there the classic search is used.
HANDLE FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW& found) {
    HANDLE handle = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                       FIND_FIRST_EX_LARGE_FETCH);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        handle = ::FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &found, FindExSearchNameMatch, nullptr, 0);
    }
    return handle;
}

}  // namespace

Result<std::unique_ptr<IFileSearch>> Win32FileSearch::Start(const std::wstring& pattern, FindData& first) {
    WIN32_FIND_DATAW found{};
    FindHandle handle(FindFirst(ForFileApi(pattern), found));
    if (!handle) return LastErrorFailure();
    first = ToFindData(found);
    return std::make_unique<Win32FileSearch>(std::move(handle));
}

Win32FileSearch::Win32FileSearch(FindHandle handle) : handle_(std::move(handle)) {}

bool Win32FileSearch::Next(FindData& entry) {
    WIN32_FIND_DATAW found{};
    if (!::FindNextFileW(handle_.Get(), &found)) return false;
    entry = ToFindData(found);
    return true;
}

}  // namespace platform::win32
