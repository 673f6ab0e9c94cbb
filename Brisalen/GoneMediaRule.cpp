#include "Brisalen/GoneMediaRule.h"

#include <algorithm>
#include <cwctype>

#include "common/PathHelpers.h"
#include "platform/Platform.h"

namespace {

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDrivePath(const std::wstring& path) {
    return path.size() >= 3 && std::iswalpha(path[0]) && path[0] < 0x80 && path[1] == L':' && IsSlash(path[2]);
}

// "\\server\share\..." with a server name; "\\?\" and "\\.\" device forms
// are not shares.
bool IsSharePath(const std::wstring& path) {
    return path.size() > 2 && IsSlash(path[0]) && IsSlash(path[1]) && !IsSlash(path[2]) && path[2] != L'?' &&
           path[2] != L'.';
}

// "C:\" or "\\server\share\" of a canonical path; empty when it has none.
std::wstring RootOf(const std::wstring& canonical) {
    if (IsDrivePath(canonical)) return canonical.substr(0, 3);
    if (!IsSharePath(canonical)) return std::wstring();
    const size_t server = canonical.find(L'\\', 2);
    if (server == std::wstring::npos || server + 1 >= canonical.size()) return std::wstring();
    const size_t share = canonical.find(L'\\', server + 1);
    if (share == server + 1) return std::wstring();
    return share == std::wstring::npos ? canonical + L'\\' : canonical.substr(0, share + 1);
}

}  // namespace

CGoneMediaRule::CGoneMediaRule(platform::Platform& os, const std::set<std::wstring>& removedFolders) : os_(os) {
    for (const std::wstring& folder : removedFolders) {
        std::wstring canonical = Canonical(folder);
        if (canonical.empty()) continue;
        if (canonical.back() != L'\\') canonical.push_back(L'\\');
        // A drive or share root is never a folder the deletion removed.
        if (canonical == RootOf(canonical)) continue;
        removed_.push_back(std::move(canonical));
    }
}

std::wstring CGoneMediaRule::Canonical(const std::wstring& path) const {
    if (!IsDrivePath(path) && !IsSharePath(path)) return std::wstring();
    std::wstring normal = path;
    std::replace(normal.begin(), normal.end(), L'/', L'\\');
    platform::IFileSystem& files = os_.Files();
    const std::wstring full = files.FullPathName(normal);
    // A path that FullPathName turns into another kind is not judged.
    if (full.empty() || (IsDrivePath(normal) != IsDrivePath(full))) return std::wstring();
    return files.CaseFoldedPath(full);
}

bool CGoneMediaRule::IsGone(const std::wstring& path) {
    if (FileExists(os_.Files(), path)) return false;
    const std::wstring canonical = Canonical(path);
    if (canonical.empty() || RootOf(canonical).empty()) return false;
    return OnPresentFixedDrive(canonical) || (BelowRemovedFolder(canonical) && RootReachable(canonical));
}

bool CGoneMediaRule::OnPresentFixedDrive(const std::wstring& canonical) {
    if (!IsDrivePath(canonical)) return false;
    const wchar_t letter = static_cast<wchar_t>(std::towupper(canonical[0]));
    const auto known = fixedDrives_.find(letter);
    if (known != fixedDrives_.end()) return known->second;
    const std::wstring root = std::wstring(1, letter) + L":\\";
    const bool fixed = os_.Machine().GetDriveType(root) == platform::DriveType::Fixed && RootReachable(root);
    fixedDrives_[letter] = fixed;
    return fixed;
}

bool CGoneMediaRule::BelowRemovedFolder(const std::wstring& canonical) const {
    return std::any_of(removed_.begin(), removed_.end(),
                       [&](const std::wstring& folder) { return canonical.compare(0, folder.size(), folder) == 0; });
}

bool CGoneMediaRule::RootReachable(const std::wstring& canonical) const {
    const std::wstring root = RootOf(canonical);
    if (root.empty()) return false;
    const uint32_t attributes = os_.Files().GetAttributes(root);
    return attributes != platform::kInvalidFileAttributes && (attributes & platform::kAttrDirectory) != 0;
}
