// The one gate every deletion of the library passes.
//
// Paths reach the library from places it does not control: install
// locations recorded in the registry, file names inside installer packages,
// folders a host passes in. The guard judges the folder Windows will act
// on, not its spelling: the path is made absolute and canonical (".", "..",
// repeated and forward separators and Win32's trimming of names resolved,
// "\\.\" and local administrative shares such as "\\localhost\C$" read as
// the drive), then every link in every ancestor is followed to its target
// (GetFinalPathNameByHandleW), and names are compared with the file
// system's own case folding. It then refuses, with a WARN line, a folder
// whose deletion could take more than the one product or data folder it was
// meant to:
//
//  - a drive root or a UNC share root;
//  - the Windows folder or anything below it;
//  - a known folder of the machine or of any profile on it (Program Files
//    and Common Files of both bitnesses, ProgramData, the profiles folder,
//    each profile with its Documents, Music, Pictures, Videos, Downloads,
//    Desktop, AppData and the other folders Windows makes there, the cloud
//    folders synced into it, the public profile) or any folder above one;
//  - a folder that is or holds an installed product's install location,
//    whatever spelling the registry gives it (quoted, blank-padded, with
//    environment variables, without its drive), unless that product is the
//    one leaving;
//  - for a product's folder, anything not strictly below Program Files,
//    Program Files (x86), one of the Common Files folders or ProgramData,
//    and anything inside another installed product's own folder;
//  - for a single file, a path whose names Win32 would rewrite ("..", names
//    of dots) or that names a stream (a colon after the drive).
//
// A folder that is itself a link is judged where it stands: deleting it
// removes only the link, never what it leads to. A refusal deletes nothing.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

class DeletionGuard {
public:
    // Reads the machine's protected folders. `leavingProducts` are the
    // product codes being uninstalled: their own locations are theirs to
    // lose. The installed products' locations are read on the first folder
    // judged, so a guard that only judges files costs no enumeration.
    explicit DeletionGuard(platform::Platform& os, std::vector<std::wstring> leavingProducts = {});

    // Whether `folder` may be deleted with everything in it. On true,
    // `canonical` is the form to delete; `keep` lists further folders
    // (other products' files) that must survive the deletion.
    bool AllowsTree(const std::wstring& folder, std::wstring& canonical,
                    const std::vector<std::wstring>& keep = {}) const;

    // The same for a product's own folder, which must also lie strictly
    // below one of the folders programs are installed into.
    bool AllowsProductTree(const std::wstring& folder, std::wstring& canonical,
                           const std::vector<std::wstring>& keep = {}) const;

    // AllowsProductTree without the refusal's log line: for a folder the
    // caller only asks about (what a deletion would take), not deletes.
    bool WouldAllowProductTree(const std::wstring& folder) const;
    // Whether the single file `path` may be deleted; on true `canonical` is
    // the form to delete.
    bool AllowsFile(const std::wstring& path, std::wstring& canonical) const;

    // A name taken from an installer package (a file name or a folder's
    // default directory) that is safe to join to a folder: not empty, no
    // separator or colon, not "." or "..", not dots only.
    static bool IsPlainName(const std::wstring& name);

    // Every form a location recorded by an installer may stand for
    // (quotes and blanks dropped, environment variables expanded, a path
    // without its drive taken on every drive), each as the folded names of
    // the folder Windows would reach, the root first. Empty for a location
    // that names no folder.
    std::vector<std::vector<std::wstring>> LocationForms(const std::wstring& location) const;

private:
    using Parts = std::vector<std::wstring>;  // case-folded: the root first, then each name

    struct Judged {
        bool valid = false;
        std::wstring path;  // to hand to the file functions
        Parts where;        // its folder resolved through links, its own name as it stands
        Parts leadsTo;      // where the entry itself leads: `where` unless it is a link
    };

    Judged Judge(const std::wstring& path) const;
    const wchar_t* TreeRefusal(const Judged& folder, const std::vector<Parts>& keep) const;
    bool Allows(const std::wstring& folder, std::wstring& canonical, const std::vector<std::wstring>& keep,
                bool productFolder, bool report = true) const;
    void Protect(std::vector<Parts>& set, const std::wstring& folder);
    void ProtectProfiles(const std::wstring& profilesFolder);
    void ReadProductLocations() const;
    bool InsideAnotherProduct(const Parts& folder) const;

    platform::Platform& os_;
    std::vector<std::wstring> leaving_;
    std::vector<Parts> windows_;        // the Windows folder and the system folders: nothing below goes
    std::vector<Parts> known_;          // known folders: neither they nor their ancestors go
    std::vector<Parts> programRoots_;   // a product's folder lies strictly below one of these
    mutable bool productsRead_ = false;
    mutable std::vector<Parts> products_;  // installed products' locations

    // Files of one folder are judged one after another; the folder's
    // resolution is kept for the next.
    mutable std::wstring lastFolder_;
    mutable Parts lastFolderParts_;
};
