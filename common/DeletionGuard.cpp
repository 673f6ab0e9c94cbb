#include "common/DeletionGuard.h"

#include <algorithm>

#include "logging/Log.h"
#include "platform/KnownFolders.h"
#include "platform/Platform.h"

namespace {

constexpr wchar_t kLiteralPrefix[] = L"\\\\?\\";

bool IsDotsOnly(const std::wstring& name) {
    return !name.empty() && name.find_first_not_of(L'.') == std::wstring::npos;
}

// A name the plain Win32 form would rewrite: dots only, or trailing dots or
// blanks. No folder made through that form carries one.
bool ChangedByWin32(const std::wstring& name) {
    return IsDotsOnly(name) || (!name.empty() && (name.back() == L'.' || name.back() == L' '));
}

std::vector<std::wstring> SplitAt(const std::wstring& text, size_t from) {
    std::vector<std::wstring> names;
    size_t pos = from;
    while (pos <= text.size()) {
        const size_t end = std::min(text.find(L'\\', pos), text.size());
        if (end > pos) names.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return names;
}

bool IsDriveForm(const std::wstring& text) {
    return text.size() >= 2 && text[1] == L':' && ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z')) &&
           (text.size() == 2 || text[2] == L'\\');
}

bool StartsWith(const std::vector<std::wstring>& parts, const std::vector<std::wstring>& prefix) {
    return prefix.size() <= parts.size() && std::equal(prefix.begin(), prefix.end(), parts.begin());
}

void Refuse(const std::wstring& path, const wchar_t* why) {
    LOG_INFO_W(L"WARN:delete refused: [%s] %s!\n", path, why);
}

}  // namespace

DeletionGuard::DeletionGuard() {
    platform::IMachineInfo& machine = platform::Os().Machine();
    for (int id : {platform::csidl::kWindows, platform::csidl::kSystem, platform::csidl::kSystemX86}) {
        const Canonical folder = Canonicalise(machine.SpecialFolder(id));
        if (folder.valid) windows_.push_back(folder);
    }
    for (int id : {platform::csidl::kProgramFiles, platform::csidl::kProgramFilesX86,
                   platform::csidl::kProgramFilesCommon, platform::csidl::kProgramFilesCommonX86,
                   platform::csidl::kCommonAppData, platform::csidl::kProfile, platform::csidl::kAppData,
                   platform::csidl::kLocalAppData, platform::csidl::kMyMusic, platform::csidl::kPersonal,
                   platform::csidl::kDesktopDirectory}) {
        AddProtected(machine.SpecialFolder(id));
    }
    // A 32-bit program is told the x86 Program Files for both CSIDLs; the
    // native pair beside it is just as protected.
    for (int id : {platform::csidl::kProgramFiles, platform::csidl::kProgramFilesX86}) {
        const std::wstring folder = machine.SpecialFolder(id);
        const size_t cut = folder.rfind(L'\\');
        if (cut == std::wstring::npos) continue;
        const std::wstring parent = folder.substr(0, cut);
        for (const wchar_t* name : {L"\\Program Files", L"\\Program Files (x86)"}) {
            AddProtected(parent + name);
            AddProtected(parent + name + L"\\Common Files");
        }
    }
}

void DeletionGuard::AddProtected(const std::wstring& folder) {
    const Canonical canonical = Canonicalise(folder);
    if (canonical.valid) known_.push_back(canonical);
}

bool DeletionGuard::IsPlainName(const std::wstring& name) {
    return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos && !IsDotsOnly(name);
}

DeletionGuard::Canonical DeletionGuard::Canonicalise(const std::wstring& path) const {
    Canonical result;
    if (path.empty()) return result;
    std::wstring text = path;
    std::replace(text.begin(), text.end(), L'/', L'\\');
    platform::IFileSystem& files = platform::Os().Files();

    std::wstring root;
    std::vector<std::wstring> names;
    if (text.rfind(kLiteralPrefix, 0) == 0) {
        // Names after "\\?\" reach the file system as written: nothing to
        // resolve, and "." or ".." there can only be an attempt to climb.
        const std::wstring rest = text.substr(4);
        if (!IsDriveForm(rest)) return result;
        root = rest.substr(0, 2);
        names = SplitAt(rest, 2);
        for (const std::wstring& name : names) {
            if (name == L"." || name == L"..") return result;
        }
        result.path = kLiteralPrefix + root + L"\\";
    } else {
        // Only absolute paths: a relative one would be taken against the
        // process's current folder, which says nothing of what was meant.
        const bool unc = text.rfind(L"\\\\", 0) == 0;
        if (!unc && !(IsDriveForm(text) && text.size() >= 3)) return result;
        const std::wstring full = files.FullPathName(text);
        if (IsDriveForm(full)) {
            root = full.substr(0, 2);
            names = SplitAt(full, 2);
        } else if (full.rfind(L"\\\\", 0) == 0 && full.rfind(kLiteralPrefix, 0) != 0) {
            const std::vector<std::wstring> unc = SplitAt(full, 2);
            if (unc.size() < 2) return result;
            root = L"\\\\" + unc[0] + L"\\" + unc[1];
            names.assign(unc.begin() + 2, unc.end());
        } else {
            return result;
        }
        for (const std::wstring& name : names) {
            if (ChangedByWin32(name)) return result;
        }
        result.path = root + L"\\";
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) result.path += L'\\';
        result.path += names[i];
    }
    result.parts.push_back(files.CaseFoldedPath(root));
    for (const std::wstring& name : names) result.parts.push_back(files.CaseFoldedPath(name));
    result.valid = true;
    return result;
}

const wchar_t* DeletionGuard::TreeRefusal(const Canonical& folder, const std::vector<Canonical>& keep) const {
    if (folder.parts.size() == 1) return L"is a drive root";
    for (const Canonical& windows : windows_) {
        if (StartsWith(folder.parts, windows.parts)) return L"is in the Windows folder";
    }
    for (const Canonical& known : known_) {
        if (StartsWith(known.parts, folder.parts)) return L"is or holds a known folder";
    }
    for (const Canonical& kept : keep) {
        if (StartsWith(kept.parts, folder.parts)) return L"is or holds another product's install folder";
    }
    return nullptr;
}

bool DeletionGuard::AllowsTree(const std::wstring& folder, std::wstring& canonical,
                               const std::vector<std::wstring>& keep) const {
    const Canonical target = Canonicalise(folder);
    if (!target.valid) {
        Refuse(folder, L"is no plain absolute path");
        return false;
    }
    std::vector<Canonical> kept;
    for (const std::wstring& location : keep) {
        const Canonical other = Canonicalise(location);
        if (other.valid) kept.push_back(other);
    }
    if (const wchar_t* why = TreeRefusal(target, kept)) {
        Refuse(folder, why);
        return false;
    }
    canonical = target.path;
    return true;
}

bool DeletionGuard::AllowsFile(const std::wstring& path, std::wstring& canonical) const {
    std::wstring text = path;
    std::replace(text.begin(), text.end(), L'/', L'\\');
    const size_t start = text.rfind(kLiteralPrefix, 0) == 0 ? 4 : 0;
    if (text.find(L':', start + 2) != std::wstring::npos) {
        Refuse(path, L"names a stream or is no plain path");
        return false;
    }
    for (const std::wstring& name : SplitAt(text, start)) {
        if (IsDotsOnly(name)) {
            Refuse(path, L"climbs out of its folder");
            return false;
        }
    }
    const Canonical target = Canonicalise(path);
    if (!target.valid || target.parts.size() == 1) {
        Refuse(path, L"is no plain absolute path");
        return false;
    }
    for (const Canonical& windows : windows_) {
        if (StartsWith(target.parts, windows.parts)) {
            Refuse(path, L"is in the Windows folder");
            return false;
        }
    }
    for (const Canonical& known : known_) {
        if (known.parts == target.parts) {
            Refuse(path, L"is a known folder");
            return false;
        }
    }
    canonical = target.path;
    return true;
}
