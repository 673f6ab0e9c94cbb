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
    // "." and ".." and the "\\?\" prefix. Drive-relative ("C:x") and
    // relative paths are refused because the seam never hands those out.
    static bool Parse(const std::wstring& text, WinPath& out);

    wchar_t Drive() const { return drive_; }
    const std::vector<std::wstring>& Components() const { return components_; }
    bool IsRoot() const { return components_.empty(); }

    // "C:\a\b", or "C:\" for the root.
    std::wstring ToString() const;
    // The lower-cased form that identifies the file regardless of spelling.
    std::wstring Key() const;
    WinPath Parent() const;

private:
    wchar_t drive_ = L'C';
    std::vector<std::wstring> components_;
};

}  // namespace sim
