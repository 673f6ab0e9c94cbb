#include "Brisalen/UserDataReach.h"

#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/FolderWalker.h"
#include "platform/Platform.h"

namespace {

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.rfind(prefix, 0) == 0; }

// Two folders in folder form where one holds the other.
bool Nested(const std::wstring& a, const std::wstring& b) { return StartsWith(a, b) || StartsWith(b, a); }

}  // namespace

UserDataReach::UserDataReach(platform::Platform& os, const std::vector<std::wstring>& roots,
                             const std::vector<std::wstring>& categoryFolders)
    : os_(&os) {
    platform::IFileSystem& files = os.Files();
    for (const std::wstring& root : roots) {
        const std::wstring target = files.FinalPathName(root);
        // A final path never runs through a link, so only where a root
        // resolves can a target meet it.
        roots_.push_back(Root{Form(root), Form(target.empty() ? root : target)});
    }
    for (const std::wstring& folder : categoryFolders) categories_.push_back(Form(folder));
}

std::wstring UserDataReach::Form(const std::wstring& path) {
    // A walk below a name of dots spells its paths in the literal form.
    const bool literal = StartsWith(path, L"\\\\?\\") && !StartsWith(path, L"\\\\?\\UNC\\");
    return CFolderWalker::FolderForm(literal ? path.substr(4) : path);
}

bool UserDataReach::Follows(const std::wstring& link) const {
    const std::wstring form = Form(link);
    bool towardRoot = false;
    for (const Root& root : roots_) towardRoot = towardRoot || StartsWith(root.form, form);
    bool towardCategory = false;
    for (const std::wstring& category : categories_) {
        towardCategory = towardCategory || (StartsWith(category, form) && category != form);
    }
    if (os_ == nullptr || (!towardRoot && !towardCategory)) return false;
    const std::wstring target = os_->Files().FinalPathName(link);
    if (target.empty() || Overlaps(Form(target), form)) return false;
    // Where it leads must be a place the deletion could take as a whole:
    // never the Windows folder, a drive root or a known folder.
    std::wstring canonical;
    return DeletionGuard(*os_).AllowsTree(target, canonical);
}

// A target inside or around a root that the link does not stand on the way
// to would be counted twice.
// A link back up its own tree leads around its root, so no walk loops.
bool UserDataReach::Overlaps(const std::wstring& target, const std::wstring& link) const {
    for (const Root& root : roots_) {
        if (StartsWith(root.form, link)) continue;  // reached through this very link
        if (Nested(target, root.target)) return true;
    }
    return false;
}

bool UserDataReach::Reaches(const std::wstring& path, bool includeLast, std::wstring& refusedLink) const {
    if (os_ == nullptr) {
        refusedLink = path;
        return false;
    }
    for (const std::wstring& link : LinksOnPath(os_->Files(), path, includeLast)) {
        if (!Follows(link)) {
            refusedLink = link;
            return false;
        }
    }
    return true;
}
