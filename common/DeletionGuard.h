// The one gate every deletion of the library passes.
//
// Paths reach the library from places it does not control: install
// locations recorded in the registry, file names inside installer packages,
// folders a host passes in. Before anything is deleted the path is made
// absolute and canonical (".", "..", repeated and forward separators and
// Win32's trimming of names resolved), and then refused when deleting it
// could take more than the one product or data folder it was meant to:
//
//  - a drive root or a UNC share root;
//  - the Windows folder or anything below it;
//  - a known folder of the machine or the user (the Program Files and
//    Common Files pairs, ProgramData, the profile, AppData, Local AppData,
//    Music, Documents, Desktop) or any folder above one;
//  - for a product's install folder, a folder that is or holds another
//    installed product's install location;
//  - for a single file, a path whose names Win32 would rewrite ("..", names
//    of dots) or that names a stream (a colon after the drive).
//
// A refusal is logged with a WARN line and deletes nothing.
#pragma once

#include <string>
#include <vector>

class DeletionGuard {
public:
    // Reads the machine's protected folders once; cheap enough to make one
    // per deletion.
    DeletionGuard();

    // Whether `folder` may be deleted with everything in it. On true,
    // `canonical` is the form to delete; `keep` lists further folders (other
    // products' locations) that must survive the deletion.
    bool AllowsTree(const std::wstring& folder, std::wstring& canonical,
                    const std::vector<std::wstring>& keep = {}) const;

    // Whether the single file `path` may be deleted; on true `canonical` is
    // the form to delete.
    bool AllowsFile(const std::wstring& path, std::wstring& canonical) const;

    // A name taken from an installer package (a file name or a folder's
    // default directory) that is safe to join to a folder: not empty, no
    // separator or colon, not "." or "..", not dots only.
    static bool IsPlainName(const std::wstring& name);

private:
    struct Canonical {
        bool valid = false;
        std::wstring path;                // to hand to the file functions
        std::vector<std::wstring> parts;  // case-folded: the root first, then each name
    };

    Canonical Canonicalise(const std::wstring& path) const;
    // Why the folder may not go, or null when it may.
    const wchar_t* TreeRefusal(const Canonical& folder, const std::vector<Canonical>& keep) const;
    void AddProtected(const std::wstring& folder);

    std::vector<Canonical> windows_;  // the Windows folder and the system folders
    std::vector<Canonical> known_;    // the known folders: neither they nor their ancestors go
};
