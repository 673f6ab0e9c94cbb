#include "platform/win32/LongPath.h"

#include <algorithm>

#include "platform/win32/GrowingBuffer.h"
#include "platform/win32/WinApi.h"

namespace platform::win32 {

namespace {

constexpr size_t kPlainPathLimit = MAX_PATH - 12;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsDriveAbsolute(const std::wstring& path) {
    return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2]);
}

bool IsUnc(const std::wstring& path) { return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]); }

// \\?\ and \\.\ paths already bypass the plain-path parser.
bool IsAlreadyRaw(const std::wstring& path) {
    return path.size() >= 4 && path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') &&
           path[3] == L'\\';
}

// The extended form switches off the folding of "." and ".." and of
// doubled separators that Windows applies to plain paths, so it is done
// here first.
std::wstring Folded(const std::wstring& path) {
    const std::wstring full = FullPathOf(path);
    return full.empty() ? path : full;
}

}  // namespace

std::wstring FullPathOf(const std::wstring& path) {
    // GetFullPathNameW is pure string work and has no MAX_PATH cap; it
    // answers the size it needs, terminator included, when the buffer is too
    // small, and the length without the terminator when it fits.
    auto full = ReadIntoGrowingBuffer<std::wstring>(path.size() + 1, [&](wchar_t* buffer, size_t size) {
        const DWORD answer = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(size), buffer, nullptr);
        if (answer == 0) return BufferFill::Failed(::GetLastError());
        return answer < size ? BufferFill::Whole(answer) : BufferFill::NeedsSize(answer);
    });
    return full ? full.Take() : std::wstring();
}

std::wstring ForFileApi(const std::wstring& path) {
    if (path.size() <= kPlainPathLimit) return path;
    std::wstring normal = path;
    std::replace(normal.begin(), normal.end(), L'/', L'\\');
    if (IsAlreadyRaw(normal)) return normal;
    // A relative path is left to Windows: its meaning depends on the
    // process's current folder, which only the file function should read.
    if (!IsDriveAbsolute(normal) && !IsUnc(normal)) return path;
    normal = Folded(normal);
    if (IsUnc(normal)) return L"\\\\?\\UNC\\" + normal.substr(2);
    return L"\\\\?\\" + normal;
}

}  // namespace platform::win32
