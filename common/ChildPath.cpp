#include "common/ChildPath.h"

#include "platform/Platform.h"

namespace {

constexpr wchar_t kLiteralPrefix[] = L"\\\\?\\";

bool IsLiteral(const std::wstring& path) { return path.rfind(kLiteralPrefix, 0) == 0; }

}  // namespace

bool NeedsLiteralPath(const std::wstring& name) {
    return !name.empty() && (name.back() == L'.' || name.back() == L' ');
}

std::wstring ChildPath(platform::IFileSystem& files, const std::wstring& folder, const std::wstring& name) {
    const bool separated = !folder.empty() && folder.back() == L'\\';
    if (!NeedsLiteralPath(name) || IsLiteral(folder)) return separated ? folder + name : folder + L"\\" + name;
    if (folder.size() < 2 || folder[1] != L':') return std::wstring();
    // The literal form takes no "." or ".." and no doubled separators, so
    // the folder is made canonical first; for the folders walks hold that
    // changes nothing.
    std::wstring canonical = files.FullPathName(folder);
    if (canonical.empty()) return std::wstring();
    if (canonical.back() != L'\\') canonical.push_back(L'\\');
    return kLiteralPrefix + canonical + name;
}
