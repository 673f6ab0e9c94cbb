// Which library entries name a file that is gone for good, as opposed to
// one that merely cannot be seen now. A track on a drive that is not
// plugged in, a removable or optical disc, or a network share that does not
// answer looks exactly like a deleted one; taking such entries out of the
// library would throw away the user's tracks. So an entry counts as gone
// only when its file is missing and either
//   - it lies on a local fixed drive that is there (the drive letter is
//     known, the drive is fixed and its root can be reached), or
//   - it lies below a folder this deletion removed, on a drive or share
//     whose root can be reached now (what the deletion itself took away,
//     wherever that was).
// Everything else, relative or malformed paths included, stays. Judging
// never changes a file.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

class CGoneMediaRule {
public:
    // `removedFolders`: the folders the deletion worked on, as it named them.
    CGoneMediaRule(platform::Platform& os, const std::set<std::wstring>& removedFolders);

    // `path`: the entry's local path as the library gives it (a drive path
    // or a "//server/share" path, with either kind of slash).
    bool IsGone(const std::wstring& path);

private:
    // The canonical, case-folded form with backslashes; empty for a path
    // that is neither a drive path nor a share path.
    std::wstring Canonical(const std::wstring& path) const;
    bool OnPresentFixedDrive(const std::wstring& canonical);
    bool BelowRemovedFolder(const std::wstring& canonical) const;
    bool RootReachable(const std::wstring& canonical) const;

    platform::Platform& os_;

    std::vector<std::wstring> removed_;   // canonical, each ending in '\'
    std::map<wchar_t, bool> fixedDrives_;  // drive letter -> present, fixed, reachable
};
