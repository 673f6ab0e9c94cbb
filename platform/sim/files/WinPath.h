// An absolute Windows path taken apart the way Win32 normalises one before
// it reaches the file system, so that every spelling of a path the library
// may produce lands on the same file of the simulated machine.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/Api.h"

namespace sim {

class SIM_API WinPath {
public:
    // Accepts "X:\a\b", forward slashes, repeated and trailing separators,
    // "." and "..", and trims trailing dots and blanks from names, as Win32
    // does. After the "\\?\" prefix names are taken literally, as the file
    // system gets them: "..." stays "...", and "." or ".." make the path
    // invalid. Drive-relative ("C:x") and relative paths are refused; the
    // file system resolves those against the current drive first.
    static bool Parse(const std::wstring& text, WinPath& out);

    // True for a name the plain Win32 form would change: dots only, or
    // trailing dots or blanks. Such a name is reachable only literally.
    static bool ChangedByWin32(const std::wstring& name);

    wchar_t Drive() const { return drive_; }
    const std::vector<std::wstring>& Components() const { return components_; }
    bool IsRoot() const { return components_.empty(); }

    // "C:\a\b", or "C:\" for the root; the "\\?\" form when a name would
    // not survive the plain one.
    std::wstring ToString() const;
    // The case-folded form (sim::Fold) that identifies the file regardless
    // of spelling.
    std::wstring Key() const;
    WinPath Parent() const;
    // The entry `name` of this folder, the name taken literally.
    WinPath Child(const std::wstring& name) const;

private:
    wchar_t drive_ = L'C';
    std::vector<std::wstring> components_;
};

}  // namespace sim
