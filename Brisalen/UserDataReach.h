// Which junctions and symbolic links the user-data scan walks through, and
// so which links a deletion may act through: the two must agree, or the
// deletion removes what the scan never counted (or leaves what it did).
//
// A link is followed when it stands on the way to a scan root (the root
// itself included: iTunes' folder moved to another drive), or strictly on
// the way to a registered category folder below a root (the media folder
// moved), and when the deletion guard would let its target go as a tree. Its target must not lie inside, or hold, another root or
// the tree it came from, so nothing is counted twice and no walk loops.
// A category folder that is itself a link is not followed: the scan counts
// nothing behind it and the deletion removes the link alone. Links below a
// category folder are never followed either; what they lead to is not the
// category's.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

class UserDataReach {
public:
    // A placeholder to assign a real one to: it reaches nothing.
    UserDataReach() = default;
    // `roots` the scan's start folders, `categoryFolders` the registered
    // folders of every category, in any spelling; links are resolved and
    // judged on `os`.
    UserDataReach(platform::Platform& os, const std::vector<std::wstring>& roots,
                  const std::vector<std::wstring>& categoryFolders);

    // Whether the walk may go through the link at `link` (as the walk
    // reached it, in any case, with or without a trailing backslash).
    bool Follows(const std::wstring& link) const;

    // Whether every link on the way from the drive down to `path` (the path
    // itself included when `includeLast`) is one the scan follows; the first
    // that is not, in `refusedLink`.
    bool Reaches(const std::wstring& path, bool includeLast, std::wstring& refusedLink) const;

private:
    static std::wstring Form(const std::wstring& path);
    bool Overlaps(const std::wstring& target, const std::wstring& link) const;

    struct Root {
        std::wstring form;    // folder form
        std::wstring target;  // folder form of where it resolves (as spelled when it does not)
    };
    platform::Platform* os_ = nullptr;
    std::vector<Root> roots_;
    std::vector<std::wstring> categories_;  // folder form
};
